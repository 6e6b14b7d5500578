// The card library on card images, checked afterwards by the PC's own FAT
// tools (fsck.fat, mdir, mtype), as a scientist would read the buoy's card.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "plataforma/host/placa_host.h"
#include "plataforma/host/tarjeta_host.h"
#include "plataforma/sd/SdFat.h"
#include "plataforma/tests/banco_pruebas.h"

// tarjeta_sd_ayuda.cpp (apart: the host's <fcntl.h> must not meet the card library).
void copiar_volumen(const std::string &origen, const std::string &destino, uint64_t desde);

namespace {

std::string salida_de(const std::string &orden, int *codigo = nullptr)
{
    std::string texto;
    FILE *p = popen((orden + " 2>&1").c_str(), "r");
    if (!p) return texto;
    char b[4096];
    size_t n;
    while ((n = fread(b, 1, sizeof b, p)) > 0) texto.append(b, n);
    int r = pclose(p);
    if (codigo) *codigo = WIFEXITED(r) ? WEXITSTATUS(r) : -1;
    return texto;
}

std::string ruta_prueba(const std::string &nombre)
{
    std::string d = std::string(OLAS_BINARIOS) + "/pruebas_sd";
    std::system(("mkdir -p " + d).c_str());
    return d + "/" + nombre;
}

struct Tarjeta : ::testing::Test {
    BancoPruebas banco;
    placa::TarjetaHost tarjeta{&banco.placa};
    SdFat sd;
    std::string imagen;
    uint64_t desplazamiento = 0;  // bytes before the volume (partition 1)

    void TearDown() override { placa::instalar_tarjeta(nullptr); }

    void nueva(const std::string &nombre, uint32_t mb)
    {
        imagen = ruta_prueba(nombre);
        ASSERT_TRUE(tarjeta.crear_formateada(imagen, mb));
        placa::instalar_tarjeta(&tarjeta);
        uint8_t mbr[512];
        ASSERT_TRUE(tarjeta.leer(0, mbr));
        desplazamiento = 512ULL * (mbr[454] | mbr[455] << 8 | mbr[456] << 16 | (uint32_t)mbr[457] << 24);
    }
    // A volume made by mkfs.fat over the whole card, without partition table.
    void de_mkfs(const std::string &nombre, uint32_t mb, const std::string &opciones)
    {
        imagen = ruta_prueba(nombre);
        std::remove(imagen.c_str());
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
    imagen = ruta_prueba("nueva4g.img");
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
