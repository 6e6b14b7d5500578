// The card library on card images, checked afterwards by the PC's own FAT
// tools (fsck.fat, mdir, mtype), as a scientist would read the buoy's card.
#include <gtest/gtest.h>

#include "plataforma/tests/salida_orden.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "plataforma/host/placa_host.h"
#include "plataforma/host/tarjeta_host.h"
#include "plataforma/sd/SdFat.h"
#include "plataforma/tests/banco_pruebas.h"

// tarjeta_sd_ayuda.cpp (apart: the host's <fcntl.h> must not meet the card library).
void copiar_volumen(const std::string &origen, const std::string &destino, uint64_t desde);

namespace {

struct Tarjeta : ::testing::Test {
    BancoPruebas banco;
    placa::TarjetaHost tarjeta{&banco.placa};
    SdFat sd;
    std::string imagen;
    uint64_t desplazamiento = 0;  // bytes before the volume (partition 1)

    std::vector<std::string> imagenes;  // removed when the test ends

    void TearDown() override
    {
        placa::instalar_tarjeta(nullptr);
        for (const std::string &i : imagenes) std::remove(i.c_str());
    }
    std::string imagen_nueva(const std::string &nombre)
    {
        imagenes.push_back(imagen_de_prueba(nombre));
        return imagenes.back();
    }

    void nueva(const std::string &nombre, uint32_t mb)
    {
        imagen = imagen_nueva(nombre);
        ASSERT_TRUE(tarjeta.crear_formateada(imagen, mb));
        placa::instalar_tarjeta(&tarjeta);
        uint8_t mbr[512];
        ASSERT_TRUE(tarjeta.leer(0, mbr));
        desplazamiento = 512ULL * (mbr[454] | mbr[455] << 8 | mbr[456] << 16 | (uint32_t)mbr[457] << 24);
    }
    // A volume made by mkfs.fat over the whole card, without partition table.
    void de_mkfs(const std::string &nombre, uint32_t mb, const std::string &opciones)
    {
        imagen = imagen_nueva(nombre);
        int r;
        std::string s = salida_de("mkfs.fat -C -i 12345678 " + opciones + " " + imagen + " " +
                                  std::to_string(mb * 1024), &r);
        ASSERT_EQ(r, 0) << s;
        ASSERT_TRUE(tarjeta.abrir(imagen));
        placa::instalar_tarjeta(&tarjeta);
        desplazamiento = 0;
    }
    std::string mtools(const std::string &orden, const std::string &ruta, int *r = nullptr)
    {
        std::string img = desplazamiento ? imagen + "@@" + std::to_string(desplazamiento) : imagen;
        return salida_de("MTOOLS_SKIP_CHECK=1 MTOOLS_NO_VFAT=0 " + orden + " -i '" + img + "' '::" + ruta + "'", r);
    }
    std::string mtype(const std::string &ruta) { return mtools("mtype", ruta); }
    // fsck.fat -n on the volume: true when it finds nothing to repair.
    bool limpia(std::string *informe = nullptr)
    {
        std::string vol = imagen;
        if (desplazamiento) {
            vol = imagen + ".vol";
            copiar_volumen(imagen, vol, desplazamiento);
        }
        int r;
        std::string s = salida_de("fsck.fat -n -v '" + vol + "'", &r);
        if (informe) *informe = s;
        if (vol != imagen) std::remove(vol.c_str());
        return r == 0 && s.find("differ") == std::string::npos && s.find("Free cluster summary wrong") == std::string::npos;
    }
    void escribir(const char *ruta, const std::string &texto, uint16_t flags = O_WRONLY | O_CREAT | O_APPEND)
    {
        File f = sd.open(ruta, flags);
        ASSERT_TRUE(f.isOpen()) << ruta;
        ASSERT_EQ(f.write(texto.data(), texto.size()), texto.size());
        ASSERT_TRUE(f.close());
    }
};

std::string patron(size_t n, int semilla)
{
    std::string s;
    for (size_t i = 0; i < n; i++) s.push_back((char)('a' + (i * 7 + (size_t)semilla + i / 26) % 26));
    return s;
}

}  // namespace

