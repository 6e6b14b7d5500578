// The card's start-up, the day directory and its interval files, the summary
// file found again after a restart, the usage limits and the main loop's
// writes, on a card image in the test board's slot.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "declaraciones/declaraciones.h"
#include "gestion_sd/gestion_sd.h"
#include "gestion_sd/tests/tarjeta_prueba.h"
#include "plataforma/tests/banco_pruebas.h"
#include "principal/principal.h"
#include "virtual_e2prom/virtual_e2prom.h"
#include "waves/analisis.h"
#include "waves/muestras.h"

namespace {

void reloj(int dia, int mes, int ano, int hora, int minuto)
{
    cdia_utc = (uint8_t)dia;
    cmes_utc = (uint8_t)mes;
    cano_utc = (uint8_t)ano;
    chora_utc = (uint8_t)hora;
    cminuto_utc = (uint8_t)minuto;
    csegundo_utc = 0;
}

size_t contar_apariciones(const std::string &texto, const std::string &buscado)
{
    size_t n = 0;
    for (size_t p = 0; (p = texto.find(buscado, p)) != std::string::npos; p += buscado.size()) n++;
    return n;
}

std::string leer(const char *ruta)
{
    File f;
    if (!f.open(&miSD, ruta, O_RDONLY)) return "<none>";
    std::string s;
    int c;
    while ((c = f.read()) >= 0) s.push_back((char)c);
    f.close();
    return s;
}

struct GestionSd : ::testing::Test {
    BancoPruebas banco;
    void SetUp() override { estado_inicial(); }
    void TearDown() override { estado_inicial(); }
    void estado_inicial()
    {
        ctarjeta_sd_inicializada = 0;
        csegundos_retardo_gestion_sd = 0;
        ccreacion_nuevo_directorio = 0;
        for (int k = 0; k < 3; k++) ccreacion_nuevo_fichero[k] = cescritura_sd[k] = 0;
        Sdirectorio = NOMBRE_FICHERO_RAW = NOMBRE_FICHERO_WAV = NOMBRE_FICHERO_RES = "";
        ContadorNumeroFicheros = Intentos_Creacion_Directorio = Intentos_Creacion_Fichero = 0;
        CTE_PORCENTAJE_FULL_SD = 255;
        CTE_PERMITIR_ESCRITURA_SD = 1;
        CTE_NUMERO_MAXIMO_FICHEROS = 100;
        resSdOk = 0;
        cfecha_capturada = 0;
    }
    // What a power-up does before the first passes of the SD service.
    void arranque()
    {
        ffichero_raw = File();
        ffichero_wav = File();
        ffichero_res = File();
        miSD = SdFat();
        estado_inicial();
        cfecha_capturada = 1;
    }
    // Passes of the SD service until the card, the directory and the files settle.
    void pasadas(int n = 6)
    {
        for (int i = 0; i < n; i++) servicio_sd();
    }
    void registro(uint8_t k, const std::string &texto)
    {
        char *b = k == TIPO_RAW ? cbuffer_raw : k == TIPO_WAV ? cbuffer_wav : cbuffer_res;
        memcpy(b, texto.data(), texto.size());
        b[texto.size()] = 0;
        ibytes_a_escribir_sd[k] = texto.size();
        cescritura_sd[k] = 1;
    }
    // Raw records, one a pass, until a block has gone to the card.
    void bloque_de_registros(const char *texto)
    {
        for (int i = 0; i < 20; i++) {
            registro(TIPO_RAW, texto);
            pasadas(1);
        }
    }
};

}  // namespace

