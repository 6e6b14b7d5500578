// A GPS receiver that never answers costs the sensor's samples once, at its
// first configuration, and is configured when it comes alive.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ayuda_escenarios.h"

namespace {

size_t perdidas(const nlohmann::json &j)
{
    return j["sensor"]["epochs_sent"].get<size_t>() - j["sensor"]["firmware_samples"].get<size_t>();
}

TEST(ReceptorMudo, TresHorasNoCuestanMasQueLaPrimeraConfiguracion)
{
    std::string a = carpeta_de_prueba("gps_mudo_10m"), b = carpeta_de_prueba("gps_mudo_3h");
    ASSERT_EQ(ejecutar_olas_sim("--duration 10m --gps none --out " + a), 0);
    ASSERT_EQ(ejecutar_olas_sim("--duration 3h --gps none --out " + b), 0);
    nlohmann::json ja = leer_resumen(a), jb = leer_resumen(b);
    size_t primera = perdidas(ja);
    EXPECT_GT(primera, 0u);  // the first configuration: 20 s without reading the sensor
    // Nine summary frames waited for the link meanwhile; the last epoch may be
    // on its way when the run ends.
    EXPECT_GE(contar(leer_fichero(b + "/telemetry.txt"), "$RES,"), 8u);
    EXPECT_LE(perdidas(jb), primera + 1);
    EXPECT_EQ(contar(leer_fichero(b + "/debug.txt"), "Configurando tramas GPS"), 1u);
    EXPECT_TRUE(jb["watchdog_resets"].empty());
}

TEST(ReceptorMudo, ElQueDespiertaTardeSeConfiguraYDaSuFix)
{
    // Silent through start-up and the first summary frame (20 min), alive at 25 min.
    std::string c = carpeta_de_prueba("gps_despierta");
    ASSERT_EQ(ejecutar_olas_sim("--duration 30m --gps silent-until=25m --out " + c), 0);
    std::string debug = leer_fichero(c + "/debug.txt");
    EXPECT_EQ(contar(debug, "Configurando tramas GPS"), 2u);
    EXPECT_EQ(contar(debug, "Rx ACK\r\n"), 5u);
    EXPECT_EQ(contar(debug, "Fecha capturada:07/12/26 14:5"), 1u);
    nlohmann::json j = leer_resumen(c);
    EXPECT_EQ(j["gps"]["nmea_rates"]["3"], 0);  // GSV off: it was configured
    EXPECT_EQ(j["gps"]["nmea_rates"]["4"], 1);
    EXPECT_NE(leer_fichero(c + "/telemetry.txt").find("$GPS,26,12,07,14,5"), std::string::npos);
    EXPECT_EQ(ejecutar_olas_sim("--duration 5s --gps silent-until=later --out " + c + "/malo"), 2);
}

}  // namespace