TEST_F(Tarjeta, NewCardsComeFormattedAsTheirSizeAsks)
{
    nueva("nueva64.img", 64);
    ASSERT_TRUE(sd.begin(SD_CHIP_SELECT_PIN, SD_SCK_MHZ(12)));
    EXPECT_EQ(sd.fatType(), 16);
    EXPECT_EQ(sd.card()->type(), SD_CARD_TYPE_SD2);
    EXPECT_EQ(sd.blocksPerCluster(), 8);
    EXPECT_TRUE(limpia());
    placa::instalar_tarjeta(nullptr);
    tarjeta.cerrar();

    placa::TarjetaHost grande(&banco.placa);
    imagen = imagen_nueva("nueva4g.img");
    ASSERT_TRUE(grande.crear_formateada(imagen, 4096));
    placa::instalar_tarjeta(&grande);
    desplazamiento = 8192ULL * 512;
    SdFat sd4;
    ASSERT_TRUE(sd4.begin(SD_CHIP_SELECT_PIN, SPI_FULL_SPEED));
    EXPECT_EQ(sd4.fatType(), 32);
    EXPECT_EQ(sd4.card()->type(), SD_CARD_TYPE_SDHC);
    EXPECT_EQ(sd4.blocksPerCluster(), 64);
    std::string informe;
    EXPECT_TRUE(limpia(&informe)) << informe;
    // The done-when check: a file written here reads back byte for byte.
    std::string datos = patron(100000, 3);
    File f = sd4.open("/_sd/escritura_sd.txt", O_RDWR | O_CREAT | O_AT_END);
    EXPECT_FALSE(f.isOpen());  // no directory yet
    ASSERT_TRUE(sd4.mkdir("_sd", true));
    f = sd4.open("/_sd/escritura_sd.txt", 0x4202);
    ASSERT_TRUE(f.isOpen());
    ASSERT_EQ(f.write(datos.data(), datos.size()), datos.size());
    ASSERT_TRUE(f.close());
    ASSERT_TRUE(sd4.mkdir("261207/sub", true));
    for (int k = 0; k < 3; k++) {
        File g = sd4.open("261207/1430.raw", 0x209);
        ASSERT_TRUE(g.isOpen());
        for (char c : patron(700, k)) g.write((uint8_t)c);
        ASSERT_TRUE(g.close());
    }
    EXPECT_EQ(mtools("mtype", "/_sd/escritura_sd.txt"), datos);
    EXPECT_EQ(mtools("mtype", "/261207/1430.raw"), patron(700, 0) + patron(700, 1) + patron(700, 2));
    EXPECT_TRUE(limpia(&informe)) << informe;
    int32_t libres = sd4.freeClusterCount();
    EXPECT_EQ(libres, (int32_t)sd4.clusterCount() - 9);  // root, three directories, 4 + 1 data clusters
    placa::instalar_tarjeta(nullptr);
}

// Nested directories, long and short names, a directory past one cluster,
// appends across cluster boundaries, remove and listing order: on FAT16 and
// FAT32 volumes made by mkfs.fat (no partition table) and by our new-card layout.
struct Volumen {
    const char *nombre;
    uint32_t mb;
    const char *mkfs;  // null: our own layout
};

class TarjetaVolumenes : public Tarjeta, public ::testing::WithParamInterface<Volumen> {};

