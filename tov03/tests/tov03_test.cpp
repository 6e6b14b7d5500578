// Command frames and their replies, byte for byte.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "comunicaciones_pc/comunicaciones_pc.h"
#include "declaraciones/declaraciones.h"
#include "plataforma/tests/banco_pruebas.h"
#include "tov03/tov03.h"
#include "virtual_e2prom/virtual_e2prom.h"
#include "waves/waves.h"

namespace {

std::string con_suma(const std::string &cuerpo)
{
    uint8_t x = 0;
    for (char c : cuerpo) x ^= (uint8_t)c;
    char suma[8];
    std::snprintf(suma, sizeof suma, "*%02X\r\n", x);
    return "$" + cuerpo + suma;
}

class Telemando : public ::testing::Test {
protected:
    void SetUp() override
    {
        ruta_ = fichero_temporal("olas_tov03.bin");
        banco_.placa.configurar_eeprom(ruta_);
        grabacion_parametros_por_defecto();
        cdatos_tx_tov03 = 0;
        cpeticion_nueva_hora = 0;
        creset = 0;
        borrar_eeprom = 0;
        cextraigo_tov03 = 0;
        CTE_MODO_TRANSPARENTE = 0;
        CTE_USO_APP_TOV03 = 0;
        banco_.borrar_salidas();
    }
    void TearDown() override
    {
        creset = 0;
        CTE_MODO_TRANSPARENTE = 0;
        std::remove(ruta_.c_str());
    }
    // The frame as the main loop hands it over; returns the reply, or "" when none.
    std::string enviar(const std::string &trama)
    {
        size_t n = trama.size() < TAM_TRAMA_TOV03 ? trama.size() : TAM_TRAMA_TOV03;
        for (size_t i = 0; i < n; i++) ctrama_rx_tov03[i] = (uint8_t)trama[i];
        ccantidad_bytes_rx_tov03 = (uint8_t)n;
        cdatos_tx_tov03 = 0;
        procesamos_trama_tov03();
        if (cdatos_tx_tov03 != 1) return "";
        cdatos_tx_tov03 = 0;
        return std::string(cbuffer_tov03);
    }
    std::string orden(const std::string &cuerpo) { return enviar(con_suma(cuerpo)); }
    BancoPruebas banco_;
    std::string ruta_;
};

TEST_F(Telemando, ConsultasDelGrupoUno)
{
    escritura_variable_contador_reinicios(42);
    EXPECT_EQ(orden("TOV03,1,5"), con_suma("OLA,01,01,5,00042"));
    EXPECT_EQ(orden("TOV03,1,1"), con_suma("OLA,01,01"));
    EXPECT_EQ(cpeticion_nueva_hora, 1);
    EXPECT_EQ(orden("TOV03,1,1"), con_suma("OLA,01,02"));
    escritura_variable_porcentaje_SD(7);
    EXPECT_EQ(orden("TOV03,1,6"), con_suma("OLA,01,01,6,007"));
    EXPECT_EQ(orden("TOV03,1,12"), con_suma("OLA,01,01,12,00100"));
    EXPECT_EQ(orden("TOV03,1,16"), con_suma("OLA,01,01,16,48000"));
    EXPECT_EQ(orden("TOV03,1,19"), con_suma("OLA,01,01,19,5"));
    EXPECT_EQ(orden("TOV03,1,2"), con_suma("OLA,01,01"));
    EXPECT_EQ(creset, 1);
    for (const char *fuera : {"TOV03,1,0", "TOV03,1,24", "TOV03,1,29", "TOV03,1,32", "TOV03,16,1", "TOV03,0"})
        EXPECT_EQ(orden(fuera), "") << fuera;
}

TEST_F(Telemando, EstadoYAjustes)
{
    cdia_utc = 7; cmes_utc = 12; cano_utc = 26; chora_utc = 14; cminuto_utc = 35;
    dd_ola = 7; mm_ola = 12; yy_ola = 26; HH_ola = 14; MM_ola = 31;
    resSbgOk = 1;
    resSdOk = 2;
    escritura_variable_contador_reinicios(3);
    EXPECT_EQ(orden("TOV03,1,8"), con_suma("OLA,01,01,8,07,12,26,14,35,000,00003,07,12,26,14,31,1,2"));
    EXPECT_EQ(orden("TOV03,2"), con_suma("OLA,02,04,1,0,00000,03000,03,90,20,1,0,001,002,003,65535"));
}

TEST_F(Telemando, TramasRechazadas)
{
    std::string buena = con_suma("TOV03,1,5");
    std::string mala = buena;
    mala[mala.size() - 3] = mala[mala.size() - 3] == '0' ? '1' : '0';
    EXPECT_EQ(enviar(mala), "");
    EXPECT_EQ(enviar(" " + buena), "");           // a stray byte before "$"
    EXPECT_EQ(enviar(con_suma("TOV04,1,5")), "");  // another header
    // "$TOV03,1,3" has a checksum with a letter: written in lower case it is refused.
    uint8_t x = 0;
    for (char c : std::string("TOV03,1,3")) x ^= (uint8_t)c;
    char suma[4];
    std::snprintf(suma, sizeof suma, "%02x", x);
    ASSERT_TRUE(std::isalpha((unsigned char)suma[0]) || std::isalpha((unsigned char)suma[1]));
    EXPECT_EQ(enviar(std::string("$TOV03,1,3*") + suma + "\r\n"), "");
    EXPECT_EQ(enviar("$TOV03,1,5"), "");  // no checksum at all
    EXPECT_EQ(enviar(""), "");
    // Only the checksum trace is printed.
    EXPECT_NE(banco_.salida(1).find("0_Fin Comprobar_checksum\r\n"), std::string::npos);
    // Two frames in one burst: only the first counts.
    EXPECT_EQ(enviar(buena + con_suma("TOV03,1,2")), con_suma("OLA,01,01,5,00000"));
    EXPECT_EQ(creset, 0);
}

TEST_F(Telemando, PuestaEnHora)
{
    EXPECT_EQ(orden("TOV03,4,24,02,29,10,00,00"), con_suma("OLA,04,33"));  // February always has 28 days
    EXPECT_EQ(orden("TOV03,4,26,04,31,10,00,00"), con_suma("OLA,04,33"));
    EXPECT_EQ(orden("TOV03,4,18,05,01,10,00,00"), con_suma("OLA,04,33"));
    EXPECT_EQ(orden("TOV03,4,26,05,01,10,00"), con_suma("OLA,04,33"));  // second missing
    EXPECT_EQ(orden("TOV03,4,26,05,01,24,00,00"), con_suma("OLA,04,33"));
    cmostramos_hora = 0;
    cfecha_capturada = 0;
    EXPECT_EQ(orden("TOV03,4,24,12,31,23,59,59"), con_suma("OLA,04,01"));
    EXPECT_EQ(cdia_utc, 31);
    EXPECT_EQ(cmes_utc, 12);
    EXPECT_EQ(cano_utc, 24);
    EXPECT_EQ(chora_utc, 23);
    EXPECT_EQ(cminuto_utc, 59);
    EXPECT_EQ(csegundo_utc, 59);
    EXPECT_EQ(cmostramos_hora, 1);
    EXPECT_EQ(cfecha_capturada, 1);
    // A year above 99 would print as "00" in every record and name the directory 00MMDD.
    EXPECT_EQ(orden("TOV03,4,100,01,01,00,00,00"), con_suma("OLA,04,33"));
    EXPECT_EQ(cano_utc, 24);
    EXPECT_EQ(orden("TOV03,4,99,01,01,00,00,00"), con_suma("OLA,04,01"));
    EXPECT_EQ(cano_utc, 99);
}

// The file limit is stored in two bytes, where a value above 65530 becomes 0
// and 0 would stop SD writing at the first file: such limits are refused.
TEST_F(Telemando, TopeDeFicherosQueElAlmacenNoGuarda)
{
    CTE_NUMERO_MAXIMO_FICHEROS = 100;
    for (const char *fuera : {"TOV03,9,65531", "TOV03,9,65535", "TOV03,9,70000", "TOV03,9,0"}) {
        EXPECT_EQ(orden(fuera), con_suma("OLA,09,33")) << fuera;
        EXPECT_EQ(CTE_NUMERO_MAXIMO_FICHEROS, 100) << fuera;
        EXPECT_EQ(lectura_variable_Tope_Maximo_Ficheros(), 100) << fuera;
    }
    EXPECT_EQ(orden("TOV03,9,65530"), con_suma("OLA,09,01"));
    EXPECT_EQ(CTE_NUMERO_MAXIMO_FICHEROS, 65530);
    EXPECT_EQ(lectura_variable_Tope_Maximo_Ficheros(), 65530);
    EXPECT_EQ(orden("TOV03,9,1"), con_suma("OLA,09,01"));
    EXPECT_EQ(CTE_NUMERO_MAXIMO_FICHEROS, 1);
    EXPECT_EQ(orden("TOV03,9"), con_suma("OLA,09,01"));  // absent: nothing changes
    EXPECT_EQ(CTE_NUMERO_MAXIMO_FICHEROS, 1);
}

TEST_F(Telemando, VelocidadDelEnlace)
{
    EXPECT_EQ(orden("TOV03,13,9"), con_suma("OLA,13,33"));
    EXPECT_EQ(orden("TOV03,13"), con_suma("OLA,13,33"));
    EXPECT_EQ(banco_.placa.uart_baudios(0), 38400u);
    EXPECT_EQ(orden("TOV03,13,8"), con_suma("OLA,13,01"));
    EXPECT_EQ(banco_.placa.uart_baudios(0), 115200u);
    EXPECT_EQ(lectura_variable_Baudrate_TOV(), 8);
    EXPECT_NE(banco_.salida(1).find("\t\t\t\t==> Actualizar Baudrate en TOV: 115200 OK.\r\n"), std::string::npos);
    EXPECT_EQ(orden("TOV03,13,5"), con_suma("OLA,13,01"));
}

TEST_F(Telemando, EscrituraDeAjustesSoloConCamposValidos)
{
    CTE_METODO_DIRECCION = 1;
    uint64_t antes = banco_.placa.eeprom_commits();
    EXPECT_EQ(orden("TOV03,3,,,,,,,,25,,,,,,"), con_suma("OLA,03,01"));
    EXPECT_EQ(CTE_INTERVALO_PROMEDIO, 20);
    EXPECT_EQ(CTE_METODO_DIRECCION, 0);
    EXPECT_EQ(choras_sincronizacion_gps, 4);
    EXPECT_EQ(banco_.placa.eeprom_commits(), antes);  // the same bytes again: no flash write
    EXPECT_EQ(orden("TOV03,3,12,0,1,10,2500,4,20,30,2,1,5,6,7,255"), con_suma("OLA,03,01"));
    EXPECT_EQ(choras_sincronizacion_gps, 12);
    EXPECT_EQ(CTE_FACTOR_CORRECCION_DIRECCION_STANDAR, 0);
    EXPECT_EQ(CTE_PROCESAR_OLA_ALTURA_MINIMA, 10);
    EXPECT_EQ(CTE_PROCESAR_OLA_ALTURA_MAXIMA, 2500);
    EXPECT_EQ(CTE_INTERVALO_PROMEDIO, 30);
    EXPECT_EQ(icanales_activados_sensor, 255u);
    EXPECT_EQ(EEPROM.read(POS_INTERVALO_PROMEDIO), 30);
    EXPECT_EQ(orden("TOV03,3,25,7"), con_suma("OLA,03,01"));  // out of range: kept
    EXPECT_EQ(choras_sincronizacion_gps, 12);
    EXPECT_EQ(CTE_FACTOR_CORRECCION_DIRECCION_STANDAR, 0);
}

TEST_F(Telemando, CamposAusentesNoCambianNada)
{
    escritura_variable_contador_reinicios(9);
    EXPECT_EQ(orden("TOV03,5"), con_suma("OLA,05,01"));
    EXPECT_EQ(orden("TOV03,5,"), con_suma("OLA,05,01"));
    EXPECT_EQ(lectura_variable_contador_reinicios(), 9);
    EXPECT_EQ(orden("TOV03,5,0"), con_suma("OLA,05,01"));
    EXPECT_EQ(lectura_variable_contador_reinicios(), 0);
    EXPECT_EQ(orden("TOV03,11,50000"), con_suma("OLA,11,01"));
    EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48000);
    EXPECT_EQ(banco_.placa.periodo_tick_ciclos(), 48001u);
    EXPECT_EQ(orden("TOV03,12,1"), con_suma("OLA,12,01"));
    EXPECT_EQ(CTE_USO_APP_TOV03, 1);
}