TEST_F(GestionSd, FirstPassesMakeTheDayDirectoryAndTheThreeFiles)
{
    TarjetaDePrueba tarjeta({}, 64, "gestion_dia.img", &banco.placa);
    arranque();
    reloj(7, 12, 26, 14, 30);
    pasadas();
    std::string consola = banco.salida(1);
    EXPECT_NE(consola.find("SD inicializada\r\n"), std::string::npos) << consola;
    EXPECT_NE(consola.find("Fichero escritura actualizado\r\n"), std::string::npos);
    EXPECT_NE(consola.find("Porcentaje ocupado SD = 0 %\r\n"), std::string::npos) << consola;
    EXPECT_NE(consola.find("Nuevo directorio creado: 261207\r\n"), std::string::npos);
    EXPECT_NE(consola.find("Entra en la creacion de fichero: 011\r\n"), std::string::npos);
    EXPECT_NE(consola.find("- Nuevo fichero creado:261207/1430.raw\r\n"), std::string::npos) << consola;
    EXPECT_EQ(resSdOk, 1);
    EXPECT_EQ(CTE_PORCENTAJE_FULL_SD, 0);
    EXPECT_EQ(leer("/_sd/escritura_sd.txt"), "Escritura sd ok: 1430");
    EXPECT_EQ(NOMBRE_FICHERO_RAW, String("261207/1430.raw"));
    EXPECT_EQ(NOMBRE_FICHERO_WAV, String("261207/1430.wav"));
    EXPECT_EQ(NOMBRE_FICHERO_RES, String("261207/1430.res"));
    for (int k = 0; k < 3; k++) EXPECT_EQ(ccreacion_nuevo_fichero[k], 2) << k;
    EXPECT_TRUE(miSD.exists("261207/1430.res"));
    EXPECT_TRUE(ffichero_raw.isOpen());
    EXPECT_TRUE(ffichero_wav.isOpen());
    EXPECT_FALSE(ffichero_res.isOpen());
    EXPECT_EQ(ContadorNumeroFicheros, 1);

    // Records reach their files: raw and wave on the open handles, the
    // summary by opening, appending and closing.
    registro(TIPO_RAW, "muestra 1\r\n");
    registro(TIPO_RES, "RES,1\r\n");
    pasadas(1);
    EXPECT_EQ(cescritura_sd[TIPO_RAW], 0);
    EXPECT_EQ(cescritura_sd[TIPO_RES], 0);
    EXPECT_EQ(leer("261207/1430.res"), "RES,1\r\n");
    EXPECT_NE(banco.salida(1).find("Guardando en: 261207/1430.res\r\n"), std::string::npos);
    EXPECT_EQ(ContadorNumeroFicheros, 0);
    EXPECT_FALSE(ffichero_res.isOpen());
    // End of the interval with a record still pending: it is written first.
    registro(TIPO_RAW, "muestra 2\r\n");
    ccreacion_nuevo_fichero[TIPO_RAW] = 3;
    reloj(7, 12, 26, 14, 45);
    pasadas(1);
    EXPECT_NE(banco.salida(1).find("Fichero RAW cerrado\r\n"), std::string::npos);
    EXPECT_EQ(leer("261207/1430.raw"), "muestra 1\r\nmuestra 2\r\n");
    EXPECT_EQ(ccreacion_nuevo_fichero[TIPO_RAW], 1);
    pasadas(1);
    EXPECT_EQ(NOMBRE_FICHERO_RAW, String("261207/1445.raw"));
    EXPECT_EQ(ContNumPtosOla, 0u);
}

TEST_F(GestionSd, ARestartTheSameDayFindsTheSummaryFileAgain)
{
    TarjetaDePrueba tarjeta({}, 64, "gestion_reinicio.img", &banco.placa);
    arranque();
    reloj(7, 12, 26, 14, 30);
    pasadas();
    registro(TIPO_RES, "RES,antes\r\n");
    pasadas(1);

    arranque();  // a watchdog reset: every global starts afresh
    reloj(7, 12, 26, 15, 10);
    banco.borrar_salidas();
    pasadas();
    std::string consola = banco.salida(1);
    EXPECT_NE(consola.find("Directorio ya existe\r\n"), std::string::npos) << consola;
    EXPECT_NE(consola.find("Fichero RES localizado: /261207/1430.res\r\n"), std::string::npos) << consola;
    EXPECT_EQ(NOMBRE_FICHERO_RAW, String("261207/1510.raw"));
    EXPECT_EQ(NOMBRE_FICHERO_WAV, String("261207/1510.wav"));
    EXPECT_EQ(NOMBRE_FICHERO_RES, String("/261207/1430.res"));
    EXPECT_FALSE(miSD.exists("261207/1510.res"));
    registro(TIPO_RES, "RES,despues\r\n");
    pasadas(1);
    EXPECT_EQ(leer("261207/1430.res"), "RES,antes\r\nRES,despues\r\n");
}