TEST_P(TarjetaVolumenes, EverythingWrittenReadsBackAndTheVolumeStaysClean)
{
    const Volumen &v = GetParam();
    if (v.mkfs) de_mkfs(v.nombre, v.mb, v.mkfs);
    else nueva(v.nombre, v.mb);
    ASSERT_TRUE(sd.begin(SD_CHIP_SELECT_PIN, SD_SCK_MHZ(12)));
    uint32_t por_cluster = sd.blocksPerCluster() * 512u;

    ASSERT_TRUE(sd.mkdir("a/b/c", true));
    EXPECT_FALSE(sd.mkdir("a/b/c", true));         // already there
    EXPECT_FALSE(sd.mkdir("x/y", false));          // parent missing, no parents asked
    EXPECT_TRUE(sd.exists("a/b"));
    EXPECT_TRUE(sd.exists("/A/B/C/"));             // names are case-blind
    EXPECT_FALSE(sd.exists("a/c"));

    // Appends in small pieces over several cluster boundaries, reopened each time.
    std::string todo;
    for (int k = 0; k < 7; k++) {
        std::string trozo = patron(por_cluster / 2 + 37, k);
        escribir("a/b/c/1430.raw", trozo);
        todo += trozo;
    }
    // Byte by byte through the kept-open handle, as the raw file is written.
    File w = sd.open("a/b/c/1430.wav", O_WRONLY | O_CREAT | O_APPEND);
    ASSERT_TRUE(w.isOpen());
    std::string olas = patron(por_cluster + 700, 9);
    for (char c : olas) ASSERT_EQ(w.write((uint8_t)c), 1u);
    ASSERT_TRUE(w.close());

    const std::string largo = "/_sd/escritura_sd.txt";
    ASSERT_TRUE(sd.mkdir("_sd", true));
    escribir(largo.c_str(), "Escritura sd ok: 1430", 0x4202);
    escribir(largo.c_str(), "Escritura sd ok: 1431", 0x4202);  // at the end of what was there
    escribir("_sd/Mixed Case Name.Text", "mezcla");

    // A directory that grows past its first cluster.
    ASSERT_TRUE(sd.mkdir("muchos", true));
    int n_ficheros = (int)(por_cluster / 32) + 20;
    for (int i = 0; i < n_ficheros; i++) {
        std::string ruta = "muchos/f" + std::to_string(i) + ".res";
        File f = sd.open(ruta.c_str(), 0x209);
        ASSERT_TRUE(f.isOpen()) << ruta;
        f.write(std::to_string(i).c_str());
        ASSERT_TRUE(f.close());
    }
    // The listing comes in the order of creation, with the names as written.
    File dir = sd.open("/muchos/", O_RDONLY);
    ASSERT_TRUE(dir.isDir());
    File e;
    int i = 0;
    char nombre[13];
    while (e.openNext(&dir, O_RDONLY)) {
        ASSERT_TRUE(e.getName(nombre, 13));
        EXPECT_EQ(std::string(nombre), "f" + std::to_string(i) + ".res");
        EXPECT_FALSE(e.isDirectory());
        e.close();
        i++;
    }
    EXPECT_EQ(i, n_ficheros);

    // Remove: the file goes, its clusters are free again, its neighbours stay.
    ASSERT_TRUE(sd.remove("muchos/f3.res"));
    EXPECT_FALSE(sd.exists("muchos/f3.res"));
    EXPECT_FALSE(sd.remove("muchos/f3.res"));
    EXPECT_FALSE(sd.remove("a/b"));  // a directory is not removed as a file
    ASSERT_TRUE(sd.remove(largo.c_str()));
    escribir(largo.c_str(), "Escritura sd ok: 1500", 0x4202);

    // Root listing: directories are told from files.
    File raiz = sd.open("/");
    ASSERT_TRUE(raiz.isDir());
    std::string lista;
    while (e.openNext(&raiz, O_RDONLY)) {
        e.getName(nombre, 13);
        lista += std::string(nombre) + (e.isDirectory() ? "/ " : " ");
        e.close();
    }
    EXPECT_EQ(lista, "a/ _sd/ muchos/ ");

    EXPECT_EQ(mtype("/a/b/c/1430.raw"), todo);
    EXPECT_EQ(mtype("/a/b/c/1430.wav"), olas);
    EXPECT_EQ(mtype(largo), "Escritura sd ok: 1500");
    EXPECT_EQ(mtype("/_sd/Mixed Case Name.Text"), "mezcla");
    EXPECT_EQ(mtype("/muchos/f17.res"), "17");
    std::string listado = mtools("mdir -a", "/_sd");
    EXPECT_NE(listado.find("escritura_sd.txt"), std::string::npos) << listado;
    EXPECT_NE(listado.find("Mixed Case Name.Text"), std::string::npos) << listado;
    std::string informe;
    ASSERT_TRUE(limpia(&informe)) << informe;

    // The free clusters as fsck.fat counts them.
    int32_t libres = sd.freeClusterCount();
    size_t p = informe.rfind(" clusters");
    ASSERT_NE(p, std::string::npos) << informe;
    size_t barra = informe.rfind('/', p);
    size_t antes = informe.rfind(' ', barra);
    ASSERT_NE(barra, std::string::npos);
    long usados = std::stol(informe.substr(antes + 1, barra - antes - 1));
    long total = std::stol(informe.substr(barra + 1, p - barra - 1));
    EXPECT_EQ(total, (long)sd.clusterCount());
    EXPECT_EQ(libres, total - usados) << informe;
    ASSERT_TRUE(limpia(&informe)) << informe;  // FSInfo now holds the count
}

