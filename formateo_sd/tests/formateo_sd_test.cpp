// The card formatter on card images: the layout it works out, the structures
// it writes (checked field by field and by fsck.fat), its messages, its fatal
// errors, and a buoy that mounts and logs onto the fresh card.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "declaraciones/declaraciones.h"
#include "formateo_sd/formateo_sd.h"
#include "gestion_sd/gestion_sd.h"
#include "plataforma/host/placa_host.h"
#include "plataforma/host/tarjeta_host.h"
#include "plataforma/tests/banco_pruebas.h"
#include "plataforma/tests/salida_orden.h"
#include "principal/principal.h"
#include "waves/analisis.h"

// plataforma/tests/tarjeta_sd_ayuda.cpp
void copiar_volumen(const std::string &origen, const std::string &destino, uint64_t desde);

namespace {

uint32_t le32(const uint8_t *p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }
uint16_t le16(const uint8_t *p) { return (uint16_t)(p[0] | p[1] << 8); }

struct Formateo : ::testing::Test {
    BancoPruebas banco;
    placa::TarjetaHost tarjeta{&banco.placa};
    std::string imagen;
    uint8_t b[512];

    void TearDown() override
    {
        ffichero_raw = File();
        ffichero_wav = File();
        ffichero_res = File();
        miSD = SdFat();
        card = Sd2Card();
        placa::instalar_tarjeta(nullptr);
        CTE_BORRAR_SD = 0;
        if (!imagen.empty()) std::remove(imagen.c_str());
    }
    // A blank card as it leaves the factory, or one made as new by the board's maker.
    void blanca(const std::string &nombre, uint64_t bloques)
    {
        imagen = imagen_de_prueba(nombre);
        ASSERT_TRUE(tarjeta.crear(imagen, bloques * 512));
        placa::instalar_tarjeta(&tarjeta);
    }
    void nueva(const std::string &nombre, uint32_t mb)
    {
        imagen = imagen_de_prueba(nombre);
        ASSERT_TRUE(tarjeta.crear_formateada(imagen, mb));
        placa::instalar_tarjeta(&tarjeta);
    }
    const uint8_t *bloque(uint32_t n)
    {
        EXPECT_TRUE(tarjeta.leer(n, b));
        return b;
    }
    // fsck.fat -n on the partition: true when there is nothing to repair.
    bool limpia(std::string *informe)
    {
        std::string vol = imagen + ".vol";
        copiar_volumen(imagen, vol, 512ULL * relSector);
        int r;
        *informe = salida_de("fsck.fat -n -v '" + vol + "'", &r);
        std::remove(vol.c_str());
        return r == 0 && informe->find("differ") == std::string::npos && informe->find(" clusters") != std::string::npos;
    }
    // The buoy mounts the card again and logs one record in each file.
    void la_boya_registra()
    {
        ffichero_raw = File();
        ffichero_wav = File();
        ffichero_res = File();
        miSD = SdFat();
        ctarjeta_sd_inicializada = 0;
        csegundos_retardo_gestion_sd = 0;
        CTE_PERMITIR_ESCRITURA_SD = 1;
        CTE_PORCENTAJE_FULL_SD = 255;
        cfecha_capturada = 1;
        cdia_utc = 7, cmes_utc = 12, cano_utc = 26, chora_utc = 14, cminuto_utc = 30;
        for (int i = 0; i < 6; i++) servicio_sd();
        ASSERT_EQ(ctarjeta_sd_inicializada, 1);
        EXPECT_EQ(resSdOk, 1);
        EXPECT_EQ(CTE_PORCENTAJE_FULL_SD, 0);
        strcpy(cbuffer_res, "RES,1\r\n");
        ibytes_a_escribir_sd[TIPO_RES] = 7;
        cescritura_sd[TIPO_RES] = 1;
        servicio_sd();
        ccreacion_nuevo_fichero[TIPO_RAW] = ccreacion_nuevo_fichero[TIPO_WAV] = 3;
        servicio_sd();
        EXPECT_TRUE(miSD.exists("261207/1430.raw"));
        EXPECT_TRUE(miSD.exists("261207/1430.res"));
        EXPECT_TRUE(miSD.sincronizar());
        cfecha_capturada = 0;
        ctarjeta_sd_inicializada = 0;
        ccreacion_nuevo_directorio = 0;
        for (int k = 0; k < 3; k++) ccreacion_nuevo_fichero[k] = cescritura_sd[k] = 0;
    }
};

}  // namespace

