// The clock-rate correction: the comparison with GPS time between two fixes,
// the measurement against sensor time after start-up, and the limits.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "declaraciones/declaraciones.h"
#include "plataforma/tests/banco_pruebas.h"
#include "principal/principal.h"
#include "waves/correccion_reloj.h"
#include "waves/muestras.h"

namespace {

class Correccion : public ::testing::Test {
protected:
    void SetUp() override
    {
        CTE_AJUSTE_RELOJ = 1;
        CTE_VELOCIDAD_RELOJ = 48000;
        Tiempo_Ajustar_Hora = 1;
        Tiempo_Capturar_Hora_Inicial = 0;
        Tiempo_Revision_Hora_GPS = 0;
        CONT_TIEMPO_MICRO_ACUMULADO = -1;
        Tiempo_Calculo = 0;
        configureTCC0(48000, 1);
    }
    // A GPS comparison ready: previous fix, internal clock at the current fix, current fix.
    void comparacion(int dia_ant, int h0, int m0, int s0, int dia_cmp, int h1, int m1, int s1, int dia_gps, int h2,
                     int m2, int s2)
    {
        cdia_gps_anterior = (uint8_t)dia_ant;
        chora_gps_anterior = (uint8_t)h0;
        cminuto_gps_anterior = (uint8_t)m0;
        csegundo_gps_anterior = (uint8_t)s0;
        cdia_comparativa = (uint8_t)dia_cmp;
        chora_comparativa = (uint8_t)h1;
        cminuto_comparativa = (uint8_t)m1;
        csegundo_comparativa = (uint8_t)s1;
        cdia_gps = (uint8_t)dia_gps;
        chora_gps = (uint8_t)h2;
        cminuto_gps = (uint8_t)m2;
        csegundo_gps = (uint8_t)s2;
        Tiempo_Ajustar_Hora = 1;
        Tiempo_Revision_Hora_GPS = 1;
        banco.borrar_salidas();
        Correccion_Reloj_porWaves();
    }
    // The next sample, ms milliseconds of board time after the last one.
    void muestra(int32_t sello, double ms = 100)
    {
        banco.placa.avanzar(banco.placa.ciclo_de_segundos_reales(ms / 1000.0));
        TernaTiempos1 = sello;
        Correccion_Reloj_porWaves();
    }
    // On-time samples after the one just given, until the end of the
    // measurement is settled; returns how many it took.
    int hasta_el_fin(int32_t sello)
    {
        int n = 0;
        while (Tiempo_Ajustar_Hora == 1 && n < 100) {
            muestra(sello += 100000);
            n++;
        }
        return n;
    }
    BancoPruebas banco;
};

TEST_F(Correccion, GpsConVeinteSegundosDeAdelanto)
{
    comparacion(7, 10, 0, 0, 7, 12, 0, 20, 7, 12, 0, 0);
    EXPECT_EQ(Tiempo_Diferencia_gps, 7200);
    EXPECT_EQ(Tiempo_Diferencia_Comparativa, 7220);
    EXPECT_EQ(Tiempo_Resta, -20);
    EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48133);
    EXPECT_EQ(banco.placa.tcc0_periodo_actual(), 48133u);
    EXPECT_EQ(Tiempo_Ajustar_Hora, 0);
    EXPECT_EQ(Tiempo_Revision_Hora_GPS, 0);
    EXPECT_EQ(chora_gps_anterior, 12);
    std::string consola = banco.salida(1);
    EXPECT_NE(consola.find("Hora anterior GPS:10:0:0\r\nHora actual UTC:12:0:20\r\nHora actual GPS:12:0:0\r\n"
                           "CTE_VELOCIDAD_RELOJ: 48000\r\n"),
              std::string::npos)
        << consola;
    EXPECT_NE(consola.find("RESTA TIEMPOS: -20 segundos.  Dif Gps(1)-Gpx(0)=7200 Dif UtcMicro(1)-Gps(0)=7220; \r\n"
                           "CALCULO CON GPS:48133\r\nLimites establecidos permitidos: [46500, 49500]  OJO!!\r\n"
                           "Hora anterior GPS (Actualizacion): 12:0:0\r\n"),
              std::string::npos)
        << consola;
}