INSTANTIATE_TEST_SUITE_P(Imagenes, TarjetaVolumenes,
                         ::testing::Values(Volumen{"propia16.img", 64, nullptr},
                                           Volumen{"mkfs16.img", 64, "-F 16 -s 4"},
                                           Volumen{"mkfs32.img", 64, "-F 32 -s 1"},
                                           Volumen{"propia32.img", 4096, nullptr}),
                         [](const ::testing::TestParamInfo<Volumen> &i) {
                             std::string n = i.param.nombre;
                             return n.substr(0, n.find('.'));
                         });

// A full card: the write that does not fit fails, what was there stays whole.
TEST_F(Tarjeta, AFullCardFailsCleanlyAndKeepsWhatWasWritten)
{
    de_mkfs("llena.img", 2, "-F 12 -s 1");
    // FAT12 mounts, but neither files nor the free-space scan are offered on it.
    ASSERT_TRUE(sd.begin(SD_CHIP_SELECT_PIN, SD_SCK_MHZ(12)));
    EXPECT_EQ(sd.fatType(), 12);
    EXPECT_EQ(sd.freeClusterCount(), -1);
    EXPECT_FALSE(sd.exists("/"));
    tarjeta.cerrar();

    de_mkfs("llena16.img", 4, "-F 16 -s 1");  // about 8000 clusters of 512 bytes
    ASSERT_TRUE(sd.begin(SD_CHIP_SELECT_PIN, SD_SCK_MHZ(12)));
    ASSERT_EQ(sd.fatType(), 16);
    std::string primero = patron(5000, 1);
    escribir("primero.txt", primero);
    ASSERT_TRUE(sd.mkdir("261207", true));
    File f = sd.open("261207/1430.raw", 0x209);
    ASSERT_TRUE(f.isOpen());
    std::string bloque = patron(4096, 2);
    size_t total = 0;
    for (;;) {
        size_t n = f.write(bloque.data(), bloque.size());
        total += n;
        if (n < bloque.size()) break;
    }
    EXPECT_TRUE(f.getWriteError());
    EXPECT_FALSE(f.close());  // the failure is reported at close too
    EXPECT_EQ(sd.freeClusterCount(), 0);
    File g = sd.open("261207/otro.wav", 0x209);
    ASSERT_TRUE(g.isOpen());      // an empty file still fits in the directory
    EXPECT_EQ(g.write('x'), 0u);  // but no byte of data
    g.close();
    EXPECT_FALSE(sd.mkdir("261208", true));
    EXPECT_EQ(mtype("/primero.txt"), primero);
    std::string raw = mtype("/261207/1430.raw");
    EXPECT_EQ(raw.size(), total);
    EXPECT_EQ(raw.substr(0, 4096), bloque);
    std::string informe;
    EXPECT_TRUE(limpia(&informe)) << informe;
    // Room again after a remove.
    ASSERT_TRUE(sd.remove("261207/1430.raw"));
    escribir("261207/1431.raw", "de nuevo");
    EXPECT_EQ(mtype("/261207/1431.raw"), "de nuevo");
    EXPECT_TRUE(limpia(&informe)) << informe;
}