TEST_F(Formateo, GeometryFollowsTheCardCapacity)
{
    cardCapacityMB = 1900;
    initSizes();
    EXPECT_EQ(sectorsPerCluster, 64);
    EXPECT_EQ(sectorsPerTrack, 63);
    EXPECT_EQ(numberOfHeads, 64);
    cardCapacityMB = 7;
    initSizes();
    EXPECT_EQ(sectorsPerCluster, 2);
    EXPECT_EQ(sectorsPerTrack, 32);
    EXPECT_EQ(numberOfHeads, 2);
    cardCapacityMB = 40000;
    initSizes();
    EXPECT_EQ(sectorsPerCluster, 128);
    EXPECT_EQ(numberOfHeads, 255);
    // CHS of a block: 64 heads x 63 sectors.
    cardCapacityMB = 1900;
    initSizes();
    EXPECT_EQ(lbnToCylinder(4032 * 3 + 63 * 5 + 7), 3);
    EXPECT_EQ(lbnToHead(4032 * 3 + 63 * 5 + 7), 5);
    EXPECT_EQ(lbnToSector(4032 * 3 + 63 * 5 + 7), 8);
}

TEST_F(Formateo, AStandardCardOf1900MBGetsFat16)
{
    blanca("formato_1900.img", 1900ULL * 2048);
    Formatear_SD();
    EXPECT_EQ(sectorsPerCluster, 64);
    EXPECT_EQ(sectorsPerTrack, 63);
    EXPECT_EQ(numberOfHeads, 64);
    EXPECT_EQ(std::string((const char *)bloque(relSector) + 54, 8), "FAT16   ");
    EXPECT_EQ(partType, 0x06);
    EXPECT_NE(banco.salida(1).find("\nFormatting\nBlocks/Cluster: 64\nFAT16\n"), std::string::npos);
}

// The bytes still arriving on the telemetry link are dropped before the
// formatter starts, for half a second at most: a link that babbles on does
// not hold it (before, one byte was read every 10 ms for as long as bytes came).
TEST_F(Formateo, ALinkThatNeverFallsSilentDoesNotHoldTheFormatter)
{
    blanca("formato_ruido.img", 1900ULL * 2048);
    banco.enviar(0, std::string(19200, 'x'));   // five seconds of the line at 38400 baud
    uint64_t inicio = banco.placa.ciclo(), primera = 0;
    banco.placa.observar_escrituras([&](int puerto, uint8_t) {
        if (puerto == 1 && primera == 0) primera = banco.placa.ciclo();
    });
    Formatear_SD();
    banco.placa.observar_escrituras(nullptr);
    ASSERT_NE(primera, 0u);
    EXPECT_LT(banco.placa.segundos_reales(primera - inicio), 0.6);
    EXPECT_NE(banco.salida(1).find("Format done"), std::string::npos);
}