TEST_F(Correccion, QuinceSegundosNoCambianNadaPeroAvanzanLaReferencia)
{
    comparacion(7, 10, 0, 0, 7, 12, 0, 15, 7, 12, 0, 0);
    EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48000);
    EXPECT_EQ(chora_gps_anterior, 12);
    comparacion(7, 10, 0, 0, 7, 11, 59, 45, 7, 12, 0, 0);
    EXPECT_EQ(Tiempo_Resta, 15);
    EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48000);
    EXPECT_NE(banco.salida(1).find("CALCULO CON GPS:48000\r\nLimites"), std::string::npos);
    EXPECT_EQ(banco.placa.tcc0_periodo_actual(), 48000u);
}

TEST_F(Correccion, CambioDeDiaYLimites)
{
    comparacion(7, 23, 30, 0, 8, 1, 30, 0, 8, 1, 30, 0);
    EXPECT_EQ(Tiempo_Diferencia_gps, 7200);
    EXPECT_EQ(Tiempo_Diferencia_Comparativa, 7200);
    std::string consola = banco.salida(1);
    EXPECT_NE(consola.find("Cambio de dia. \r\n"), std::string::npos);
    // Far too fast an internal clock: the upper limit.
    comparacion(7, 10, 0, 0, 7, 10, 4, 0, 7, 10, 3, 0);
    EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 49500);
    EXPECT_EQ(banco.placa.tcc0_periodo_actual(), 49500u);
    // Far too slow: the lower limit.
    CTE_VELOCIDAD_RELOJ = 48000;
    comparacion(7, 10, 0, 0, 7, 10, 3, 0, 7, 10, 4, 0);
    EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 46500);
    // No internal span at all: back to the nominal period.
    comparacion(7, 10, 0, 0, 7, 10, 0, 0, 7, 10, 4, 0);
    EXPECT_EQ(Tiempo_Calculo, 0);
    EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48000);
}

TEST_F(Correccion, SinCorreccionPendienteNoHaceNada)
{
    Tiempo_Ajustar_Hora = 0;
    Tiempo_Revision_Hora_GPS = 1;
    Tiempo_Capturar_Hora_Inicial = 1;
    Correccion_Reloj_porWaves();
    EXPECT_EQ(Tiempo_Revision_Hora_GPS, 1);
    EXPECT_EQ(CONT_TIEMPO_MICRO_ACUMULADO, -1);
    EXPECT_EQ(banco.salida(1), "");
}