// No card, a card pulled out while in use, a card that no longer takes writes.
TEST_F(Tarjeta, ARemovedOrWornCardGivesFailuresNeverACrash)
{
    Sd2Card raw;
    EXPECT_FALSE(raw.begin(SD_CHIP_SELECT_PIN_FORMATEO, SD_SCK_MHZ(12)));  // empty slot
    EXPECT_EQ(raw.errorCode(), SD_CARD_ERROR_CMD0);
    EXPECT_EQ(raw.cardSize(), 0u);
    EXPECT_FALSE(sd.begin(SD_CHIP_SELECT_PIN, SD_SCK_MHZ(12)));
    EXPECT_FALSE(sd.exists("/"));
    EXPECT_FALSE(sd.open("x.txt", 0x209).isOpen());
    EXPECT_EQ(sd.freeClusterCount(), -1);

    nueva("retirada.img", 64);
    EXPECT_FALSE(sd.begin(7, SD_SCK_MHZ(12)));  // another chip select line
    ASSERT_TRUE(sd.begin(SD_CHIP_SELECT_PIN, SD_SCK_MHZ(12)));
    escribir("antes.txt", "guardado");
    File f = sd.open("abierto.raw", 0x209);
    ASSERT_TRUE(f.isOpen());
    tarjeta.retirar();
    f.write("perdido", 7);  // kept in the block cache
    EXPECT_FALSE(f.close());  // and lost with the card
    EXPECT_FALSE(sd.mkdir("d", true));
    EXPECT_FALSE(sd.begin(SD_CHIP_SELECT_PIN, SD_SCK_MHZ(12)));
    tarjeta.insertar();
    // The reinserted card must be started again.
    EXPECT_FALSE(sd.exists("antes.txt"));
    ASSERT_TRUE(sd.begin(SD_CHIP_SELECT_PIN, SD_SCK_MHZ(12)));
    EXPECT_TRUE(sd.exists("antes.txt"));
    EXPECT_EQ(mtype("/antes.txt"), "guardado");
    std::string informe;
    EXPECT_TRUE(limpia(&informe)) << informe;

    // Worn blocks from the data area on: writes fail, the card still mounts.
    ASSERT_TRUE(raw.begin(SD_CHIP_SELECT_PIN_FORMATEO, SD_SCK_MHZ(12)));
    uint32_t n = raw.cardSize();
    EXPECT_EQ(n, 64u * 2048u);
    tarjeta.error_escritura_desde(n - 100);
    uint8_t b[512] = {1};
    EXPECT_TRUE(raw.writeBlock(n - 101, b));
    EXPECT_FALSE(raw.writeBlock(n - 100, b));
    EXPECT_EQ(raw.errorCode(), SD_CARD_ERROR_CMD24);
    ASSERT_TRUE(raw.writeStart(n - 102, 3));
    EXPECT_TRUE(raw.writeData(b));
    EXPECT_TRUE(raw.writeData(b));
    EXPECT_FALSE(raw.writeData(b));
    EXPECT_FALSE(raw.writeData(b));  // the transfer is over
    EXPECT_FALSE(raw.writeStart(n - 1, 2));  // beyond the card
    tarjeta.error_escritura_desde(0);
    ASSERT_TRUE(sd.begin(SD_CHIP_SELECT_PIN, SD_SCK_MHZ(12)));
    EXPECT_FALSE(sd.mkdir("nuevo", true));
    File g = sd.open("nuevo.txt", 0x209);
    EXPECT_FALSE(g.isOpen());
    EXPECT_EQ(mtype("/antes.txt"), "guardado");
}

