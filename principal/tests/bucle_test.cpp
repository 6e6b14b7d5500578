// One pass of the main loop: the order of its steps and what each leaves for the next.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "declaraciones/declaraciones.h"
#include "plataforma/tests/banco_pruebas.h"
#include "principal/principal.h"
#include "virtual_e2prom/virtual_e2prom.h"
#include "waves/analisis.h"
#include "waves/horario.h"
#include "waves/waves.h"

namespace {

class Bucle : public ::testing::Test {
protected:
    void SetUp() override
    {
        configureTCC0(47999, 1);
        CTE_PERMITIR_ESCRITURA_SD = 0;
        cmostramos_hora = 0;
        cdatos_tx_tov03 = 0;
        ccantidad_bytes_rx_tov03 = 0;
        creset = 0;
        cpeticion_nueva_hora = 0;
        cgps_configurado = 0;
        cgps_mudo = 0;
        cguardar_contador_ficheros_dia = 0;
        cRevision_Resets_24h = 0;
        cfecha_capturada = 0;
        banco.borrar_salidas();
    }
    void TearDown() override
    {
        tcc0_desactivar();
        CTE_PERMITIR_ESCRITURA_SD = 1;
        creset = 0;
    }
    void pendiente_tov03(const char *texto)
    {
        std::strcpy(cbuffer_tov03, texto);
        ibytes_a_escribir_sd[TIPO_TOV03] = (uint32_t)std::strlen(texto);
        cdatos_tx_tov03 = 1;
    }
    BancoPruebas banco{true};
};

TEST_F(Bucle, UnRegistroPendienteAplazaElGps)
{
    cpeticion_nueva_hora = 1;
    cgps_configurado = 1;
    cestado_gps = 0;
    banco.enviar(3, "$GPRMC,unread\r\n");
    banco.placa.avanzar(48000 * 30);
    pendiente_tov03("$GPS,record*00\r\n");
    loop();
    // The record went out in the same pass; the GPS step left the receiver's
    // bytes for the next pass and the receiver configured, the request served.
    EXPECT_EQ(cgps_configurado, 1);
    EXPECT_EQ(cestado_gps, 0);
    EXPECT_EQ(cdatos_tx_tov03, 0);
    EXPECT_EQ(banco.salida(0), "$GPS,record*00\r\n");
    EXPECT_GT(Serial3.available(), 0);
    loop();
    EXPECT_EQ(Serial3.available(), 0);
    EXPECT_EQ(ibytes_recibidos_trama_gps, 15u);
    EXPECT_EQ(banco.salida(1).find("Configurando tramas GPS"), std::string::npos);
}

TEST_F(Bucle, UnReceptorMudoSeConfiguraCuandoSeLeOye)
{
    cpeticion_nueva_hora = 1;
    cgps_configurado = 1;
    cgps_mudo = 1;
    cestado_gps = 0;
    ibytes_recibidos_trama_gps = 0;
    loop();
    EXPECT_EQ(cgps_configurado, 1);
    banco.enviar(3, "$GPGGA,alive\r\n");
    banco.placa.avanzar(48000 * 30);
    loop();
    EXPECT_EQ(cgps_configurado, 0);  // the next pass configures it
    EXPECT_EQ(ibytes_recibidos_trama_gps, 0u);
    cgps_mudo = 0;
}

// Bytes at the given rate, one every `paso` cycles (0: back to back), from now on.
static void enviar_espaciados(BancoPruebas &banco, int puerto, const std::string &bytes, uint64_t paso)
{
    uint64_t c = banco.placa.ciclo();
    uint32_t baudios = banco.placa.uart_baudios(puerto);
    if (paso == 0) {
        banco.enviar(puerto, bytes);
        return;
    }
    for (char b : bytes) {
        banco.placa.enviar_a_placa(puerto, reinterpret_cast<const uint8_t *>(&b), 1, baudios, c);
        c += paso;
    }
}

static double segundos_desde(BancoPruebas &banco, uint64_t ciclo) { return (double)(banco.placa.ciclo() - ciclo) / 48e6; }

TEST_F(Bucle, UnGpsQueNoCallaNoRetieneLaPasada)
{
    cpeticion_nueva_hora = 1;
    cgps_configurado = 1;
    cgps_mudo = 0;
    std::string flujo;
    for (int k = 0; flujo.size() < 3000; k++)
        flujo += "$GPGGA,1430" + std::to_string(10 + k % 50) + ".00,,,,,0,00,99.99,,,,,,*5B\r\n";
    // Three seconds of a line that never pauses: each burst ends with its
    // buffer full, and the next one goes on from the following byte.
    enviar_espaciados(banco, 3, flujo, 0);
    std::string leido;
    for (int k = 0; k < 3; k++) {
        banco.placa.avanzar(48000 * 5);
        uint64_t antes = banco.placa.ciclo();
        servicio_gps();
        EXPECT_LT(segundos_desde(banco, antes), 0.28) << k;
        EXPECT_EQ(ibytes_recibidos_trama_gps, 256u) << k;
        leido.append((const char *)ctrama_rx_gps, ibytes_recibidos_trama_gps);
    }
    EXPECT_EQ(leido, flujo.substr(0, leido.size()));
    // Bytes that trickle in with gaps shorter than 20 ms: the burst ends 300 ms on.
    banco.placa.avanzar(48000 * 3000);
    while (Serial3.available() > 0) Serial3.read();
    enviar_espaciados(banco, 3, std::string(100, 'x'), 48000 * 15);
    banco.placa.avanzar(48000 * 2);
    uint64_t antes = banco.placa.ciclo();
    servicio_gps();
    EXPECT_NEAR(segundos_desde(banco, antes), 0.30, 0.01);
    EXPECT_EQ(ibytes_recibidos_trama_gps, 21u);
}

TEST_F(Bucle, UnEnlaceQueBalbuceaNoRetieneLaPasadaYLaOrdenLlegaDespues)
{
    // A byte every 50 ms for 3 s, then a command 500 ms later.
    enviar_espaciados(banco, 0, std::string(60, '#'), 48000 * 50);
    banco.placa.avanzar(48000 * 2);
    int pasadas = 0;
    while (banco.placa.ciclo() < 48000ull * 3200) {
        uint64_t antes = banco.placa.ciclo();
        servicio_telemetria();
        ASSERT_LT(segundos_desde(banco, antes), 0.16);
        if (ccantidad_bytes_rx_tov03 > 0) pasadas++;
        ccantidad_bytes_rx_tov03 = 0;
        banco.placa.avanzar(48000);
    }
    EXPECT_GE(pasadas, 15);
    banco.placa.avanzar_hasta(48000ull * 3500);
    banco.enviar(0, "$TOV03,1,5*4A\r\n");
    banco.placa.avanzar(48000 * 5);
    servicio_telemetria();
    EXPECT_EQ(std::string((char *)ctrama_rx_tov03, ccantidad_bytes_rx_tov03), "$TOV03,1,5*4A\r\n");
    EXPECT_EQ(cdatos_tx_tov03, 1);  // its reply waits for the next pass
}

TEST_F(Bucle, EnviarORecibirNuncaAmbosEnUnaPasada)
{
    pendiente_tov03("$OLA,01,01*00\r\n");
    banco.enviar(0, "$TOV03,1,5*0F\r\n");
    banco.placa.avanzar(48000 * 10);
    loop();
    EXPECT_EQ(ccantidad_bytes_rx_tov03, 0);  // nothing read while sending
    EXPECT_GT(Serial.available(), 0);
    loop();
    EXPECT_EQ(ccantidad_bytes_rx_tov03, 15);
    EXPECT_EQ(std::string((char *)ctrama_rx_tov03, 15), "$TOV03,1,5*0F\r\n");
}

TEST_F(Bucle, UnaOrdenLargaSeCortaA128Bytes)
{
    std::string larga = "$TOV03,";
    while (larga.size() < 200) larga += "1234567890";
    banco.enviar(0, larga);
    banco.placa.avanzar(48000 * 100);
    loop();
    EXPECT_EQ(ccantidad_bytes_rx_tov03, 128);
    EXPECT_EQ(std::string((char *)ctrama_rx_tov03, 128), larga.substr(0, 128));
    EXPECT_EQ(Serial.available(), 0);  // the rest was read and dropped
}

TEST_F(Bucle, ElCambioDeDiaGuardaElContadorDesdeElBucle)
{
    grabacion_parametros_por_defecto();
    escritura_variable_contador_Ficheros(33);
    cguardar_contador_ficheros_dia = 1;
    loop();
    EXPECT_EQ(cguardar_contador_ficheros_dia, 0);
    EXPECT_EQ(lectura_variable_contador_Ficheros(), 0);
}

TEST_F(Bucle, ResetOrdenadoDespuesDeEnviarLaRespuesta)
{
    sodaq_wdt_enable(WDT_PERIOD_2X);
    // The command's pass left the reply pending: this pass sends it, then
    // waits 1 s and lets the watchdog reset the board.
    creset = 1;
    pendiente_tov03("$OLA,01,01*00\r\n");
    uint64_t antes = banco.placa.ciclo();
    try {
        loop();
        FAIL() << "no reset";
    } catch (const placa::ReinicioPlaca &r) {
        EXPECT_EQ(r.causa, placa::CAUSA_PARADA_FIRMWARE);
        double s = (double)(r.ciclo - antes) / 48e6;
        EXPECT_GT(s, 2.9);
        EXPECT_LT(s, 3.1);
    }
    EXPECT_EQ(banco.salida(0), "$OLA,01,01*00\r\n");
}

// A command read in one pass and the end of an interval in the sensor step of
// the next: the reply still goes out, before the interval's "$RES," frame.
TEST_F(Bucle, UnaRespuestaPendienteNoLaPisaElResumenDelIntervalo)
{
    Comenzar_Proceso_Nuevo_Promedio_Olas();
    CTE_INTERVALO_PROMEDIO_INTERPRETADO = 20;
    CONTADOR_CERO_OLAS = 0;
    cdia_utc = 7;
    cmes_utc = 12;
    cano_utc = 26;
    chora_utc = 14;
    cminuto_utc = 50;
    pendiente_tov03("$OLA,01,01,5,00007*2F\r\n");
    Calcular_Parametros_Salida_Ola_Promedio();  // what the sensor step calls at the interval's end
    loop();
    loop();
    std::string enlace = banco.salida(0);
    EXPECT_EQ(enlace.substr(0, 23), "$OLA,01,01,5,00007*2F\r\n") << enlace;
    EXPECT_EQ(enlace.find("$RES,07,12,26,14,50,00000,"), 23u) << enlace;
    EXPECT_EQ(cdatos_tx_tov03, 0);
    ctimeout_reset_general = 0;
}

}  // namespace
