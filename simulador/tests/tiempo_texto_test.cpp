// Times on the simulator's command line: units, combined units, HH:MM:SS.
#include <gtest/gtest.h>

#include <string>

#include "ayuda_escenarios.h"
#include "simulador/tiempo_texto.h"

namespace {

TEST(TiempoTexto, UnidadesSolasYCombinadas)
{
    const std::pair<const char *, double> buenos[] = {
        {"90s", 90},          {"20m", 1200},         {"20min", 1200},  {"6h", 21600},     {"3d", 259200},
        {"1.5h", 5400},       {"250ms", 0.25},       {"12.5", 12.5},   {"01:02:03", 3723}, {"3h5m", 11100},
        {"1d2h30m15s", 95415}, {"2m30s", 150},        {"1s500ms", 1.5}, {"1h0.5m", 3630},  {"0h0m5s", 5},
    };
    for (const auto &b : buenos) {
        auto v = segundos_de_texto(b.first);
        ASSERT_TRUE(v.has_value()) << b.first;
        EXPECT_DOUBLE_EQ(*v, b.second) << b.first;
    }
    // A bare number only alone; units the larger first, each once; digits only.
    for (const char *malo : {"", "3h5", "5m3h", "2h3h", "1m1min", "3x", "h", "-5m", "1e3", " 5", "3h 5m", "nan",
                             "inf", "5mx", ".", "1..2s", "3h-5m", "0x10"})
        EXPECT_FALSE(segundos_de_texto(malo).has_value()) << malo;
}

TEST(TiempoTexto, DuracionCombinadaEnLaLineaDeOrdenes)
{
    std::string c = carpeta_de_prueba("duracion_combinada");
    ASSERT_EQ(ejecutar_olas_sim("--duration 0m1s500ms --no-sensor --no-card --gps none --out " + c), 0);
    EXPECT_NEAR(leer_resumen(c)["virtual_seconds"].get<double>(), 1.5, 0.01);
    EXPECT_EQ(ejecutar_olas_sim("--duration 3h5 --out " + c), 2);
    EXPECT_EQ(ejecutar_olas_sim("--duration 5m3h --out " + c), 2);
    EXPECT_EQ(ejecutar_olas_sim("--duration 0h0m --out " + c), 2);
    ejecutar_olas_sim("--help", c + "/ayuda");
    EXPECT_NE(leer_fichero(c + "/ayuda.stdout").find("1d2h30m15s"), std::string::npos);
}

}  // namespace
