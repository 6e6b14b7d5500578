// Interval statistics, the "RES," record and frame, the no-wave interval and
// the end of an interval by the clock or by sensor time.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "gestion_sd/tests/tarjeta_prueba.h"
#include "declaraciones/declaraciones.h"
#include "plataforma/tests/banco_pruebas.h"
#include "waves/tests/olas_ayuda.h"
#include "waves/vectores_olas.h"
#include "waves/waves.h"

namespace {

// The checksummed frame for a text of fields.
std::string trama(const std::string &campos)
{
    std::string cuerpo = "RES," + campos;
    uint8_t x = 0;
    for (char c : cuerpo) x ^= (uint8_t)c;
    char hex[4];
    snprintf(hex, sizeof hex, "%02X", x);
    return "$" + cuerpo + "*" + hex + "\r\n";
}

class Promedio : public ::testing::Test {
protected:
    void SetUp() override
    {
        reiniciar_analisis();
        poner_reloj(7, 3, 24, 12, 0, 2);
        HHini = 11;
        MMini = 40;
        NOMBRE_FICHERO_RES = "240307/1140.res";
        banco.borrar_salidas();
    }
    TarjetaDePrueba tarjeta{{"240307/1140.res", "240307/1140.raw"}};
    // Waves as the per-wave computation leaves them.
    void cargar(const std::vector<int> &alt, const std::vector<int> &per, const std::vector<int> &dir = {})
    {
        for (size_t i = 0; i < alt.size(); i++) {
            nOlas = (int32_t)i + 1;
            guardar_en_vector_olas(&mVectorAlt, &iElementosVectorAlt, (uint16_t)alt[i], "", "", 0);
            guardar_en_vector_olas(&mVectorPer, &iElementosVectorPer, (uint16_t)per[i], "", "", 0);
            uint16_t d = dir.empty() ? 900 : (uint16_t)dir[i];
            guardar_en_vector_olas(&mVectorDirMetVel, &iElementosVectorDirMetVel, d, "", "", 0);
            guardar_en_vector_olas(&mVectorDirMetDer, &iElementosVectorDirMetDer, d, "", "", 0);
            if (mAltMaxOla < alt[i]) {
                mAltMaxOla = (uint16_t)alt[i];
                mPeriodoPico = (uint16_t)per[i];
            }
            if (mPeriodoMax < per[i]) mPeriodoMax = (uint16_t)per[i];
            mAltPromedio += (uint32_t)alt[i];
            mPeriodoPromedio += (uint32_t)per[i];
        }
    }
    std::string res() { return std::string(cbuffer_res, ibytes_a_escribir_sd[TIPO_RES]); }
    std::string tov() { return std::string(cbuffer_tov03, ibytes_a_escribir_sd[TIPO_TOV03]); }
    size_t veces(const std::string &texto)
    {
        std::string s = banco.salida(1);
        size_t n = 0;
        for (size_t p = s.find(texto); p != std::string::npos; p = s.find(texto, p + 1)) n++;
        return n;
    }
    BancoPruebas banco;
};

TEST_F(Promedio, UnaOlaRegistroTramaYCopia)
{
    cargar({100}, {85});
    mFlagHeadingPromedio = 97;
    mFlagAlignPromedio = 100;
    Calcular_Parametros_Salida_Ola_Promedio();
    EXPECT_EQ(res(), "07,03,24,11,40,00001 0100 0100 0100 0100 085 085 085 085 085 0900 0000 097 100\r\n");
    const std::string campos = "00001,0100,0100,0100,0100,085,085,085,085,085,0900,0000,097,100";
    EXPECT_EQ(campos.size(), CTE_TAM_TRAMA_RES - 15);
    const std::string todos = "07,03,24,12,00," + campos;
    EXPECT_EQ(todos.size(), 78u);
    EXPECT_EQ(tov(), trama(todos));
    EXPECT_EQ(cbuffer_tov03[ibytes_a_escribir_sd[TIPO_TOV03]], 0);
    EXPECT_EQ(cdatos_tx_tov03, 1);
    EXPECT_EQ(std::string(cbuffer_promedio), todos);
    EXPECT_EQ(ctam_trama_promedio, 78u);
    EXPECT_EQ(cescritura_sd[TIPO_RES], 1);
    EXPECT_EQ(ccreacion_nuevo_fichero[TIPO_RES], 2);
    EXPECT_EQ(resSdOk, 1);
    EXPECT_EQ(resSbgOk, 0);
    EXPECT_EQ(CONTADOR_CERO_OLAS, 0);
    EXPECT_NE(banco.salida(1).find("\r\nBuffer promedio: " + todos + "\r\n\r\nNumOlas=1 Hmax=100 H(1/3)=100 "
                                   "H(1/10)=100 Hav=100 Tmax=85 Tpico=85 T(1/3)=85 T(1/10)=85 Tav=85\r\n"
                                   " DirMedMetVel=900 DirMedMetDer=9999 DesvMetVel=0 DesvMetDer=9999 "
                                   "FlagHeadingPromedio=97 FlagAlingPromedio=100\r\n" +
                                   std::string(187, '=') + "\r\n" + std::string(187, '=') + "\r\n"),
              std::string::npos)
        << banco.salida(1);
}

TEST_F(Promedio, DiezOlasTercioYDecimoMasAltos)
{
    // Each period goes with its height through the sort.
    cargar({5, 3, 10, 1, 8, 2, 9, 4, 7, 6}, {25, 23, 30, 21, 28, 22, 29, 24, 27, 26});
    Calcular_Parametros_Salida_Ola_Promedio();
    EXPECT_EQ(std::string(cbuffer_promedio).substr(15, 46), "00010,0010,0008,0010,0006,030,030,028,030,026,");
    for (int i = 0; i < 10; i++) {
        EXPECT_EQ(mVectorAlt[i], i + 1);
        EXPECT_EQ(mVectorPer[i], 21 + i);
    }
}

TEST_F(Promedio, TresOlasYMediaRedondeadaHaciaArriba)
{
    cargar({30, 10, 20}, {90, 70, 80});
    Calcular_Parametros_Salida_Ola_Promedio();
    EXPECT_EQ(std::string(cbuffer_promedio).substr(15, 46), "00003,0030,0030,0030,0020,090,090,090,090,080,");
    reiniciar_analisis();
    cargar({3, 4}, {50, 51});
    Calcular_Parametros_Salida_Ola_Promedio();
    // 3.5 gives 4, 50.5 gives 51.
    EXPECT_EQ(mAltPromedio, 4u);
    EXPECT_EQ(mPeriodoPromedio, 51u);
}

TEST_F(Promedio, DispersionPorElCaminoCortoAlrededorDelNorte)
{
    cargar({10, 10}, {50, 50}, {3590, 10});
    mVel_SumNorte = 2.0f;
    mVel_SumEste = 0.0f;
    Calcular_Parametros_Salida_Ola_Promedio();
    EXPECT_EQ(std::string(cbuffer_promedio).substr(61, 10), "0000,0010,");
}

TEST_F(Promedio, MetodosDeDireccionEnLosRegistros)
{
    // Both methods: 88 characters of fields, the copy bounded to 78.
    CTE_METODO_DIRECCION_DEFINITIVA = 2;
    cargar({100}, {85});
    mDer_SumNorte = -1.0f;
    Calcular_Parametros_Salida_Ola_Promedio();
    const std::string todos = "07,03,24,12,00,00001,0100,0100,0100,0100,085,085,085,085,085,0900,1800,0000,0900,000,000";
    EXPECT_EQ(todos.size(), 88u);
    EXPECT_EQ(tov(), trama(todos));
    EXPECT_EQ(std::string(cbuffer_promedio), todos.substr(0, 78));
    EXPECT_EQ(ibytes_a_escribir_sd[TIPO_PROMEDIO], 78u);
    EXPECT_EQ(ctam_trama_promedio, 78u);

    // A method code above 2: no direction or spread fields in either record.
    reiniciar_analisis();
    CTE_METODO_DIRECCION_DEFINITIVA = 3;
    poner_reloj(7, 3, 24, 12, 0, 2);
    cargar({100}, {85});
    Calcular_Parametros_Salida_Ola_Promedio();
    EXPECT_EQ(std::string(cbuffer_promedio), "07,03,24,12,00,00001,0100,0100,0100,0100,085,085,085,085,085,000,000");
    EXPECT_NE(banco.salida(1).find(" DirMedMetVel=9999 DirMedMetDer=9999 DesvMetVel=0 DesvMetDer=0 "), std::string::npos);
}

TEST_F(Promedio, SinFicheroResSoloLaTrama)
{
    NOMBRE_FICHERO_RES = "";
    cargar({100}, {85});
    Calcular_Parametros_Salida_Ola_Promedio();
    EXPECT_EQ(resSdOk, 0);
    EXPECT_EQ(cescritura_sd[TIPO_RES], 0);
    EXPECT_EQ(cdatos_tx_tov03, 1);
}

TEST_F(Promedio, IntervaloSinOlasAMediodia)
{
    NOMBRE_FICHERO_RAW = "240307/1140.raw";
    ccreacion_nuevo_fichero[TIPO_RAW] = 2;
    Calcular_Parametros_Salida_Ola_Promedio();
    EXPECT_EQ(tov(), trama("07,03,24,12,00,00000,0000,0000,0000,0000,000,000,000,000,000,0000,0000,255,255"));
    EXPECT_EQ(cdatos_tx_tov03, 1);
    EXPECT_EQ(cescritura_sd[TIPO_RES], 0);
    EXPECT_EQ(ccreacion_nuevo_fichero[TIPO_RAW], 3);
    EXPECT_EQ(ccreacion_nuevo_fichero[TIPO_WAV], 0);
    EXPECT_EQ(Intentos_Creacion_Fichero, 0);
    EXPECT_EQ(CONTADOR_CERO_OLAS, 1);
    const std::string lineas = "NumOlas=0.00 Hmax=0.00 H(1/3)=0.00 H(1/10)=0.00 Hav=0.00 Tmax=0.00 Tpico=0.00 "
                               "T(1/3)=0.00 T(1/10)=0.00 Tav=0.00\r\n DirMedMetVel=0.00 DirMedMetDer=0.00 "
                               "DesvMetVel=0.00 DesvMetDer= 0.00\r\n FlagHeadingPromedio=255.00 "
                               "FlagAlingPromedio= 255.00\r\n";
    EXPECT_EQ(banco.salida(1), "RESET POR FALTA DE OLAS: 0\r\n" + lineas);

    // Discarded waves are split into hi and lo; with the debug switch the
    // three lines come twice.
    Comenzar_Proceso_Nuevo_Promedio_Olas();
    CONTADOR_OLAS_DESCARTADAS = 299;
    cdebug_sensor = 1;
    Calcular_Parametros_Salida_Ola_Promedio();
    EXPECT_NE(tov().find(",001,043*"), std::string::npos) << tov();
    EXPECT_EQ(veces("FlagAlingPromedio= 43.00"), 2u);
}

TEST_F(Promedio, FinalDelDiaNiCuentaNiResetea)
{
    poner_reloj(7, 3, 24, 23, 59, 51);
    CONTADOR_CERO_OLAS = 5;
    Calcular_Parametros_Salida_Ola_Promedio();
    EXPECT_EQ(banco.salida(1), "RESET POR FALTA DE OLAS: 5\r\nNO RESETEAMOS SI ES FINAL DEL DIA.\r\n");
    EXPECT_EQ(cdatos_tx_tov03, 0);
    EXPECT_EQ(CONTADOR_CERO_OLAS, 5);
    EXPECT_EQ(ctimeout_reset_general, 0);
}

TEST_F(Promedio, ResetArmadoTrasDosHorasDeIntervalosSinOlas)
{
    const int casos[][2] = {{20, 6}, {30, 4}, {60, 2}, {10, 12}, {15, 8}};
    for (const auto &c : casos) {
        reiniciar_analisis();
        poner_reloj(7, 3, 24, 12, 0, 2);
        CTE_INTERVALO_PROMEDIO_INTERPRETADO = c[0];
        banco.borrar_salidas();
        for (int i = 1; i < c[1]; i++) {
            Calcular_Parametros_Salida_Ola_Promedio();
            Comenzar_Proceso_Nuevo_Promedio_Olas();
        }
        EXPECT_EQ(ctimeout_reset_general, 0) << c[0];
        Calcular_Parametros_Salida_Ola_Promedio();
        EXPECT_EQ(ctimeout_reset_general, 1) << c[0];
        EXPECT_NE(banco.salida(1).find("Cuenta atr\xE1s=1,"), std::string::npos);
        // Raised once.
        Calcular_Parametros_Salida_Ola_Promedio();
        EXPECT_EQ(veces("Cuenta atr"), 1u);
    }
    // An interval with waves clears the count.
    cargar({100}, {85});
    Calcular_Parametros_Salida_Ola_Promedio();
    EXPECT_EQ(CONTADOR_CERO_OLAS, 0);
}

TEST_F(Promedio, NuevoIntervaloReiniciaAcumuladores)
{
    cargar({100, 50}, {85, 60});
    mVel_SumNorte = 3.0f;
    mFlagHeadingPromedio = 40;
    vIniOla_0 = 345;
    contPtosOlaActual = 999;
    Comenzar_Proceso_Nuevo_Promedio_Olas();
    EXPECT_EQ(nOlas, 0);
    EXPECT_EQ(mAltMaxOla, 0);
    EXPECT_EQ(mAltPromedio, 0u);
    EXPECT_EQ(mVel_SumNorte, 0.0f);
    EXPECT_EQ(mFlagHeadingPromedio, 0u);
    EXPECT_EQ(vIniOla_0, 1);
    EXPECT_EQ(contPtosOlaActual, 0);
    EXPECT_EQ(CONTADOR_OLAS_DESCARTADAS, 65535);
    EXPECT_EQ(iElementosVectorAlt, 1u);
    EXPECT_EQ(mVectorAlt[0], 0);
    EXPECT_EQ(tsIni, -1000);
    EXPECT_NE(banco.salida(1).find("Free\r\n_Fin Inicializar promedio_\r\n"), std::string::npos);
}

TEST_F(Promedio, OrdenacionConSuPareja)
{
    // Input sorted backwards, all equal and mixed: the partner follows its key.
    for (int caso = 0; caso < 3; caso++) {
        std::vector<uint16_t> u(2000), v(2000);
        for (int i = 0; i < 2000; i++) {
            u[i] = (uint16_t)(caso == 0 ? 2000 - i : (caso == 1 ? 7 : (i * 7919) % 1000));
            v[i] = (uint16_t)(u[i] + 5);
        }
        quicksort(u.data(), v.data(), 0, 1999);
        for (int i = 0; i < 2000; i++) {
            if (i > 0) {
                EXPECT_LE(u[i - 1], u[i]);
            }
            EXPECT_EQ(v[i], u[i] + 5);
        }
    }
    // Lomuto: equal values stay on the pivot's right.
    uint16_t u[] = {5, 5, 3, 5, 1}, v[] = {0, 1, 2, 3, 4};
    EXPECT_EQ(pivot(u, v, 0, 4), 2);
    const uint16_t ue[] = {1, 3, 5, 5, 5}, ve[] = {4, 2, 0, 3, 1};
    for (int i = 0; i < 5; i++) {
        EXPECT_EQ(u[i], ue[i]);
        EXPECT_EQ(v[i], ve[i]);
    }
}

class FinDeIntervalo : public Promedio {};

TEST_F(FinDeIntervalo, PorElReloj)
{
    poner_reloj(7, 3, 24, 10, 7, 33);
    HHini = MMini = 0;
    CTE_INTERVALO_PROMEDIO = 15;
    CTE_METODO_DIRECCION = 2;
    NOMBRE_FICHERO_RAW = "240307/1007.raw";
    NOMBRE_FICHERO_WAV = "240307/1007.wav";
    TarjetaDePrueba tarjeta{{"240307/1007.raw", "240307/1007.wav"}};
    for (int i = 0; i < 3; i++) empujar_muestra(0, 0.1f, 0.1f);
    EXPECT_EQ(TENGO_HORA_VALIDA, 1);
    EXPECT_EQ(HHfin, 10);
    EXPECT_EQ(MMfin, 15);
    EXPECT_EQ(SSfin, 1);
    poner_reloj(7, 3, 24, 10, 15, 1);
    empujar_muestra(0, 0.1f, 0.1f);
    EXPECT_EQ(cdatos_tx_tov03, 0);
    poner_reloj(7, 3, 24, 10, 15, 2);
    empujar_muestra(0, 0.1f, 0.1f);
    EXPECT_EQ(cdatos_tx_tov03, 1);
    EXPECT_EQ(tov().substr(0, 21), "$RES,07,03,24,10,15,0");
    EXPECT_EQ(ccreacion_nuevo_fichero[TIPO_RAW], 3);
    EXPECT_EQ(ccreacion_nuevo_fichero[TIPO_WAV], 3);
    EXPECT_EQ(CTE_METODO_DIRECCION_DEFINITIVA, 2);
    EXPECT_EQ(HHini, 10);
    EXPECT_EQ(MMini, 15);
    EXPECT_EQ(SSini, 1);
    EXPECT_EQ(MMfin, 30);
    EXPECT_EQ(contPtosOlaActual, 0);
}

// Intervals one after the other, each fed its own sea through the wave
// analysis and closed by the clock: every statistic of an interval comes
// from its own waves, none carried over from the one before (a long-period,
// high sea, then a short-period, low one; then the long sea again).
TEST_F(FinDeIntervalo, IntervalosSeguidosCadaUnoConSusPropiasOlas)
{
    HHini = MMini = 0;
    CTE_INTERVALO_PROMEDIO = 15;
    NOMBRE_FICHERO_RES = "";
    struct Mar {
        int olas, muestras;
        double amplitud;
        int hasta_minuto;   // the interval's end, 10:MM:01
    };
    // The fields of the frame after the interval's time: the count of waves,
    // Hmax, H1/3, H1/10, Hav, Tmax, Tpico, T1/3, T1/10, Tav. The first crest
    // of the buoy's first sea only starts the count; later seas follow on
    // from the last up-crossing of the one before.
    const Mar mares[] = {{6, 85, 150.0, 15}, {9, 40, 50.0, 30}, {6, 85, 150.0, 45}};
    const char *esperados[] = {
        "00005,0300,0300,0300,0300,084,084,084,084,084",
        "00009,0100,0100,0100,0100,039,039,039,039,039",
        "00006,0300,0300,0300,0300,084,084,084,084,084",
    };
    poner_reloj(7, 3, 24, 10, 7, 33);
    int minuto_inicio = 0;
    for (int k = 0; k < 3; k++) {
        const Mar &m = mares[k];
        auto serie = serie_senoidal(m.olas, m.muestras, m.amplitud);
        empujar_serie(serie);
        for (int i = 0; i < 3; i++) empujar_muestra(0, 0.01f, 0.01f);
        EXPECT_EQ(MMfin, m.hasta_minuto) << "interval " << k;
        EXPECT_EQ(cdatos_tx_tov03, 0) << "interval " << k;
        poner_reloj(7, 3, 24, 10, m.hasta_minuto, 2);
        empujar_muestra(0, 0.01f, 0.01f);
        ASSERT_EQ(cdatos_tx_tov03, 1) << "interval " << k;
        char inicio[24];
        snprintf(inicio, sizeof inicio, "$RES,07,03,24,10,%02d,", m.hasta_minuto);
        ASSERT_GT(tov().size(), 20u + 45u);
        EXPECT_EQ(tov().substr(0, 20), inicio) << "interval " << k;
        EXPECT_EQ(tov().substr(20, 45), esperados[k]) << "interval " << k << " after the one from 10:"
                                                       << minuto_inicio;
        minuto_inicio = m.hasta_minuto;
        // The link took the frame; the next interval has begun.
        cdatos_tx_tov03 = 0;
        EXPECT_EQ(nOlas, 0);
        EXPECT_EQ(mAltMaxOla, 0);
        EXPECT_EQ(mPeriodoMax, 0);
        EXPECT_EQ(mPeriodoPico, 0);
        poner_reloj(7, 3, 24, 10, m.hasta_minuto, 5);
    }
}

TEST_F(FinDeIntervalo, AlrededorDeMedianoche)
{
    CTE_INTERVALO_PROMEDIO = 20;
    HHini = MMini = 0;
    poner_reloj(7, 3, 24, 23, 45, 0);
    for (int i = 0; i < 3; i++) empujar_muestra(0, 0.1f, 0.1f);
    EXPECT_EQ(HHfin, 23);
    EXPECT_EQ(MMfin, 59);
    EXPECT_EQ(SSfin, 50);
    poner_reloj(7, 3, 24, 23, 59, 51);
    empujar_muestra(0, 0.1f, 0.1f);
    EXPECT_NE(banco.salida(1).find("NO RESETEAMOS SI ES FINAL DEL DIA."), std::string::npos);
    EXPECT_EQ(HHini, 0);
    EXPECT_EQ(SSini, 1);
    // The new end at 00:20:01, seen during hour 23, waits for the new day.
    poner_reloj(7, 3, 24, 23, 59, 52);
    cdatos_tx_tov03 = 0;
    empujar_muestra(0, 0.1f, 0.1f);
    EXPECT_EQ(HHfin, 24);
    poner_reloj(8, 3, 24, 0, 0, 5);
    empujar_muestra(0, 0.1f, 0.1f);
    EXPECT_EQ(HHfin, 0);
    EXPECT_EQ(cdatos_tx_tov03, 0);
    poner_reloj(8, 3, 24, 0, 20, 2);
    empujar_muestra(0, 0.1f, 0.1f);
    EXPECT_EQ(cdatos_tx_tov03, 1);
    EXPECT_EQ(MMini, 20);
}

TEST_F(FinDeIntervalo, PorTiempoDelSensorSinRelojValido)
{
    poner_reloj(0, 0, 0, 0, 0, 0);
    CTE_INTERVALO_PROMEDIO = 2;
    TIEMPO_INI = 1000;
    TIEMPO_FIN = 1000 + 1200000000;
    for (int i = 0; i < 3; i++) empujar_muestra(0, 0.1f, 0.1f);
    // Exactly 20 minutes is not beyond the interval.
    EXPECT_EQ(cdatos_tx_tov03, 0);
    EXPECT_EQ(CTE_INTERVALO_PROMEDIO_INTERPRETADO, 20);
    TIEMPO_FIN = 1000 + 1300000000;
    empujar_muestra(0, 0.1f, 0.1f);
    EXPECT_EQ(cdatos_tx_tov03, 1);
    EXPECT_EQ(TIEMPO_INI, 1000 + 1300000000);
    EXPECT_EQ(TIEMPO_FIN, 0);
    EXPECT_NE(banco.salida(1).find("\r\nHACER_PROMEDIO_POR_TIEMPO_SUPERADO = 1\r\n"), std::string::npos);
    EXPECT_EQ(HHfin, 0);
}

}  // namespace