TEST_F(Formateo, OneGigabyteCardFat16StructuresAndFsck)
{
    nueva("formato_1g.img", 1024);
    CTE_BORRAR_SD = 1;
    Formatear_SD();
    std::string consola = banco.salida(1);
    const char *intro =
        "\nThis program can erase and/or format SD/SDHC cards.\n\nErase uses the card's fast flash erase command.\n"
        "Flash erase sets all data to 0X00 for most cards\nand 0XFF for a few vendor's cards.\n\n"
        "Cards larger than 2 GB will be formatted FAT32 and\nsmaller cards will be formatted FAT16.\n\n"
        "Warning, all data on the card will be erased.\nCard Size: 1074 MB, (MB = 1,000,000 bytes)\n"
        "\nErasing\n........\nAll data set to 0x00\nErase done\n\nFormatting\nBlocks/Cluster: 32\nFAT16\n";
    EXPECT_EQ(consola.substr(0, strlen(intro)), intro);
    EXPECT_EQ(consola.substr(consola.size() - 12), "Format done\n");
    EXPECT_EQ(consola.find('\r'), std::string::npos);
    // One progress dot per 256 blocks cleared, on the telemetry link too.
    EXPECT_EQ(banco.salida(0), std::string((dataStart - fatStart + 255) / 256, '.'));

    // Layout: data area on a 128-block boundary, after 1 reserved block, two
    // FATs and a 32-block root directory.
    uint32_t bloques = 1024u * 2048u;
    EXPECT_EQ(cardSizeBlocks, bloques);
    EXPECT_EQ(dataStart % 128, 0u);
    EXPECT_EQ(relSector, dataStart - 2 * fatSize - 33);
    uint32_t nc = (bloques - dataStart) / 32;
    EXPECT_EQ(fatSize, (nc + 257) / 256);
    EXPECT_GE(dataStart, 2 * fatSize + 161);
    EXPECT_LT(dataStart - 128, 2 * ((bloques - dataStart + 128) / 32 + 257) / 256 + 161);

    const uint8_t *m = bloque(0);
    EXPECT_EQ(m[510], 0x55);
    EXPECT_EQ(m[511], 0xAA);
    EXPECT_EQ(m[446], 0);
    EXPECT_EQ(m[450], 0x06);
    EXPECT_EQ(le32(m + 454), relSector);
    EXPECT_EQ(le32(m + 458), partSize);
    EXPECT_EQ(partSize, nc * 32 + 2 * fatSize + 33);
    // Start and end CHS with 64 heads x 63 sectors.
    EXPECT_EQ(m[447], (relSector % (64 * 63)) / 63);
    EXPECT_EQ(m[448] & 63, relSector % 63 + 1);
    uint32_t fin = relSector + partSize - 1;
    EXPECT_EQ(m[451], (fin % (64 * 63)) / 63);
    EXPECT_EQ(m[452] & 63, fin % 63 + 1);
    EXPECT_EQ(m[453] | (m[452] & 0xC0) << 2, fin / (64 * 63));

    const uint8_t *p = bloque(relSector);
    EXPECT_EQ(p[0], 0xEB);
    EXPECT_EQ(p[2], 0x90);
    EXPECT_EQ(std::string((const char *)p + 3, 8), "        ");
    EXPECT_EQ(le16(p + 11), 512);
    EXPECT_EQ(p[13], 32);
    EXPECT_EQ(le16(p + 14), 1);
    EXPECT_EQ(p[16], 2);
    EXPECT_EQ(le16(p + 17), 512);
    EXPECT_EQ(le16(p + 19), 0);
    EXPECT_EQ(p[21], 0xF8);
    EXPECT_EQ(le16(p + 22), fatSize);
    EXPECT_EQ(le16(p + 24), 63);
    EXPECT_EQ(le16(p + 26), 64);
    EXPECT_EQ(le32(p + 28), relSector);
    EXPECT_EQ(le32(p + 32), partSize);
    EXPECT_EQ(p[36], 0x80);
    EXPECT_EQ(p[38], 0x29);
    EXPECT_EQ(std::string((const char *)p + 43, 11), "NO NAME    ");
    EXPECT_EQ(std::string((const char *)p + 54, 8), "FAT16   ");
    EXPECT_EQ(p[510], 0x55);
    for (uint32_t f : {fatStart, fatStart + fatSize}) {
        const uint8_t *t = bloque(f);
        EXPECT_EQ(le16(t), 0xFFF8);
        EXPECT_EQ(le16(t + 2), 0xFFFF);
        EXPECT_EQ(le16(t + 4), 0);
    }
    std::string informe;
    EXPECT_TRUE(limpia(&informe)) << informe;
    la_boya_registra();
    EXPECT_TRUE(limpia(&informe)) << informe;
}

