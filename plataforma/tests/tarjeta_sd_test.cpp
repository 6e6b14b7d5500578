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