TEST_F(Telemando, DerivaDelReloj)
{
    Tiempo_Resta = -125;
    EXPECT_EQ(orden("TOV03,1,17"), con_suma("OLA,01,01,17,0,00205"));
    Tiempo_Resta = 20000;
    EXPECT_EQ(orden("TOV03,1,17"), con_suma("OLA,01,01,17,1,250"));
    Tiempo_Resta = 0;
    EXPECT_EQ(orden("TOV03,1,17"), con_suma("OLA,01,01,17,1,00000"));
    // The cap counts whole minutes: up to 250 min 59 s the reply is exact.
    Tiempo_Resta = 15000;
    EXPECT_EQ(orden("TOV03,1,17"), con_suma("OLA,01,01,17,1,25000"));
    Tiempo_Resta = 15059;
    EXPECT_EQ(orden("TOV03,1,17"), con_suma("OLA,01,01,17,1,25059"));
    Tiempo_Resta = -15059;
    EXPECT_EQ(orden("TOV03,1,17"), con_suma("OLA,01,01,17,0,25059"));
    Tiempo_Resta = 15060;
    EXPECT_EQ(orden("TOV03,1,17"), con_suma("OLA,01,01,17,1,250"));
    Tiempo_Resta = -15060;
    EXPECT_EQ(orden("TOV03,1,17"), con_suma("OLA,01,01,17,0,250"));
    EXPECT_NE(banco_.salida(1).find("TIEMPO RESTA = 20000\r\n"), std::string::npos);
}

