// The averaging schedule: interval codes, next ends, the hourly check and the
// elapsed sensor time.
#include <gtest/gtest.h>

#include <string>

#include "declaraciones/declaraciones.h"
#include "plataforma/tests/banco_pruebas.h"
#include "waves/tests/olas_ayuda.h"
#include "waves/waves.h"

namespace {

class Horario : public ::testing::Test {
protected:
    void SetUp() override
    {
        reiniciar_analisis();
        banco.borrar_salidas();
    }
    void inicio(int h, int m, int s)
    {
        HHini = (uint8_t)h;
        MMini = (uint8_t)m;
        SSini = (uint8_t)s;
    }
    void fin(int h, int m, int s)
    {
        HHfin = (uint8_t)h;
        MMfin = (uint8_t)m;
        SSfin = (uint8_t)s;
    }
    std::string hora_fin() { return std::to_string(HHfin) + ":" + std::to_string(MMfin) + ":" + std::to_string(SSfin); }
    std::string hora_ini() { return std::to_string(HHini) + ":" + std::to_string(MMini) + ":" + std::to_string(SSini); }
    BancoPruebas banco;
};

TEST_F(Horario, CodigosDeIntervalo)
{
    const int codigos[][2] = {{0, 10}, {1, 15}, {2, 20}, {3, 30}, {4, 60}, {10, 10}, {15, 15},
                              {20, 20}, {60, 60}, {5, 30}, {30, 30}, {45, 30}, {-1, 30}};
    for (const auto &c : codigos) EXPECT_EQ(Interpretar_Intervalo_Promedio(c[0]), c[1]) << c[0];
}

TEST_F(Horario, ProximoFinAlineadoAlReloj)
{
    struct {
        int codigo, h, m, s;
        const char *fin;
    } casos[] = {{15, 10, 7, 33, "10:15:1"}, {15, 10, 45, 0, "11:0:1"}, {30, 10, 30, 0, "11:0:1"},
                 {30, 10, 29, 59, "10:30:1"}, {60, 10, 0, 1, "11:0:1"},  {10, 0, 0, 1, "0:10:1"}};
    for (const auto &c : casos) {
        reiniciar_analisis();
        CTE_INTERVALO_PROMEDIO = c.codigo;
        poner_reloj(7, 3, 24, c.h, c.m, c.s);
        Determinar_Proxima_Hora_Final(0);
        EXPECT_EQ(hora_fin(), c.fin) << c.h << ":" << c.m << ":" << c.s;
        EXPECT_EQ(hora_ini(), std::to_string(c.h) + ":" + std::to_string(c.m) + ":" + std::to_string(c.s));
        EXPECT_EQ(CTE_INTERVALO_PROMEDIO_INTERPRETADO, Interpretar_Intervalo_Promedio(c.codigo));
    }
    EXPECT_EQ(DD_ini, 7);
    EXPECT_EQ(MM_ini, 3);
    EXPECT_EQ(YY_ini, 24);
}

TEST_F(Horario, UltimoIntervaloDelDiaYElSiguiente)
{
    CTE_INTERVALO_PROMEDIO = 10;
    poner_reloj(7, 3, 24, 23, 52, 10);
    Determinar_Proxima_Hora_Final(0);
    EXPECT_EQ(hora_fin(), "23:59:50");
    EXPECT_EQ(banco.salida(1), "\r\nHH Inicial = 23:52:10\r\n\r\nCTE_INTERVALO_PROMEDIO_INTERPRETADO=10\r\n\r\n"
                               "HH Final = 23:59:50\r\n");
    poner_reloj(7, 3, 24, 23, 59, 51);
    Determinar_Proxima_Hora_Final(1);
    EXPECT_EQ(hora_ini(), "0:0:1");
    EXPECT_EQ(hora_fin(), "0:10:1");
    // An ordinary close starts the next interval at the old end.
    poner_reloj(8, 3, 24, 0, 10, 2);
    Determinar_Proxima_Hora_Final(1);
    EXPECT_EQ(hora_ini(), "0:10:1");
    EXPECT_EQ(hora_fin(), "0:20:1");
    EXPECT_EQ(DD_ini, 8);
}

TEST_F(Horario, MedianocheExactaYArgumentosSinEfecto)
{
    poner_reloj(7, 3, 24, 0, 0, 0);
    Determinar_Proxima_Hora_Final(0);
    EXPECT_EQ(hora_ini(), "0:0:0");
    EXPECT_EQ(hora_fin(), "0:0:0");
    EXPECT_EQ(banco.salida(1), "");
    poner_reloj(7, 3, 24, 0, 0, 1);
    Determinar_Proxima_Hora_Final(2);
    EXPECT_EQ(hora_ini(), "0:0:0");
    Determinar_Proxima_Hora_Final(0);
    EXPECT_EQ(hora_ini(), "0:0:1");
    EXPECT_EQ(hora_fin(), "0:20:1");
    banco.borrar_salidas();
    poner_reloj(7, 3, 24, 5, 0, 0);
    Determinar_Proxima_Hora_Final(0);
    EXPECT_EQ(hora_fin(), "0:20:1");
    EXPECT_EQ(banco.salida(1), "");
}

TEST_F(Horario, RevisionHorariaReiniciaSoloLoQueNoCuadra)
{
    CTE_INTERVALO_PROMEDIO = 20;
    CTE_INTERVALO_PROMEDIO_INTERPRETADO = 20;
    // A start older than one interval plus 5 minutes: full restart from the clock.
    poner_reloj(7, 3, 24, 5, 0, 15);
    inicio(3, 20, 1);
    fin(3, 40, 1);
    Revision_Tiempos();
    EXPECT_NE(banco.salida(1).find("\r\nRevision de tiempo: 220-300=-80>20-100=-75(3:20)\r\n  Reinicio Hora Ini.\r\n"
                                   "  =>Reinicio.\r\nHH Inicial = 5:0:15"),
              std::string::npos)
        << banco.salida(1);
    EXPECT_EQ(hora_ini(), "5:0:15");
    EXPECT_EQ(hora_fin(), "5:20:1");

    // A start after the clock.
    poner_reloj(7, 3, 24, 4, 0, 15);
    inicio(5, 0, 1);
    fin(5, 20, 1);
    Revision_Tiempos();
    EXPECT_EQ(hora_ini(), "4:0:15");
    EXPECT_EQ(hora_fin(), "4:20:1");

    // In agreement: nothing happens, however often it runs in that second.
    poner_reloj(7, 3, 24, 5, 0, 15);
    inicio(5, 0, 1);
    fin(5, 20, 1);
    banco.borrar_salidas();
    Revision_Tiempos();
    Revision_Tiempos();
    EXPECT_EQ(hora_ini(), "5:0:1");
    EXPECT_EQ(hora_fin(), "5:20:1");
    EXPECT_EQ(banco.salida(1).find("Reinicio"), std::string::npos);

    // An end in the past is recomputed from the kept start.
    inicio(4, 50, 1);
    fin(4, 55, 1);
    banco.borrar_salidas();
    Revision_Tiempos();
    EXPECT_NE(banco.salida(1).find("  =>Reinicio Hora Fin. (Menor que utc)\r\n"), std::string::npos);
    EXPECT_EQ(hora_ini(), "4:50:1");
    EXPECT_EQ(hora_fin(), "5:0:1");

    // An end too far ahead.
    inicio(5, 0, 1);
    fin(6, 0, 1);
    banco.borrar_salidas();
    Revision_Tiempos();
    EXPECT_NE(banco.salida(1).find("  =>Reinicio Hora Fin.\r\n"), std::string::npos);
    EXPECT_EQ(hora_fin(), "5:20:1");
}

TEST_F(Horario, RevisionHorariaSoloEnElSegundo15DelMinuto0DeLasHoras1a22)
{
    CTE_INTERVALO_PROMEDIO_INTERPRETADO = 20;
    const int momentos[][3] = {{0, 0, 15}, {23, 0, 15}, {5, 0, 14}, {5, 0, 16}, {5, 1, 15}};
    for (const auto &m : momentos) {
        poner_reloj(7, 3, 24, m[0], m[1], m[2]);
        inicio(1, 0, 1);
        fin(1, 20, 1);
        Revision_Tiempos();
        EXPECT_EQ(hora_ini(), "1:0:1");
        EXPECT_EQ(hora_fin(), "1:20:1");
    }
    EXPECT_EQ(banco.salida(1), "");
}

TEST_F(Horario, DiferenciaDeSellosConSusVueltas)
{
    EXPECT_EQ(Diferencia_Timespan(100, 0), 0u);
    EXPECT_EQ(Diferencia_Timespan(100, 350), 250u);
    EXPECT_EQ(Diferencia_Timespan(-10, -4), 6u);
    EXPECT_EQ(Diferencia_Timespan(2147483640, -2147483646), 8u);
    EXPECT_EQ(Diferencia_Timespan(-5, 3), 6u);
    EXPECT_EQ(Diferencia_Timespan(350, 100), 4294967044u);
    EXPECT_EQ(Diferencia_Timespan(INT32_MIN, INT32_MAX), 1u);
    EXPECT_EQ(Diferencia_Timespan(INT32_MAX, INT32_MIN), 4294967293u);
}

}  // namespace
