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
        creset = 0;
        cpeticion_nueva_hora = 0;
        cgps_configurado = 0;
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
    // The GPS step only marked the receiver unconfigured; the record went out
    // in the same pass; the receiver's bytes were not read.
    EXPECT_EQ(cgps_configurado, 0);
    EXPECT_EQ(cestado_gps, 1);
    EXPECT_EQ(cdatos_tx_tov03, 0);
    EXPECT_EQ(banco.salida(0), "$GPS,record*00\r\n");
    EXPECT_GT(Serial3.available(), 0);
    EXPECT_EQ(banco.salida(1).find("Configurando tramas GPS"), std::string::npos);
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