TEST_F(GestionSd, MoreThanFiveEntriesBeforeTheSummaryFileMakeANewOne)
{
    TarjetaDePrueba tarjeta({"261207/0001.raw", "261207/0001.wav", "261207/0002.raw", "261207/0002.wav",
                             "261207/0003.raw", "261207/0000.res"},
                            64, "gestion_cinco.img", &banco.placa);
    miSD.mkdir("261207/sub", true);  // a subdirectory counts as an entry too
    arranque();
    reloj(7, 12, 26, 16, 5);
    pasadas();
    std::string consola = banco.salida(1);
    EXPECT_NE(consola.find("Directorio ya existe\r\n"), std::string::npos);
    EXPECT_NE(consola.find("Fichero RES NO localizado.\r\n"), std::string::npos) << consola;
    EXPECT_EQ(NOMBRE_FICHERO_RES, String("261207/1605.res"));
    EXPECT_TRUE(miSD.exists("261207/1605.res"));

    // Upper-case extension among the first five: found.
    TarjetaDePrueba otra({"261208/0001.raw", "261208/0002.RES"}, 64, "gestion_mayus.img", &banco.placa);
    arranque();
    reloj(8, 12, 26, 9, 0);
    pasadas();
    EXPECT_EQ(NOMBRE_FICHERO_RES, String("/261208/0002.RES"));
    EXPECT_EQ(ccreacion_nuevo_fichero[TIPO_RES], 2);
}

TEST_F(GestionSd, AFullCardMakesNoDirectoryAndLogsNothing)
{
    TarjetaDePrueba tarjeta({}, 16, "gestion_llena.img", &banco.placa);
    // Every cluster taken in both tables.
    uint8_t b[512];
    ASSERT_TRUE(tarjeta.tarjeta().leer(0, b));
    uint32_t vol = b[454] | b[455] << 8 | b[456] << 16 | (uint32_t)b[457] << 24;
    ASSERT_TRUE(tarjeta.tarjeta().leer(vol, b));
    uint32_t inicio = vol + (b[14] | b[15] << 8), por_fat = b[22] | b[23] << 8;
    uint8_t lleno[512];
    memset(lleno, 0xFF, sizeof lleno);
    for (uint32_t i = 0; i < 2 * por_fat; i++) {
        lleno[0] = i % por_fat == 0 ? 0xF8 : 0xFF;
        ASSERT_TRUE(tarjeta.tarjeta().escribir(inicio + i, lleno));
    }
    arranque();
    reloj(7, 12, 26, 14, 30);
    pasadas();
    std::string consola = banco.salida(1);
    EXPECT_NE(consola.find("L\xEDmite m\xE1ximo de memoria SD superado.\r\n"), std::string::npos) << consola;
    EXPECT_GE(CTE_PORCENTAJE_FULL_SD, 99);
    EXPECT_EQ(ccreacion_nuevo_directorio, 0);
    for (int k = 0; k < 3; k++) EXPECT_EQ(ccreacion_nuevo_fichero[k], 0) << k;
    EXPECT_FALSE(miSD.exists("261207"));
}

// The first FAT block and the number of blocks of one FAT of the card's volume.
static void tabla_fat(TarjetaDePrueba &tarjeta, uint32_t *inicio, uint32_t *por_fat)
{
    uint8_t b[512];
    ASSERT_TRUE(tarjeta.tarjeta().leer(0, b));
    uint32_t vol = b[454] | b[455] << 8 | b[456] << 16 | (uint32_t)b[457] << 24;
    ASSERT_TRUE(tarjeta.tarjeta().leer(vol, b));
    *inicio = vol + (b[14] | b[15] << 8);
    *por_fat = b[22] | b[23] << 8;
}