TEST_F(Formateo, FourGigabyteCardFat32StructuresAndFsck)
{
    nueva("formato_4g.img", 4096);
    Formatear_SD();
    std::string consola = banco.salida(1);
    EXPECT_NE(consola.find("Card Size: 4295 MB, (MB = 1,000,000 bytes)\n\nFormatting\nBlocks/Cluster: 64\nFAT32\n"),
              std::string::npos)
        << consola;
    EXPECT_EQ(consola.find("Erasing"), std::string::npos);
    uint32_t bloques = 4096u * 2048u;
    EXPECT_EQ(relSector, 8192u);
    EXPECT_EQ(dataStart % 8192, 0u);
    uint32_t nc = (bloques - dataStart) / 64;
    EXPECT_EQ(fatSize, (nc + 129) / 128);
    EXPECT_GE(dataStart, relSector + 2 * fatSize + 9);
    EXPECT_EQ(reservedSectors, dataStart - relSector - 2 * fatSize);
    EXPECT_EQ(partSize, nc * 64 + dataStart - relSector);
    EXPECT_EQ(partType, 0x0B);

    const uint8_t *m = bloque(0);
    EXPECT_EQ(m[450], 0x0B);
    EXPECT_EQ(le32(m + 454), 8192u);
    EXPECT_EQ(le32(m + 458), partSize);
    // 255 heads x 63 sectors.
    uint32_t fin = relSector + partSize - 1;
    EXPECT_EQ(m[451], (fin % (255 * 63)) / 63);
    EXPECT_EQ(m[453] | (m[452] & 0xC0) << 2, fin / (255 * 63));

    for (uint32_t arranque : {relSector, relSector + 6}) {
        const uint8_t *p = bloque(arranque);
        EXPECT_EQ(p[13], 64);
        EXPECT_EQ(le16(p + 14), reservedSectors);
        EXPECT_EQ(le16(p + 17), 0);
        EXPECT_EQ(le16(p + 22), 0);
        EXPECT_EQ(le16(p + 24), 63);
        EXPECT_EQ(le16(p + 26), 255);
        EXPECT_EQ(le32(p + 28), relSector);
        EXPECT_EQ(le32(p + 32), partSize);
        EXPECT_EQ(le32(p + 36), fatSize);
        EXPECT_EQ(le32(p + 44), 2u);
        EXPECT_EQ(le16(p + 48), 1);
        EXPECT_EQ(le16(p + 50), 6);
        EXPECT_EQ(p[64], 0x80);
        EXPECT_EQ(p[66], 0x29);
        EXPECT_EQ(std::string((const char *)p + 71, 11), "NO NAME    ");
        EXPECT_EQ(std::string((const char *)p + 82, 8), "FAT32   ");
        EXPECT_EQ(p[511], 0xAA);
    }
    for (uint32_t info : {relSector + 1, relSector + 7}) {
        const uint8_t *p = bloque(info);
        EXPECT_EQ(le32(p), 0x41615252u);
        EXPECT_EQ(le32(p + 484), 0x61417272u);
        EXPECT_EQ(le32(p + 488), 0xFFFFFFFFu);
        EXPECT_EQ(le32(p + 492), 0xFFFFFFFFu);
        EXPECT_EQ(p[510], 0x55);
    }
    EXPECT_EQ(bloque(relSector + 2)[511], 0xAA);
    for (uint32_t f : {fatStart, fatStart + fatSize}) {
        const uint8_t *t = bloque(f);
        EXPECT_EQ(le32(t), 0x0FFFFFF8u);
        EXPECT_EQ(le32(t + 4), 0x0FFFFFFFu);
        EXPECT_EQ(le32(t + 8), 0x0FFFFFFFu);
        EXPECT_EQ(le32(t + 12), 0u);
    }
    std::string informe;
    EXPECT_TRUE(limpia(&informe)) << informe;
    la_boya_registra();
    EXPECT_TRUE(limpia(&informe)) << informe;
}

TEST_F(Formateo, LargeCardsGetTheirPartitionType)
{
    blanca("formato_15m.img", 15000000);
    Formatear_SD();
    EXPECT_EQ(sectorsPerCluster, 64);
    EXPECT_EQ(numberOfHeads, 255);
    EXPECT_EQ(dataStart % 8192, 0u);
    EXPECT_EQ(partType, 0x0B);
    EXPECT_LE(relSector + partSize, 16450560u);
    EXPECT_EQ(bloque(0)[450], 0x0B);
    TearDown();
    tarjeta.cerrar();

    blanca("formato_30m.img", 30000000);
    Formatear_SD();
    EXPECT_EQ(partType, 0x0C);
    EXPECT_EQ(bloque(0)[450], 0x0C);
    // Its end lies beyond cylinder 1023: the CHS field says so.
    EXPECT_EQ(b[451], 254);
    EXPECT_EQ(b[452], 0xFF);
    EXPECT_EQ(b[453], 0xFF);
    tarjeta.cerrar();
    std::remove(imagen.c_str());
}

TEST_F(Formateo, FatalErrorsRestartTheBoard)
{
    sodaq_wdt_enable(WDT_PERIOD_2X);
    blanca("formato_4m.img", 4 * 2048);
    EXPECT_THROW(Formatear_SD(), placa::ReinicioPlaca);
    std::string consola = banco.salida(1);
    EXPECT_NE(consola.find("\nFormatting\nerror: Card is too small.\n"), std::string::npos) << consola;
    EXPECT_EQ(consola.find("Format done"), std::string::npos);

    banco.borrar_salidas();
    placa::instalar_tarjeta(nullptr);
    card = Sd2Card();
    EXPECT_THROW(Formatear_SD(), placa::ReinicioPlaca);
    consola = banco.salida(1);
    EXPECT_NE(consola.find("Warning, all data on the card will be erased.\n\nSD initialization failure!\n"
                           "Is the SD card inserted correctly?\n"
                           "Is chip select correct at the top of this program?\nerror: card.begin failed\n"
                           "SD error: "),
              std::string::npos)
        << consola;
}
