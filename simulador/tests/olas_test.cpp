// The wave analysis on a simulated sea, through the whole buoy: the interval
// frames against the sea that was sent, the no-wave reset and the budget of
// starts per day.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <regex>
#include <sstream>
#include <vector>

#include "ayuda_escenarios.h"

namespace {

struct Intervalo {
    int hora, minuto, olas, hmax, h13, h110, hav, tmax, tpico, t13, t110, tav, dir, desv, rumbo, alineado;
};

// The "$RES," frames of a telemetry capture, each checked against its checksum.
std::vector<Intervalo> intervalos(const std::string &tele, int *malas = nullptr)
{
    std::vector<Intervalo> v;
    std::regex re("\\$(RES,[0-9,]*)\\*([0-9A-F]{2})\r\n");
    for (auto it = std::sregex_iterator(tele.begin(), tele.end(), re); it != std::sregex_iterator(); ++it) {
        std::string cuerpo = (*it)[1];
        uint8_t x = 0;
        for (char c : cuerpo) x ^= (uint8_t)c;
        if (x != std::stoi((*it)[2], nullptr, 16)) {
            if (malas) (*malas)++;
            continue;
        }
        std::vector<int> c;
        std::stringstream ss(cuerpo.substr(4));
        for (std::string t; std::getline(ss, t, ',');) c.push_back(std::stoi(t));
        if (c.size() != 19) continue;
        v.push_back({c[3], c[4], c[5], c[6], c[7], c[8], c[9], c[10], c[11], c[12], c[13], c[14], c[15], c[16],
                     c[17], c[18]});
    }
    return v;
}

double diferencia_angular(double a, double b)
{
    double d = std::fmod(a - b + 540.0, 360.0) - 180.0;
    return std::fabs(d);
}

TEST(OlasEnElMar, EstadisticasDeAcuerdoConElMarEnviado)
{
    std::string c = carpeta_de_prueba("mar_estadisticas");
    ASSERT_EQ(ejecutar_olas_sim("--duration 3h --no-card --sea hs=2,tp=9,dir=270,spread=20,gamma=3.3,seed=3 --out " + c),
              0);
    int malas = 0;
    std::vector<Intervalo> v = intervalos(leer_fichero(c + "/telemetry.txt"), &malas);
    EXPECT_EQ(malas, 0);
    // The clock is set at 14:30:40; the first interval ends at 14:40:01, then every 20 minutes.
    ASSERT_GE(v.size(), 8u);
    EXPECT_EQ(v[0].hora * 60 + v[0].minuto, 14 * 60 + 40);
    for (size_t i = 1; i < v.size(); i++)
        EXPECT_EQ((v[i].hora * 60 + v[i].minuto) - (v[i - 1].hora * 60 + v[i - 1].minuto), 20) << i;
    double h13 = 0, dir = 0;
    int n = 0;
    for (size_t i = 1; i < v.size(); i++) {  // the first interval is a partial one
        const Intervalo &r = v[i];
        EXPECT_GT(r.olas, 20 * 60 / 12);
        EXPECT_LT(r.olas, 20 * 60 / 5);
        EXPECT_LE(r.h13, r.h110);
        EXPECT_LE(r.h110, r.hmax);
        EXPECT_LE(r.hav, r.h13);
        EXPECT_EQ(r.rumbo, 100);
        EXPECT_EQ(r.alineado, 100);
        h13 += r.h13;
        dir += r.dir;
        n++;
    }
    h13 /= n;
    dir /= n;
    // Zero up-crossing H1/3 on a narrow-band sea is about 0.95 Hm0.
    double hm0_cm = leer_resumen(c)["sensor"]["sea"]["hm0_m"].get<double>() * 100.0;
    EXPECT_NEAR(h13, 0.95 * hm0_cm, 0.08 * hm0_cm);
    // With the sensor's heave positive down and the default factor the mean
    // direction is where the waves come from.
    EXPECT_LT(diferencia_angular(dir / 10.0, 270.0), 8.0) << dir / 10.0;
    // Every interval starts on the same heap: the wave arrays of the last one
    // were given back.
    nlohmann::json niveles = leer_resumen(c)["heap_at_interval_start"];
    ASSERT_GE(niveles.size(), 9u);
    for (const auto &v : niveles) EXPECT_EQ(v, niveles[0]) << niveles.dump();
}

TEST(OlasEnElMar, MarEnCalmaTerminaEnElResetGeneral)
{
    std::string c = carpeta_de_prueba("mar_en_calma");
    // Waves below 40 cm are not processed; the sea never reaches them.
    std::ofstream(c + "/guion.tov") << "1 $TOV03,3,,,,40\n";
    ASSERT_EQ(ejecutar_olas_sim("--duration 165m --no-card --sea hs=0.1,tp=6,seed=2 --tov-script " + c +
                                "/guion.tov --out " + c),
              0);
    nlohmann::json j = leer_resumen(c);
    std::vector<Intervalo> v = intervalos(leer_fichero(c + "/telemetry.txt"));
    ASSERT_GE(v.size(), 7u);
    for (const Intervalo &r : v) EXPECT_EQ(r.olas, 0);
    // Six empty intervals of 20 minutes (two hours) start the count-down;
    // the tick ends it in a watchdog reset.
    ASSERT_EQ(j["watchdog_resets"].size(), 1u);
    EXPECT_EQ(j["watchdog_resets"][0]["cause"], "firmware_stop");
    EXPECT_EQ(j["boots"], 2);
    std::string debug = leer_fichero(c + "/debug.txt");
    EXPECT_EQ(contar(debug, "RESET GENERAL POR FALTA DE OLAS (LOOP)\r\n"), 1u);
    EXPECT_EQ(contar(debug, "n\xBA reinicios = 1 /"), 1u);
    EXPECT_EQ(contar(debug, "n\xBA reinicios = 2 /"), 1u);  // the new boot counted one more start
}

TEST(OlasEnElMar, TormentaDeArranquesQuitaLaEscrituraEnSd)
{
    std::string c = carpeta_de_prueba("tormenta_de_arranques");
    std::string cortes;
    for (int i = 0; i < 31; i++) cortes += " --power-cut " + std::to_string(60 + 25 * i);
    ASSERT_EQ(ejecutar_olas_sim("--duration 900s --no-card --no-sensor" + cortes + " --out " + c), 0);
    nlohmann::json j = leer_resumen(c);
    EXPECT_EQ(j["boots"], 32);
    std::string debug = leer_fichero(c + "/debug.txt");
    EXPECT_GE(contar(debug, "==> Prohibida la escritura en SD por N\xBA resets 24 superado:"), 1u);
    // The last boot's settings printout shows SD writing off.
    size_t ultimo = debug.rfind("   SETUP   ");
    ASSERT_NE(ultimo, std::string::npos);
    EXPECT_NE(debug.find("Prohibida la escritura en SD", ultimo), std::string::npos);
}

}  // namespace