// The occupancy trace: the FAT type, then each attempt on the same line.
TEST_F(GestionSd, TheOccupancyIsTracedOnOneLineAfterTheFatType)
{
    TarjetaDePrueba tarjeta({}, 64, "gestion_traza_ocupacion.img", &banco.placa);
    banco.borrar_salidas();
    EXPECT_EQ(espacio_ocupado_SD(), 0);
    std::string consola = banco.salida(1);
    const std::string inicio = "\nTipo de volumen FAT = 16  -  nReintentos=1 - Tama\xF1o total SD = ";
    EXPECT_EQ(consola.substr(0, inicio.size()), inicio) << consola;
    const std::string final = " milisegs. ==> Porcentaje ocupado SD = 0 %\r\n\r\n";
    size_t porcentaje = consola.find(final);
    ASSERT_NE(porcentaje, std::string::npos) << consola;
    EXPECT_EQ(porcentaje + final.size(), consola.size()) << consola;
    EXPECT_EQ(consola.find('\r'), consola.size() - 4) << consola;  // one line up to the result
    EXPECT_NE(consola.find(" MB.  - Clusters libres : "), std::string::npos) << consola;
}

// A card whose FAT cannot be read: the count fails twice, the last measured
// occupancy stands (working and stored) and the failure is traced; without
// any measurement the card is not taken for an empty one.
TEST_F(GestionSd, AFailedFreeSpaceCountKeepsTheLastMeasuredOccupancy)
{
    TarjetaDePrueba tarjeta({}, 64, "gestion_fat_ilegible.img", &banco.placa);
    uint32_t inicio = 0, por_fat = 0;
    tabla_fat(tarjeta, &inicio, &por_fat);
    tarjeta.tarjeta().error_lectura_entre(inicio + por_fat - 1, inicio + por_fat - 1);
    CTE_PORCENTAJE_FULL_SD = 57;
    escritura_variable_porcentaje_SD(57);
    banco.borrar_salidas();
    EXPECT_EQ(espacio_ocupado_SD(), 57);
    EXPECT_EQ(CTE_PORCENTAJE_FULL_SD, 57);
    EXPECT_EQ(lectura_variable_porcentaje_SD(), 57);
    std::string consola = banco.salida(1);
    EXPECT_EQ(contar_apariciones(consola, " - Clusters libres : -1.00"), 2u) << consola;
    // Both attempts on the line of the FAT type, then the failure's line.
    size_t segundo = consola.find(" - Clusters libres : -1.00  -  nReintentos=2 - Tama\xF1o total SD = ");
    EXPECT_NE(segundo, std::string::npos) << consola;
    EXPECT_EQ(consola.find('\r'), consola.size() - 2) << consola;
    EXPECT_NE(consola.find(" - Clusters libres : -1.00  ->  Recuento fallido. Se mantiene % ocupado SD = 57\r\n"),
              std::string::npos)
        << consola;

    // The last measurement is what the limit is checked against: a new
    // directory is made under it.
    arranque();
    CTE_PORCENTAJE_FULL_SD = 57;
    reloj(7, 12, 26, 14, 30);
    pasadas();
    EXPECT_TRUE(miSD.exists("261207"));
    EXPECT_EQ(ccreacion_nuevo_fichero[TIPO_RAW], 2);
    // Never measured: the count's failure does not pass the 99 % limit.
    arranque();
    reloj(8, 12, 26, 9, 0);
    CTE_PORCENTAJE_FULL_SD = 255;
    pasadas();
    EXPECT_EQ(CTE_PORCENTAJE_FULL_SD, 255);
    EXPECT_FALSE(miSD.exists("261208"));
    for (int k = 0; k < 3; k++) EXPECT_EQ(ccreacion_nuevo_fichero[k], 0) << k;
}

TEST_F(GestionSd, TheRawFileOverTheLimitSwitchesWritingOff)
{
    TarjetaDePrueba tarjeta({}, 64, "gestion_tope.img", &banco.placa);
    arranque();
    reloj(7, 12, 26, 14, 30);
    pasadas();
    ContadorNumeroFicheros = 100;
    ccreacion_nuevo_fichero[TIPO_RAW] = 3;
    pasadas(2);
    EXPECT_NE(banco.salida(1).find(
                  "\t\t\t\t\t\t\t\t\t\t\t\t\t\t==> Prohibida la escritura en SD por N\xBA Ficheros superado:101\r\n"),
              std::string::npos);
    EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD, 0);
    EXPECT_EQ(ContadorNumeroFicheros, 0);
    // The service is now off whatever the states say.
    registro(TIPO_RES, "RES,x\r\n");
    pasadas(1);
    EXPECT_EQ(cescritura_sd[TIPO_RES], 1);
}

