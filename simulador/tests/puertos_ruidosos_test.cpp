// Ports that never fall silent and a GPS receiver that never answers: every
// epoch of the sensor still becomes a sample, nothing resets, and a command
// sent once the line is quiet again gets its reply.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ayuda_escenarios.h"

namespace {

struct Epoca {
    double t, heave_cm;
};

// Time and heave of every epoch sent (from --sensor-truth).
std::vector<Epoca> epocas_enviadas(const std::string &csv)
{
    std::vector<Epoca> v;
    std::istringstream f(leer_fichero(csv));
    std::string linea;
    std::getline(f, linea);  // header
    while (std::getline(f, linea)) {
        std::vector<std::string> campos;
        std::istringstream l(linea);
        for (std::string c; std::getline(l, c, ',');) campos.push_back(c);
        if (campos.size() < 5) continue;
        v.push_back({std::atof(campos[1].c_str()), 100.0 * std::atof(campos[4].c_str())});
    }
    return v;
}

// Heave of every whole "#PTO," line (heave and yaw, one per sample) on the link.
std::vector<double> heaves_pto(const std::string &tele)
{
    std::vector<double> v;
    for (size_t p = tele.find("#PTO,"); p != std::string::npos; p = tele.find("#PTO,", p + 1)) {
        size_t fin = tele.find("\r\n", p);
        size_t siguiente = tele.find('#', p + 1);
        size_t coma = tele.find(',', p + 5);
        if (fin == std::string::npos || coma == std::string::npos || coma > fin || siguiente < fin) continue;
        v.push_back(std::atof(tele.c_str() + p + 5));
    }
    return v;
}

// Every epoch sent up to the last second of the run became a sample, in
// order, none missing: its "#PTO," line carries its heave.
void ninguna_muestra_perdida(const std::string &c, double duracion)
{
    std::vector<Epoca> enviadas = epocas_enviadas(c + "/truth.csv");
    std::vector<double> pto = heaves_pto(leer_fichero(c + "/telemetry.txt"));
    size_t hasta = 0;
    while (hasta < enviadas.size() && enviadas[hasta].t < duracion - 1.0) hasta++;
    ASSERT_GT(hasta, 0u);
    ASSERT_GE(pto.size(), hasta);
    for (size_t i = 0; i < hasta; i++)
        ASSERT_NEAR(pto[i], enviadas[i].heave_cm, 0.011) << "epoch " << i << " at " << enviadas[i].t << " s";
    nlohmann::json j = leer_resumen(c);
    EXPECT_GE(j["sensor"]["firmware_samples"].get<size_t>(), hasta);
    EXPECT_EQ(j["boots"], 1);
    EXPECT_TRUE(j["watchdog_resets"].empty());
}

std::string guion(const std::string &c, const std::string &lineas)
{
    std::ofstream(c + "/guion.tov") << lineas;
    return " --tov-script " + c + "/guion.tov";
}

size_t perdidas(const nlohmann::json &j)
{
    return j["sensor"]["epochs_sent"].get<size_t>() - j["sensor"]["firmware_samples"].get<size_t>();
}

TEST(PuertosSinSilencio, UnGpsQueNoCallaUnaHora)
{
    std::string c = carpeta_de_prueba("gps_sin_pausa");
    // "#PTO," lines on from the first epoch; a status command near the end.
    ASSERT_EQ(ejecutar_olas_sim("--duration 1h --gps nofix --gps stream --sensor-truth " + c + "/truth.csv" +
                                guion(c, "1 $TOV03,12,1\n3590 $TOV03,1,5\n") + " --out " + c),
              0);
    ninguna_muestra_perdida(c, 3600);
    nlohmann::json j = leer_resumen(c);
    // The line carried what 9600 baud carries, and the buoy read it all.
    EXPECT_GT(j["uart_received_bytes"]["Serial3"].get<double>(), 0.99 * 960 * 3600);
    EXPECT_EQ(j["uart_dropped_bytes"]["Serial3"], 0);
    EXPECT_EQ(j["uart_dropped_bytes"]["Serial2"], 0);
    EXPECT_EQ(contar(leer_fichero(c + "/telemetry.txt"), "$OLA,01,01,5,"), 1u);
    // Configured once; a record waiting for the link does not configure it again.
    EXPECT_EQ(contar(leer_fichero(c + "/debug.txt"), "Configurando tramas GPS"), 1u);

    // The bursts cut from the stream still give the fix.
    std::string f = carpeta_de_prueba("gps_sin_pausa_fix");
    ASSERT_EQ(ejecutar_olas_sim("--duration 60s --gps stream --out " + f), 0);
    EXPECT_EQ(contar(leer_fichero(f + "/debug.txt"), "Fecha capturada:07/12/26 14:30:"), 1u);
}

TEST(PuertosSinSilencio, UnEnlaceQueBalbuceaUnaHora)
{
    std::string c = carpeta_de_prueba("telemetria_balbucea");
    ASSERT_EQ(ejecutar_olas_sim("--duration 3610s --gps nofix --tov-babble 10-3600 --sensor-truth " + c +
                                "/truth.csv" + guion(c, "1 $TOV03,12,1\n3601 $TOV03,1,5\n") + " --out " + c),
              0);
    ninguna_muestra_perdida(c, 3610);
    nlohmann::json j = leer_resumen(c);
    EXPECT_GT(j["telemetry_babble_bytes"].get<double>(), 1e6);
    std::string tele = leer_fichero(c + "/telemetry.txt");
    EXPECT_EQ(contar(tele, "$OLA,01,01,5,"), 1u);
    // The babble is the same at every run.
    std::string d = carpeta_de_prueba("telemetria_balbucea_corto");
    ASSERT_EQ(ejecutar_olas_sim("--duration 20s --tov-babble 5-15 --out " + d), 0);
    ASSERT_EQ(ejecutar_olas_sim("--duration 20s --tov-babble 5-15 --out " + d + "/otra"), 0);
    EXPECT_EQ(leer_resumen(d)["telemetry_babble_bytes"], leer_resumen(d + "/otra")["telemetry_babble_bytes"]);
    EXPECT_EQ(leer_fichero(d + "/debug.txt"), leer_fichero(d + "/otra/debug.txt"));
    for (const char *malo : {"--tov-babble 15-5", "--tov-babble 5", "--tov-babble a-b"})
        EXPECT_EQ(ejecutar_olas_sim(std::string("--duration 5s ") + malo + " --out " + d), 2) << malo;
    EXPECT_EQ(ejecutar_olas_sim("--duration 5s --gps stream --gps log=" + d + "/debug.txt --out " + d), 2);
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