TEST_F(Telemando, BorradoDeLaImagenEnCuatroPasos)
{
    EXPECT_EQ(orden("TOV03,1,31"), con_suma("OLA,01,01,31,0"));
    EXPECT_EQ(orden("TOV03,1,30"), con_suma("OLA,01,01,30,1"));
    EXPECT_EQ(orden("TOV03,1,31"), con_suma("OLA,01,01,31,2"));
    EXPECT_EQ(orden("TOV03,1,31"), con_suma("OLA,01,01,31,3"));
    EXPECT_EQ(EEPROM.read(POS_INTERVALO_PROMEDIO), 20);
    EXPECT_EQ(orden("TOV03,1,31"), con_suma("OLA,01,01,31,0"));
    for (int i = 0; i < 33; i++) EXPECT_EQ(EEPROM.read(i), 255) << i;
    // The next start repairs it through the load check.
    banco_.placa.reinicio_hardware();
    banco_.placa.uart_begin(1, 115200);
    lectura_de_variables();
    EXPECT_EQ(CTE_INTERVALO_PROMEDIO, 20);
    EXPECT_EQ(choras_sincronizacion_gps, 1);
    EXPECT_EQ(CTE_PROCESAR_OLA_ALTURA_MAXIMA, 3000);
    EXPECT_EQ(lectura_variable_Baudrate_TOV(), 5);
    EXPECT_EQ(lectura_variable_Tope_Maximo_Ficheros(), 65535);
}