// SD writing not allowed: the card is never started and nothing is written,
// whatever the directory and file states say.
TEST_F(GestionSd, WithWritingNotAllowedTheCardIsNeverStarted)
{
    TarjetaDePrueba tarjeta({}, 64, "gestion_sin_permiso.img", &banco.placa);
    arranque();
    reloj(7, 12, 26, 14, 30);
    CTE_PERMITIR_ESCRITURA_SD = 0;
    ccreacion_nuevo_directorio = 1;
    ccreacion_nuevo_fichero[0] = 3;
    ccreacion_nuevo_fichero[1] = 1;
    ccreacion_nuevo_fichero[2] = 2;
    registro(TIPO_RAW, "muestra\r\n");
    registro(TIPO_WAV, "ola\r\n");
    registro(TIPO_RES, "RES\r\n");
    banco.borrar_salidas();
    placa::EstadisticasTarjeta antes = tarjeta.tarjeta().estadisticas();
    pasadas(10);
    placa::EstadisticasTarjeta despues = tarjeta.tarjeta().estadisticas();
    EXPECT_EQ(despues.bloques_leidos, antes.bloques_leidos);
    EXPECT_EQ(despues.bloques_escritos, antes.bloques_escritos);
    EXPECT_EQ(ctarjeta_sd_inicializada, 0);
    EXPECT_EQ(banco.salida(1), "");
    EXPECT_EQ(ccreacion_nuevo_directorio, 1);
    EXPECT_EQ(ccreacion_nuevo_fichero[0], 3);
    EXPECT_EQ(ccreacion_nuevo_fichero[1], 1);
    for (int k = 0; k < 3; k++) EXPECT_EQ(cescritura_sd[k], 1) << k;
}

TEST_F(GestionSd, AMissingCardIsTriedAgainAMinuteLater)
{
    TarjetaDePrueba tarjeta({}, 64, "gestion_retirada.img", &banco.placa);
    tarjeta.tarjeta().retirar();
    arranque();
    reloj(7, 12, 26, 14, 30);
    pasadas(1);
    EXPECT_EQ(banco.salida(1), "SD no presente\r\n");
    EXPECT_EQ(csegundos_retardo_gestion_sd, 60);
    EXPECT_EQ(CTE_PORCENTAJE_FULL_SD, 112);
    EXPECT_EQ(resSdOk, 0);
    EXPECT_EQ(ctarjeta_sd_inicializada, 0);
    // While the pause lasts the card is left alone.
    tarjeta.tarjeta().insertar();
    pasadas(3);
    EXPECT_EQ(ctarjeta_sd_inicializada, 0);
    csegundos_retardo_gestion_sd = 0;  // the minute is over
    pasadas();
    EXPECT_EQ(ctarjeta_sd_inicializada, 1);
    // The no-card mark asks for a fresh measurement.
    EXPECT_EQ(CTE_PORCENTAJE_FULL_SD, 0);
    EXPECT_EQ(NOMBRE_FICHERO_RAW, String("261207/1430.raw"));
}

TEST_F(GestionSd, ARecordWhoseFileIsMissingIsDropped)
{
    TarjetaDePrueba tarjeta({}, 64, "gestion_falta.img", &banco.placa);
    arranque();
    reloj(7, 12, 26, 14, 30);
    pasadas();
    ASSERT_TRUE(miSD.remove("261207/1430.res"));
    ContadorNumeroFicheros = 5;
    banco.borrar_salidas();
    registro(TIPO_RES, "RES,perdido\r\n");
    pasadas(1);
    EXPECT_EQ(cescritura_sd[TIPO_RES], 0);
    EXPECT_EQ(ContadorNumeroFicheros, 5);
    EXPECT_FALSE(miSD.exists("261207/1430.res"));
    EXPECT_EQ(banco.salida(1).find("Guardando en"), std::string::npos);
    EXPECT_FALSE(existe_fichero_sd(NOMBRE_FICHERO_RES));
    EXPECT_FALSE(existe_fichero_sd(String("")));
    EXPECT_TRUE(existe_fichero_sd(NOMBRE_FICHERO_RAW));
    // The card still answers: it is not started again.
    EXPECT_EQ(ctarjeta_sd_inicializada, 1);
}

