// Start-up of the analysis and the accounting of starts.
#include <gtest/gtest.h>

#include <string>

#include "declaraciones/declaraciones.h"
#include "plataforma/tests/banco_pruebas.h"
#include "waves/tests/olas_ayuda.h"
#include "virtual_e2prom/virtual_e2prom.h"
#include "modulo_gps/modulo_gps.h"
#include "waves/waves.h"

namespace {

class Reinicios : public ::testing::Test {
protected:
    void SetUp() override
    {
        reiniciar_analisis();
        REINICIOS_24H = 0;
        REINICIOS_24H_DIA = 0;
        CTE_PERMITIR_ESCRITURA_SD = 1;
        CTE_PERMITIR_ESCRITURA_SD_EEPROM = 1;
        banco.borrar_salidas();
    }
    BancoPruebas banco;
};

TEST_F(Reinicios, InicializarDejaElAnalisisEnBlancoYMuestraLosAjustes)
{
    grabacion_parametros_por_defecto();  // a factory image
    banco.borrar_salidas();
    CTE_METODO_DIRECCION = 2;
    CTE_INTERVALO_PROMEDIO = 3;
    TENGO_HORA_VALIDA = 1;
    TernaDatos_pos2_0 = 7;
    vMax1_0 = 4;
    nOlas = 9;
    Inicializar();
    EXPECT_EQ(CTE_METODO_DIRECCION_DEFINITIVA, 2);
    EXPECT_EQ(CTE_INTERVALO_PROMEDIO_INTERPRETADO, 30);
    EXPECT_EQ(TENGO_HORA_VALIDA, 0);
    EXPECT_EQ(TernaDatos_pos2_0, 0);
    EXPECT_EQ(vMax1_0, -1);
    EXPECT_EQ(nOlas, 0);
    EXPECT_EQ(TernaTiempos1, -1000);
    std::string s = banco.salida(1);
    EXPECT_NE(s.find("_Fin Inicializar promedio_\r\n\r\nchoras_sincronizacion_gps="), std::string::npos);
    EXPECT_NE(s.find("\r\nCTE_METODO_DIRECCION=2\r\nCTE_PROCESAR_OLA_ALTURA_MINIMA=0\r\n"), std::string::npos);
    EXPECT_NE(s.find("\r\nCTE_INTERVALO_PROMEDIO=3\r\nCTE_INTERVALO_PROMEDIO_INTERPRETADO=30\r\n"), std::string::npos);
    // A fresh store: the first start.
    EXPECT_NE(s.find("icanales_activados_sensor="), std::string::npos);
    EXPECT_NE(s.find("\r\nn\xBA reinicios = 1 / 0 (0)\r\nCTE_PERMITIR_ESCRITURA_SD=1/1/1\r\nBAUDRATE=38400\r\n"),
              std::string::npos)
        << s;
    EXPECT_NE(s.find("\r\nCTE_VELOCIDAD_RELOJ=48000 / EEPROM=48000\r\n% OCUPADO SD="), std::string::npos);
}

TEST_F(Reinicios, RevisionSinFechaSoloCabecera)
{
    cRevision_Resets_24h = 1;
    CTE_PERMITIR_ESCRITURA_SD = 0;
    Revision_Resets_24h();
    EXPECT_EQ(cRevision_Resets_24h, 0);
    EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD, 0);
    EXPECT_EQ(banco.salida(1), "\r\n\t\t\t\t\t\t\t\t\t\t\t\t\t\t==> Revision resets 24h: \r\n\r\n");
}

TEST_F(Reinicios, RevisionDeUnDiaNuevoFijaLaBase)
{
    poner_reloj(12, 3, 24, 8, 0, 0);
    REINICIOS_24H_DIA = 11;
    REINICIOS_24H = 40;
    CTE_PERMITIR_ESCRITURA_SD = 0;
    CONT_TRAMAS_GPS = 1;
    Revision_Resets_24h();
    EXPECT_EQ(REINICIOS_24H_DIA, 12);
    EXPECT_EQ(REINICIOS_24H, lectura_variable_contador_reinicios());
    EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD, 1);
    EXPECT_EQ(CONT_TRAMAS_GPS, 2);
    EXPECT_NE(banco.salida(1).find("==> Nuevo d\xED"
                                   "a: Resets 24h: Inicializacion."),
              std::string::npos);
}

TEST_F(Reinicios, RevisionDelMismoDiaIgualaUnaBaseMayor)
{
    poner_reloj(12, 3, 24, 8, 0, 0);
    REINICIOS_24H_DIA = 12;
    REINICIOS_24H = 100;
    CTE_PERMITIR_ESCRITURA_SD = 0;
    Revision_Resets_24h();
    uint16_t total = lectura_variable_contador_reinicios();
    EXPECT_EQ(REINICIOS_24H, total);
    EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD, 1);
    EXPECT_NE(banco.salida(1).find("Igualamos.\t\t\t\t\t\t\t\t\t\t\t\t\t\t==> Diferencia de resets= " +
                                   std::to_string(total) + " - " + std::to_string(total) + " = 0\r\n"),
              std::string::npos)
        << banco.salida(1);

    // With the stored permission off, the same day changes nothing.
    CTE_PERMITIR_ESCRITURA_SD_EEPROM = 0;
    CTE_PERMITIR_ESCRITURA_SD = 0;
    REINICIOS_24H = 100;
    Revision_Resets_24h();
    EXPECT_EQ(REINICIOS_24H, 100);
    EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD, 0);
}

// The daily budget is 30 starts: 30 more than the day's baseline keep SD
// writing on, the 31st switches it off for the rest of the day.
TEST_F(Reinicios, ElPresupuestoDiarioEsDeTreintaArranques)
{
    poner_reloj(12, 3, 24, 8, 0, 0);
    escritura_variable_permitir_escritura_SD(1);
    for (uint16_t total : {130, 131}) {
        REINICIOS_24H_DIA = 12;
        REINICIOS_24H = 100;
        CTE_PERMITIR_ESCRITURA_SD = 1;
        escritura_variable_contador_reinicios(total);
        banco.borrar_salidas();
        Revision_Resets_24h();
        std::string s = banco.salida(1);
        std::string diferencia = std::to_string(total - 100);
        EXPECT_NE(s.find("\t\t\t\t\t\t\t\t\t\t\t\t\t\t==> Diferencia de resets= " + std::to_string(total) +
                         " - 100 = " + diferencia + "\r\n"),
                  std::string::npos)
            << s;
        std::string prohibida = "\t\t\t\t\t\t\t\t\t\t\t\t\t\t==> Prohibida la escritura en SD por N\xBA resets 24 superado:";
        if (total == 130) {
            EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD, 1);
            EXPECT_EQ(s.find("Prohibida"), std::string::npos) << s;
        } else {
            EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD, 0);
            EXPECT_NE(s.find(prohibida + "31\r\n"), std::string::npos) << s;
        }
        EXPECT_EQ(REINICIOS_24H, 100);
    }
}

}  // namespace