// A card whose data blocks refuse writes while its tables and directory still
// take them: the size of a file never counts a block that did not reach the
// card, nor what came after it, and the clusters beyond the size are freed.
TEST_F(Tarjeta, ASizeNeverCountsDataThatWasNotWritten)
{
    nueva("datos_gastados.img", 64);
    ASSERT_TRUE(sd.begin(SD_CHIP_SELECT_PIN, SD_SCK_MHZ(12)));
    escribir("antes.txt", "guardado");
    uint8_t b[512];
    ASSERT_TRUE(tarjeta.leer((uint32_t)(desplazamiento / 512), b));
    uint32_t por_cluster = b[13];
    uint32_t datos = (uint32_t)(desplazamiento / 512) + (b[14] | b[15] << 8) + b[16] * (b[22] | b[23] << 8) +
                     (b[17] | b[18] << 8) * 32 / 512;
    ASSERT_GE(por_cluster, 4u);

    // The third block of the file is refused: the size stops where it starts.
    File f = sd.open("parcial.raw", 0x209);
    ASSERT_TRUE(f.isOpen());
    std::string a(600, 'a'), z(2000, 'z');
    ASSERT_EQ(f.write(a.data(), a.size()), a.size());
    ASSERT_TRUE(f.sync());
    tarjeta.error_escritura_desde(datos + (f.firstCluster() - 2) * por_cluster + 2);
    f.write(z.data(), z.size());
    EXPECT_FALSE(f.close());
    // Every data block refused: nothing counts, no cluster stays taken.
    tarjeta.error_escritura_desde(UINT32_MAX);
    File g = sd.open("gastado.raw", 0x209);
    ASSERT_TRUE(g.isOpen());
    tarjeta.error_escritura_desde(datos);
    std::string x(1000, 'x');
    g.write(x.data(), x.size());
    EXPECT_FALSE(g.close());

    tarjeta.error_escritura_desde(UINT32_MAX);
    ASSERT_TRUE(sd.begin(SD_CHIP_SELECT_PIN, SD_SCK_MHZ(12)));
    EXPECT_EQ(mtype("/parcial.raw"), a + std::string(424, 'z'));
    EXPECT_EQ(mtype("/gastado.raw"), "");
    EXPECT_EQ(mtype("/antes.txt"), "guardado");
    std::string informe;
    EXPECT_TRUE(limpia(&informe)) << informe;
}

// Erase: fast on a large sparse card, blocks read back as zero.
TEST_F(Tarjeta, EraseZeroesTheBlocks)
{
    nueva("borrado.img", 4096);
    Sd2Card raw;
    ASSERT_TRUE(raw.begin(SD_CHIP_SELECT_PIN_FORMATEO, SD_SCK_MHZ(12)));
    EXPECT_EQ(raw.type(), SD_CARD_TYPE_SDHC);
    uint32_t n = raw.cardSize();
    for (uint32_t p = 0; p < n; p += 262144) ASSERT_TRUE(raw.erase(p, std::min(p + 262143, n - 1)));
    uint8_t b[512];
    ASSERT_TRUE(raw.readBlock(0, b));
    for (uint8_t x : b) ASSERT_EQ(x, 0);
    ASSERT_TRUE(raw.readBlock(8192, b));
    for (uint8_t x : b) ASSERT_EQ(x, 0);
    EXPECT_FALSE(raw.erase(n - 1, n));
    EXPECT_FALSE(sd.begin(SD_CHIP_SELECT_PIN, SD_SCK_MHZ(12)));  // no volume left
}