// The elapsed sensor time comes from the schedule's Diferencia_Timespan.
TEST_F(Correccion, MedidaContraElTiempoDelSensor)
{
    Tiempo_Capturar_Hora_Inicial = 1;
    TernaTiempos1 = 1000000;
    Correccion_Reloj_porWaves();
    EXPECT_EQ(Tiempo_SBG_Ini, 1000000);
    EXPECT_EQ(CONT_TIEMPO_MICRO_ACUMULADO, 0);
    EXPECT_EQ(Tiempo_Capturar_Hora_Inicial, 0);
    EXPECT_NE(banco.salida(1).find("TIEMPOS Inicio:1000000\r\n"), std::string::npos);
    // 60 s of internal time are not enough.
    CONT_TIEMPO_MICRO_ACUMULADO = 600;
    Correccion_Reloj_porWaves();
    EXPECT_EQ(Tiempo_Ajustar_Hora, 1);
    EXPECT_EQ(CONT_TIEMPO_MICRO_ACUMULADO, 600);
    CONT_TIEMPO_MICRO_ACUMULADO = 601;
    banco.borrar_salidas();
    muestra(61000000);
    // The end is held for three seconds of samples, none of which came
    // sooner after its stamp.
    EXPECT_EQ(Tiempo_Ajustar_Hora, 1);
    EXPECT_EQ(banco.salida(1), "");
    CONT_TIEMPO_MICRO_ACUMULADO = 602;
    EXPECT_EQ(hasta_el_fin(61000000), 30);
    EXPECT_EQ(CONT_TIEMPO_MICRO_FINAL, 601u);
    EXPECT_EQ(Tiempo_SBG_Fin, 61000000);
    EXPECT_EQ(CONT_TIEMPO_MICRO_ACUMULADO, -1);
    EXPECT_EQ(Tiempo_Ajustar_Hora, 0);
    // Worked by hand: the sensor counted 61 000 000 - 1 000 000 us = 60 000 ms
    // while the tick counted 601 tenths = 60 100 ms (the tick stands still in
    // this test, so both ends read the same position within the tenth). The
    // internal clock ran 60 100 / 60 000 too fast, so the period grows by that
    // ratio: 48 000 x 60 100 / 60 000 = 48 080.
    EXPECT_EQ(Tiempo_SBG_Diferencia, 60000000);
    EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48080);
    EXPECT_EQ(banco.placa.tcc0_periodo_actual(), 48080u);
    std::string linea = "TIEMPOS SBG: 61000000-1000000=60000000 ; CONTADORES DE MICRO: 601 ==> CALCULO MICRO vs SBG: "
                        "48080;\r\nLimites establecidos permitidos: [46500, 49500]  OJO!!\r\n";
    EXPECT_NE(banco.salida(1).find(linea), std::string::npos) << banco.salida(1);
}

// The worked example needs the real elapsed time between the two stamps.
TEST_F(Correccion, EjemploDeLaMedidaContraElSensor)
{
    for (int32_t diferencia : {60000000, 60100000}) {
        SetUp();
        Tiempo_Capturar_Hora_Inicial = 1;
        TernaTiempos1 = 5000000;
        Correccion_Reloj_porWaves();
        CONT_TIEMPO_MICRO_ACUMULADO = 601;
        muestra(5000000 + diferencia);
        hasta_el_fin(5000000 + diferencia);
        EXPECT_EQ(Tiempo_SBG_Diferencia, diferencia);
        EXPECT_EQ(CTE_VELOCIDAD_RELOJ, diferencia == 60000000 ? 48080 : 48000);
    }
}

// A start that fell on a sample held up in the port moves to the next sample
// that came sooner after its stamp, within the first seconds; a sample as
// late as the start, or one after those seconds, leaves it where it is.
TEST_F(Correccion, InicioSobreMuestraRetrasadaPasaALaSiguiente)
{
    Tiempo_Capturar_Hora_Inicial = 1;
    muestra(40100000, 0);  // waited 190 ms behind a GPS burst
    muestra(40200000, 1);  // the same reception: 99 ms fresher
    EXPECT_EQ(Tiempo_SBG_Ini, 40200000);
    EXPECT_EQ(CONT_TIEMPO_MICRO_ACUMULADO, 0);
    muestra(40300000, 27);  // the first one on time
    EXPECT_EQ(Tiempo_SBG_Ini, 40300000);
    CONT_TIEMPO_MICRO_ACUMULADO = 1;
    muestra(40400000, 102);  // waited 2 ms longer: no reason to move
    EXPECT_EQ(Tiempo_SBG_Ini, 40300000);
    EXPECT_EQ(CONT_TIEMPO_MICRO_ACUMULADO, 1);
    muestra(40500000, 97);  // a millisecond sooner than the start's
    EXPECT_EQ(Tiempo_SBG_Ini, 40500000);
    EXPECT_EQ(CONT_TIEMPO_MICRO_ACUMULADO, 0);
    // A stamp behind the start (a sensor restarted) never takes it over.
    muestra(1000, 100);
    EXPECT_EQ(Tiempo_SBG_Ini, 40500000);
    // Five seconds after it was asked for, the start stays, however fresh a sample is.
    CONT_TIEMPO_MICRO_ACUMULADO = 51;
    muestra(47000000, 4900);
    EXPECT_EQ(Tiempo_SBG_Ini, 40500000);
    EXPECT_EQ(CONT_TIEMPO_MICRO_ACUMULADO, 51);
    std::string trazas = banco.salida(1);
    EXPECT_NE(trazas.find("TIEMPOS Inicio:40100000\r\nTIEMPOS Inicio:40200000\r\nTIEMPOS Inicio:40300000\r\n"),
              std::string::npos)
        << trazas;
}