TEST_F(GestionSd, ACardPutBackIsStartedAgainButAWornOneIsNot)
{
    TarjetaDePrueba tarjeta({}, 64, "gestion_vuelta.img", &banco.placa);
    arranque();
    reloj(7, 12, 26, 14, 30);
    pasadas();
    bloque_de_registros("antes de sacarla .............................\r\n");
    // Pulled out and put back between two writes: the card must be started
    // again before it answers, so the next block fails and the service
    // starts it again, dropping the lost card's handles.
    tarjeta.tarjeta().retirar();
    tarjeta.tarjeta().insertar();
    int n = 0;
    for (; n < 20 && ctarjeta_sd_inicializada == 1; n++) {
        registro(TIPO_RAW, "perdida ......................................\r\n");
        pasadas(1);
    }
    EXPECT_EQ(ctarjeta_sd_inicializada, 0);
    EXPECT_LE(n, 11);  // found at the first block that goes to the card
    EXPECT_FALSE(ffichero_raw.isOpen());
    banco.borrar_salidas();
    reloj(7, 12, 26, 14, 34);
    pasadas();
    EXPECT_NE(banco.salida(1).find("SD inicializada\r\n"), std::string::npos) << banco.salida(1);
    EXPECT_NE(banco.salida(1).find("Fichero RES localizado: /261207/1430.res"), std::string::npos);
    EXPECT_EQ(NOMBRE_FICHERO_RAW, String("261207/1434.raw"));
    bloque_de_registros("despues ......................................\r\n");
    EXPECT_EQ(ctarjeta_sd_inicializada, 1);
    std::string antes = leer("261207/1430.raw");
    EXPECT_EQ(antes.find("perdida"), std::string::npos);
    EXPECT_NE(antes.find("antes de sacarla"), std::string::npos);
    // A card that answers but refuses every write stays mounted.
    tarjeta.tarjeta().error_escritura_desde(0);
    bloque_de_registros("en una tarjeta gastada .......................\r\n");
    registro(TIPO_RES, "RES,gastada\r\n");
    pasadas(1);
    EXPECT_EQ(ctarjeta_sd_inicializada, 1);
    EXPECT_TRUE(ffichero_raw.isOpen());
}

TEST_F(GestionSd, ANewDayClosesTheOpenFilesOfThePreviousOne)
{
    TarjetaDePrueba tarjeta({}, 64, "gestion_cambio_dia.img", &banco.placa);
    arranque();
    reloj(7, 12, 26, 23, 50);
    pasadas();
    registro(TIPO_RAW, "ultima muestra del dia\r\n");
    pasadas(1);
    registro(TIPO_WAV, "ultima ola del dia\r\n");
    pasadas(1);
    reloj(8, 12, 26, 0, 0);
    ccreacion_nuevo_directorio = 1;
    pasadas();
    EXPECT_EQ(NOMBRE_FICHERO_RAW, String("261208/0000.raw"));
    // A fresh look at the card: the old files hold their records and sizes.
    miSD = SdFat();
    ffichero_raw = File();
    ffichero_wav = File();
    ASSERT_TRUE(miSD.begin(SD_CHIP_SELECT_PIN, SD_SCK_MHZ(12)));
    EXPECT_EQ(leer("261207/2350.raw"), "ultima muestra del dia\r\n");
    EXPECT_EQ(leer("261207/2350.wav"), "ultima ola del dia\r\n");
}

TEST(NombresSd, TheHelpersStayWithinTheirArray)
{
    char nombre[8];
    memset(nombre, 'x', sizeof nombre);
    cbytes_nombre_fichero = 0;
    inserto_variable(nombre, 261207, 6, sizeof nombre);
    inserto_mensaje(nombre, "/demasiado_largo.raw", sizeof nombre);
    EXPECT_EQ(cbytes_nombre_fichero, 7);
    nombre[cbytes_nombre_fichero] = 0;
    EXPECT_STREQ(nombre, "261207/");
    cbytes_nombre_fichero = 0;
    inserto_variable(nombre, 5, 2, sizeof nombre);
    inserto_variable(nombre, 1234, 2, sizeof nombre);  // only the last digits fit the field
    inserto_bytes(nombre, 0, sizeof nombre);
    EXPECT_STREQ(nombre, "0534");
}