// The power goes in the middle of a block write: the card mounts again and
// everything closed before is whole.
TEST_F(Tarjeta, APowerCutMidWriteKeepsTheClosedFiles)
{
    nueva("corte.img", 64);
    ASSERT_TRUE(sd.begin(SD_CHIP_SELECT_PIN, SD_SCK_MHZ(12)));
    ASSERT_TRUE(sd.mkdir("261207", true));
    std::string res = patron(3000, 4);
    escribir("261207/1430.res", res);
    File f = sd.open("261207/1430.raw", 0x209);
    ASSERT_TRUE(f.isOpen());
    tarjeta.corte_en_escritura(3, 200);
    bool cortado = false;
    try {
        for (int k = 0; k < 200; k++) f.write(patron(1000, k).data(), 1000);
        f.close();
    } catch (const placa::ReinicioPlaca &r) {
        cortado = true;
        EXPECT_EQ(r.causa, placa::CAUSA_CORTE);
    }
    ASSERT_TRUE(cortado);
    // The firmware starts afresh: new objects over the same card.
    SdFat despues;
    ASSERT_TRUE(despues.begin(SD_CHIP_SELECT_PIN, SD_SCK_MHZ(12)));
    EXPECT_TRUE(despues.exists("261207/1430.res"));
    File r = despues.open("261207/1430.res");
    ASSERT_TRUE(r.isOpen());
    std::string leido(r.fileSize(), '\0');
    EXPECT_EQ(r.read(&leido[0], leido.size()), (int)leido.size());
    EXPECT_EQ(leido, res);
    EXPECT_EQ(mtype("/261207/1430.res"), res);
    File g = despues.open("261207/1430.raw", 0x209);
    ASSERT_TRUE(g.isOpen());
    EXPECT_EQ(g.write("sigue", 5), 5u);
    EXPECT_TRUE(g.close());
}

// The free-cluster scan is bounded by its count-down and feeds the watchdog.
TEST_F(Tarjeta, TheFreeClusterScanStopsWhenItsTimeIsOut)
{
    nueva("tiempo.img", 4096);
    ASSERT_TRUE(sd.begin(SD_CHIP_SELECT_PIN, SD_SCK_MHZ(12)));
    sodaq_wdt_enable(WDT_PERIOD_2X);
    volatile uint8_t cuenta = 0;
    EXPECT_EQ(sd.contar_clusters_libres(&cuenta), -1);
    CTE_PORCENTAJE_FULL_SD = 111;
    EXPECT_EQ(sd.freeClusterCount(), (int32_t)sd.clusterCount() - 1);  // only the root is used
    EXPECT_GT(ctimeout_salir_bucle, 0);
    CTE_PORCENTAJE_FULL_SD = 255;
    EXPECT_EQ(banco.placa.reinicios().size(), 0u);
}

TEST(FlujoTexto, FormatsAsTheFormatterPrintsIt)
{
    BancoPruebas banco;
    cout << "Card Size: " << (uint32_t)3965 << " MB, (MB = 1,000,000 bytes)" << endl;
    cout << "All data set to " << setfill('0') << setw(4) << showbase << hex << 0 << endl;
    cout << hex << showbase << (int)0xff << ',' << 0x1A << (uint8_t)'A' << dec << noshowbase << ' ' << -42 << endl;
    cout << setprecision(0) << 3965.0 * 1.048576 << ' ' << setfill(' ') << setw(5) << 7 << endl;
    coutTOV << '.';
    EXPECT_EQ(banco.salida(1), "Card Size: 3965 MB, (MB = 1,000,000 bytes)\nAll data set to 0x00\n0xff,0x1aA -42\n4158     7\n");
    EXPECT_EQ(banco.salida(0), ".");
    banco.placa.reinicio_hardware();
    banco.borrar_salidas();
    Serial1.begin(115200);
    cout << 255 << endl;  // a reset brings back decimal
    EXPECT_EQ(banco.salida(1), "255\n");
}