TEST_F(Telemando, VolcadosEnHexadecimal)
{
    std::string r = orden("TOV03,1,22");
    ASSERT_EQ(r.rfind("$OLA,01,01,22,04 00 00 0B B8 03 5A 14 01 00 01 02 03 FF FF 01 00 ", 0), 0u) << r;
    EXPECT_EQ(r.size(), std::string("$OLA,01,01,22,").size() + 33 * 3 + 5);
    EXPECT_NE(banco_.salida(1).find(r), std::string::npos);
    for (int i = 0; i < 75; i++) ctrama_sensor_rx[i] = (uint8_t)i;
    r = orden("TOV03,1,3");
    EXPECT_EQ(r.rfind("$OLA,01,01,3,00 01 02 03 ", 0), 0u);
    EXPECT_NE(r.find(" 4A *"), std::string::npos);
    EXPECT_LT(r.size(), (size_t)TAM_BUFFER_TOV03);
}

TEST_F(Telemando, UltimoRegistroRaw)
{
    ibytes_a_escribir_sd[TIPO_RAW] = 0;
    EXPECT_EQ(orden("TOV03,1,7"), con_suma("OLA,01,01"));
    ibytes_a_escribir_sd[TIPO_RAW] = 0;
    insertamos_mensaje_buffer(cbuffer_raw, "123,456\r\n", TIPO_RAW);
    EXPECT_EQ(orden("TOV03,1,7"), con_suma("OLA,01,01,7,123,456"));
    // A record longer than the reply can carry is cut, and the frame still closes.
    ibytes_a_escribir_sd[TIPO_RAW] = 0;
    for (int i = 0; i < 400; i++) inserto_caracter_buffer(cbuffer_raw, 'x', TIPO_RAW);
    std::string r = orden("TOV03,1,7");
    ASSERT_GE(r.size(), 5u);
    EXPECT_EQ(r.substr(r.size() - 2), "\r\n");
    EXPECT_EQ(r[r.size() - 5], '*');
    EXPECT_LT(r.size(), (size_t)TAM_BUFFER_TOV03);
}

