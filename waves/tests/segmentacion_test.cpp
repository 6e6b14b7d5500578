// Wave segmentation through the window and the per-wave parameters.
#include <gtest/gtest.h>

#include <math.h>

#include <string>

#include "gestion_sd/tests/tarjeta_prueba.h"
#include "declaraciones/declaraciones.h"
#include "plataforma/tests/banco_pruebas.h"
#include "waves/tests/olas_ayuda.h"
#include "waves/vectores_olas.h"
#include "waves/waves.h"

namespace {

class Segmentacion : public ::testing::Test {
protected:
    void SetUp() override
    {
        reiniciar_analisis();
        banco.borrar_salidas();
    }
    void alturas(std::initializer_list<int> h)
    {
        for (int x : h) empujar_muestra((int16_t)x, 0.1f, 0.1f);
    }
    // n sine waves and three more samples, so that the last end is seen.
    void mar(int n, int t, double a)
    {
        auto serie = serie_senoidal(n + 1, t, a);
        serie.resize((size_t)(n * t + 3));
        empujar_serie(serie);
    }
    size_t veces(const std::string &texto)
    {
        std::string s = banco.salida(1);
        size_t n = 0;
        for (size_t p = s.find(texto); p != std::string::npos; p = s.find(texto, p + 1)) n++;
        return n;
    }
    BancoPruebas banco;
};

TEST_F(Segmentacion, SerieNulaNoFijaNada)
{
    for (int i = 0; i < 50; i++) empujar_muestra(0, 0.1f, 0.1f);
    EXPECT_EQ(vMax1_0, -1);
    EXPECT_EQ(vIniOla_0, -1);
    EXPECT_EQ(nOlas, 0);
}

TEST_F(Segmentacion, CrestaEnMesetaSeTomaEnSuUltimaMuestra)
{
    alturas({-2, 3, 7, 7, 7, 4});
    // Indices 1..6: the plateau is 3, 4, 5; only its last sample is a crest.
    EXPECT_EQ(vMax1_0, 5);
    EXPECT_EQ(vMax1_3, 7);
    reiniciar_analisis();
    // p2 equal to p3 is no crest, whatever follows.
    alturas({1, 6, 6});
    EXPECT_EQ(vMax1_0, -1);
}

TEST_F(Segmentacion, AsimetriaEntreInicioYFinDeOla)
{
    CTE_PROCESAR_OLA_PERIODO_MINIMO = 0;
    // First crest at index 2; then -3, 0 never fixes a start...
    alturas({1, 9, 2, -3, 0, -1});
    EXPECT_EQ(vMax1_0, 2);
    EXPECT_EQ(vIniOla_0, -1);
    // ...while 0, 5 does (and 5 is the crest).
    alturas({0, 5, 1});
    EXPECT_EQ(vIniOla_0, 8);
    EXPECT_EQ(vIniOla_3, 5);
    EXPECT_EQ(vMax2_0, 8);
    EXPECT_NE(banco.salida(1).find("\r\nvIniOla - \r\n"), std::string::npos);
    // With the trough fixed, -1 then 0 ends the wave (below zero to zero).
    alturas({-2, -6, -1, 0, 3});
    EXPECT_EQ(nOlas, 1);
    EXPECT_EQ(mVectorAlt[0], 11);
    EXPECT_EQ(mVectorPer[0], 5);
    // The end became the next start, the crest the previous crest.
    EXPECT_EQ(vIniOla_0, 13);
    EXPECT_EQ(vIniOla_3, 0);
    EXPECT_EQ(vMax1_0, 8);
    EXPECT_EQ(vMax2_0, -1);
}

TEST_F(Segmentacion, OlasSenoidalesConSusParametros)
{
    CTE_USO_APP_TOV03 = 1;
    poner_reloj(7, 3, 24, 15, 42, 0);
    CTE_INTERVALO_PROMEDIO = 60;
    mar(4, 80, 100.0);
    // The first crest only becomes the previous crest; three waves follow.
    ASSERT_EQ(nOlas, 3);
    EXPECT_EQ(mVectorAlt[0], 200);
    // From the first sample above zero (index 82) to the next up-crossing
    // (index 161, heave 0): 7.9 s. That end, at 0, becomes the next start,
    // which the next sample above zero moves forward again.
    EXPECT_EQ(mVectorPer[0], 79);
    EXPECT_EQ(mVectorPer[1], 79);
    EXPECT_EQ(mVectorPer[2], 79);
    EXPECT_EQ(iElementosVectorAlt, 4u);
    EXPECT_EQ(mAltMaxOla, 200);
    EXPECT_EQ(mPeriodoPico, 79);
    EXPECT_EQ(mPeriodoMax, 79);
    EXPECT_EQ(mAltPromedio, 600u);
    EXPECT_EQ(mPeriodoPromedio, 237u);
    // The velocity change from crest to trough points north.
    EXPECT_EQ(mVectorDirMetVel[0], 0);
    EXPECT_EQ(banco.salida(0), "#OLA,1,200,79,0\r\n#OLA,2,200,79,0\r\n#OLA,3,200,79,0\r\n");
    EXPECT_EQ(std::string(cbuffer_wav), "07,03,24,15,42,00003 0200 079 00080 0000 000 000\r\n");
    EXPECT_NE(banco.salida(1).find("IndOla=1 Altura=200 Periodo=79 NumPtosOla=80 Dir(MetVel)=0 Dir(MetDer)=9999 "
                                   "FlagHeading=0 FlagAlign=0                Fecha Ola: 24-3-7  15:42\r\n"),
              std::string::npos)
        << banco.salida(1);
    EXPECT_EQ(dd_ola, 7);
    EXPECT_EQ(MM_ola, 42);
}

TEST_F(Segmentacion, PrimeraOlaTrasReinicioDescartada)
{
    CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET = 1;
    mar(3, 80, 100.0);
    EXPECT_EQ(nOlas, 1);
    EXPECT_EQ(CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET, 0);
    EXPECT_NE(banco.salida(1).find("\r\nOla descartada:\r\nPeriodo: 79\r\nAltura: 200\r\nNumOlasDescartadas: 0\r\n"),
              std::string::npos);
    EXPECT_EQ(CONTADOR_OLAS_DESCARTADAS, 0);
}

TEST_F(Segmentacion, LimitesAceptadosEnLaIgualdad)
{
    // 79 samples of 101,266 us: 8,000,014 us, a period of 80 tenths; 200 cm.
    struct {
        int hmin, hmax, tmin, tmax, olas;
    } casos[] = {{200, 200, 8, 8, 3}, {201, 3000, 3, 90, 0}, {0, 199, 3, 90, 0}, {0, 3000, 9, 90, 0},
                 {0, 3000, 3, 7, 0}};
    for (const auto &c : casos) {
        reiniciar_analisis();
        banco.borrar_salidas();
        iPasoSello = 101266;
        CTE_PROCESAR_OLA_ALTURA_MINIMA = c.hmin;
        CTE_PROCESAR_OLA_ALTURA_MAXIMA = c.hmax;
        CTE_PROCESAR_OLA_PERIODO_MINIMO = (uint16_t)c.tmin;
        CTE_PROCESAR_OLA_PERIODO_MAXIMO = (uint16_t)c.tmax;
        mar(4, 80, 100.0);
        EXPECT_EQ(nOlas, c.olas) << c.hmin << " " << c.hmax << " " << c.tmin << " " << c.tmax;
        EXPECT_EQ(veces("Ola descartada:"), (size_t)(3 - c.olas));
    }
    EXPECT_NE(banco.salida(1).find("Periodo: 80\r\nAltura: 200\r\nNumOlasDescartadas: 2\r\n"), std::string::npos);
}

TEST_F(Segmentacion, FinDeOlaTodoCerosFallaLaPruebaDelNuevoInicio)
{
    CTE_PROCESAR_OLA_PERIODO_MINIMO = 0;
    alturas({1, 9, 2, 0, 5, 1, -6, -2});
    EXPECT_EQ(vMin_0, 7);
    // The end sample: heave 0, both velocities exactly 0.
    empujar_muestra(0, 0.0f, 0.0f);
    empujar_muestra(4, 0.1f, 0.1f);
    EXPECT_EQ(nOlas, 1);
    EXPECT_NE(banco.salida(1).find("vIniOla tiene algun valor NULL o todo ceros.\r\n"), std::string::npos);
    EXPECT_EQ(vIniOla_0, -1);
    EXPECT_EQ(vMax1_0, -1);
    // Detection restarts from the next crest.
    alturas({2, -1});
    EXPECT_EQ(vMax1_0, 10);
}

TEST_F(Segmentacion, VelocidadNoNumericaEnElInicioTambienReinicia)
{
    CTE_PROCESAR_OLA_PERIODO_MINIMO = 0;
    alturas({1, 9, 2, 0, 5, 1, -6, -2});
    empujar_muestra(0, NAN, 0.1f);
    empujar_muestra(4, 0.1f, 0.1f);
    EXPECT_EQ(nOlas, 1);
    EXPECT_EQ(vIniOla_0, -1);
}

// Base points of a complete wave set by hand, with a window that fixes nothing.
void ola_a_mano(int32_t sello_ini, int32_t sello_fin, int16_t cresta, int16_t valle)
{
    Inicializar_Vectores_Base();
    vMax1_0 = 1;
    vIniOla_0 = 2;
    vIniOla_1 = sello_ini;
    vIniOla_4 = 0.2f;
    vMax2_0 = 5;
    vMax2_3 = cresta;
    vIntMinVn_0 = vIntMaxVn_0 = vIntMinVe_0 = vIntMaxVe_0 = 6;
    vMin_0 = 8;
    vMin_3 = valle;
    vFinOla_0 = 10;
    vFinOla_1 = sello_fin;
    vFinOla_4 = 0.3f;
    TernaDatos_pos1_3 = TernaDatos_pos2_3 = TernaDatos_pos3_3 = 0;
}

TEST_F(Segmentacion, SelloFinalAnteriorAlInicialDescartaLaOla)
{
    CTE_PROCESAR_OLA_PERIODO_MAXIMO = 255;
    ola_a_mano(350, 100, 50, -50);
    Detectar_Vectores_Base();
    EXPECT_NE(banco.salida(1).find("Ola descartada:\r\nPeriodo: 42950\r\n"), std::string::npos) << banco.salida(1);
    EXPECT_EQ(Vectores_Base_Fijados(), 0);
}

TEST_F(Segmentacion, PeriodoRedondeadoAlValidarYTruncadoAlEmitir)
{
    // 7,299,999 us: 73 in the validation (accepted with a maximum of 7.3 s is
    // impossible, so the bound is 8 s), 72 in the record.
    ola_a_mano(1000, 1000 + 7299999, 153, -120);
    CTE_PROCESAR_OLA_PERIODO_MINIMO = 8;
    Detectar_Vectores_Base();
    EXPECT_NE(banco.salida(1).find("Periodo: 73\r\nAltura: 273\r\n"), std::string::npos);

    reiniciar_analisis();
    ola_a_mano(1000, 1000 + 7299999, 153, -120);
    Detectar_Vectores_Base();
    ASSERT_EQ(Vectores_Base_Fijados(), 1);
    nOlas = 1;
    Calcular_Parametros_Salida_Ola();
    EXPECT_EQ(mVectorAlt[0], 273);
    EXPECT_EQ(mVectorPer[0], 72);
    EXPECT_EQ(mAltMaxOla, 273);
}

TEST_F(Segmentacion, PorcentajesDeEstadoLimitadosA100)
{
    ola_a_mano(0, 8000000, 40, -15);
    vIniOla_0 = 1;
    vFinOla_0 = 37;
    mFlagHeading = 40;
    mFlagAlign = 18;
    nOlas = 1;
    Calcular_Parametros_Salida_Ola();
    EXPECT_EQ(mVectorAlt[0], 55);
    EXPECT_EQ(mFlagHeading, 100);
    EXPECT_EQ(mFlagAlign, 50);
    EXPECT_EQ(mFlagHeadingPromedio, 100u);
    EXPECT_EQ(mFlagAlignPromedio, 50u);

    // A wave of one sample keeps its counts and adds nothing.
    ola_a_mano(0, 8000000, 40, -15);
    vIniOla_0 = 9;
    vFinOla_0 = 9;
    mFlagHeading = 3;
    mFlagAlign = 2;
    nOlas = 2;
    Calcular_Parametros_Salida_Ola();
    EXPECT_EQ(mFlagHeading, 3);
    EXPECT_EQ(mFlagHeadingPromedio, 100u);
    EXPECT_NE(std::string(cbuffer_wav).find(" 00001 0900 003 002\r\n"), std::string::npos) << cbuffer_wav;
}

TEST_F(Segmentacion, PicoDeOlasIgualesConservaElPeriodoDeLaPrimera)
{
    ola_a_mano(0, 8000000, 100, -100);
    nOlas = 1;
    Calcular_Parametros_Salida_Ola();
    ola_a_mano(0, 9000000, 100, -100);
    nOlas = 2;
    Calcular_Parametros_Salida_Ola();
    EXPECT_EQ(mPeriodoPico, 80);
    EXPECT_EQ(mPeriodoMax, 90);
}

TEST_F(Segmentacion, RegistroWavDelEjemplo)
{
    poner_reloj(7, 3, 24, 15, 42, 0);
    nOlas = 12;
    NOMBRE_FICHERO_WAV = "240307/1540.wav";
    TarjetaDePrueba tarjeta{{"240307/1540.wav"}};
    ccreacion_nuevo_fichero[TIPO_WAV] = 2;
    Construir_Registro_Wav(153, 72, 36, 2715, 9999, 87, 100);
    EXPECT_EQ(std::string(cbuffer_wav), "07,03,24,15,42,00012 0153 072 00036 2715 087 100\r\n");
    EXPECT_EQ(ibytes_a_escribir_sd[TIPO_WAV], 50u);
    EXPECT_EQ(cescritura_sd[TIPO_WAV], 1);

    // Drift method only: its direction in place of the velocity one.
    CTE_METODO_DIRECCION_DEFINITIVA = 1;
    Construir_Registro_Wav(153, 72, 36, 9999, 1234, 87, 100);
    EXPECT_EQ(std::string(cbuffer_wav), "07,03,24,15,42,00012 0153 072 00036 1234 087 100\r\n");
    CTE_METODO_DIRECCION_DEFINITIVA = 2;
    Construir_Registro_Wav(153, 72, 36, 2715, 1234, 87, 100);
    EXPECT_EQ(std::string(cbuffer_wav), "07,03,24,15,42,00012 0153 072 00036 2715 1234 087 100\r\n");
    CTE_METODO_DIRECCION_DEFINITIVA = 3;
    Construir_Registro_Wav(153, 72, 36, 9999, 9999, 87, 100);
    EXPECT_EQ(std::string(cbuffer_wav), "07,03,24,15,42,00012 0153 072 00036 087 100\r\n");

    // Without a wave file the record is built but not requested.
    cescritura_sd[TIPO_WAV] = 0;
    ccreacion_nuevo_fichero[TIPO_WAV] = 0;
    Construir_Registro_Wav(153, 72, 36, 9999, 9999, 87, 100);
    EXPECT_EQ(cescritura_sd[TIPO_WAV], 0);
}

TEST_F(Segmentacion, MetodoDerivaOlaEnLaLineaOla)
{
    CTE_USO_APP_TOV03 = 1;
    CTE_METODO_DIRECCION_DEFINITIVA = 1;
    ola_a_mano(0, 8000000, 100, -100);
    nOlas = 1;
    Calcular_Parametros_Salida_Ola();
    EXPECT_EQ(banco.salida(0), "#OLA,1,200,80,9999\r\n");
    EXPECT_EQ(iElementosVectorDirMetVel, 1u);
    EXPECT_EQ(iElementosVectorDirMetDer, 2u);
}

// The allocator gives out blocks until its budget of calls is spent.
int iLlamadasPermitidas = 0;
void *realloc_limitado(void *bloque, size_t bytes)
{
    if (iLlamadasPermitidas <= 0) return nullptr;
    iLlamadasPermitidas--;
    return realloc(bloque, bytes);
}

TEST_F(Segmentacion, CrecimientoFallidoConservaElBloqueYNoSigueGuardando)
{
    // Growth after the first wave fails for the heights only.
    pfrealloc_vectores_olas = realloc_limitado;
    iLlamadasPermitidas = 0;
    ola_a_mano(0, 8000000, 100, -100);
    nOlas = 1;
    Calcular_Parametros_Salida_Ola();
    EXPECT_NE(banco.salida(1).find("Error en realloc de mVectorAlt\r\n"), std::string::npos);
    EXPECT_NE(banco.salida(1).find("Error en realloc de mVectorPer\r\n"), std::string::npos);
    EXPECT_EQ(mVectorAlt[0], 200);
    EXPECT_EQ(iElementosVectorAlt, 1u);
    iLlamadasPermitidas = 100;
    for (int k = 2; k <= 4; k++) {
        ola_a_mano(0, 9000000, (int16_t)(10 * k), -100);
        nOlas = k;
        Calcular_Parametros_Salida_Ola();
    }
    EXPECT_EQ(iElementosVectorAlt, 1u);
    EXPECT_EQ(iElementosVectorDirMetVel, 1u);
    // The statistics use the one stored wave for the highest third and tenth,
    // and every wave for the maximum and the means.
    Calcular_Parametros_Salida_Ola_Promedio();
    EXPECT_EQ(std::string(cbuffer_promedio).substr(15, 26), "00004,0200,0200,0200,0148,");
    pfrealloc_vectores_olas = realloc;
}

TEST_F(Segmentacion, ArraysCrecenUnElementoPorOla)
{
    for (int k = 1; k <= 10; k++) {
        ola_a_mano(0, 8000000, 100, -100);
        nOlas = k;
        Calcular_Parametros_Salida_Ola();
    }
    EXPECT_EQ(iElementosVectorAlt, 11u);
    EXPECT_EQ(iElementosVectorPer, 11u);
    EXPECT_EQ(iElementosVectorDirMetVel, 11u);
    EXPECT_EQ(iElementosVectorDirMetDer, 1u);
}

}  // namespace