// An end that fell on a sample held up in the port moves to a later one
// that came sooner after its stamp, with the count read at that one; samples
// after the end's three seconds no longer count.
TEST_F(Correccion, FinSobreMuestraRetrasadaPasaALaSiguiente)
{
    Tiempo_Capturar_Hora_Inicial = 1;
    muestra(10000000);
    CONT_TIEMPO_MICRO_ACUMULADO = 601;
    muestra(70100000 - 100000, 60100);  // waited a tenth of a second behind the loop
    EXPECT_EQ(Tiempo_Ajustar_Hora, 1);
    CONT_TIEMPO_MICRO_ACUMULADO = 601;
    muestra(70100000, 2);  // the same reception: the one on time
    EXPECT_EQ(Tiempo_Ajustar_Hora, 1);
    CONT_TIEMPO_MICRO_ACUMULADO = 602;
    muestra(70200000, 108);  // held up by 8 ms: stays with the one before
    muestra(70300000, 104);  // still 12 ms behind the one on time
    EXPECT_EQ(Tiempo_Ajustar_Hora, 1);
    CONT_TIEMPO_MICRO_ACUMULADO = 605;
    muestra(70400000, 3000);  // past the three seconds: the end is settled
    EXPECT_EQ(Tiempo_Ajustar_Hora, 0);
    EXPECT_EQ(Tiempo_SBG_Fin, 70100000);
    EXPECT_EQ(CONT_TIEMPO_MICRO_FINAL, 601u);
    EXPECT_EQ(Tiempo_SBG_Diferencia, 60100000);
    EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48000);
    // A later sample one millisecond fresher than the end held takes its place.
    SetUp();
    Tiempo_Capturar_Hora_Inicial = 1;
    muestra(10000000);
    CONT_TIEMPO_MICRO_ACUMULADO = 601;
    muestra(70100000, 60100);
    muestra(70200000, 100);
    CONT_TIEMPO_MICRO_ACUMULADO = 603;
    muestra(70300000, 99);
    EXPECT_EQ(Tiempo_Ajustar_Hora, 1);
    hasta_el_fin(70300000);
    EXPECT_EQ(Tiempo_SBG_Fin, 70300000);
    EXPECT_EQ(CONT_TIEMPO_MICRO_FINAL, 603u);
    // A fix while the end is held starts the measurement again from scratch.
    SetUp();
    Tiempo_Capturar_Hora_Inicial = 1;
    muestra(1000000);
    CONT_TIEMPO_MICRO_ACUMULADO = 601;
    muestra(61100000, 60100);
    Tiempo_Capturar_Hora_Inicial = 1;
    muestra(61200000);
    EXPECT_EQ(Tiempo_SBG_Ini, 61200000);
    EXPECT_EQ(CONT_TIEMPO_MICRO_ACUMULADO, 0);
    CONT_TIEMPO_MICRO_ACUMULADO = 5;
    muestra(61300000);
    EXPECT_EQ(Tiempo_Ajustar_Hora, 1);
    EXPECT_EQ(CONT_TIEMPO_MICRO_ACUMULADO, 5);
}

}  // namespace