TEST_F(Telemando, ModoTransparenteReenviaAntesDeComprobar)
{
    CTE_MODO_TRANSPARENTE = 1;
    std::string mala = "$TOV03,1,5*00\r\n";
    EXPECT_EQ(enviar(mala), "");
    EXPECT_EQ(banco_.salida(2), mala);
    EXPECT_EQ(orden("TOV03,14,0"), con_suma("OLA,14,01"));
    EXPECT_EQ(CTE_MODO_TRANSPARENTE, 0);
}

TEST_F(Telemando, PermisoDeEscrituraSd)
{
    ctarjeta_sd_inicializada = 1;
    NOMBRE_FICHERO_RAW = "/261207/1430.raw";
    EXPECT_EQ(orden("TOV03,7,0"), con_suma("OLA,07,01"));
    EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD, 0);
    EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD_EEPROM, 0);
    EXPECT_EQ(lectura_variable_permitir_escritura_SD(), 0);
    EXPECT_EQ(ctarjeta_sd_inicializada, 0);
    EXPECT_EQ(NOMBRE_FICHERO_RAW.length(), 0u);
    std::string consola = banco_.salida(1);
    EXPECT_NE(consola.find(std::string(52, '=') + "> ENTRA EN ESCRITURA SD <" + std::string(66, '=') +
                           std::string(14, '\t') + "==> Anulada por Telemando la escritura SD.\r\n"),
              std::string::npos);
    cRevision_Resets_24h = 0;
    ctarjeta_sd_inicializada = 1;
    EXPECT_EQ(orden("TOV03,7,1"), con_suma("OLA,07,01"));
    EXPECT_EQ(cRevision_Resets_24h, 1);
    EXPECT_EQ(ctarjeta_sd_inicializada, 0);
    EXPECT_NE(banco_.salida(1).find("==> Futura revisi\xF3n n\xBA resets cuando haya hora: "), std::string::npos);
    CTE_PERMITIR_ESCRITURA_SD = 1;
}

}  // namespace
