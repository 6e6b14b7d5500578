// The motion sensor model and the firmware's samples of its sea: the "#PTO,"
// stream against the values that were sent, faults, replay of a recording.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <regex>
#include <sstream>
#include <vector>

#include "ayuda_escenarios.h"
#include "simulador/dispositivos/mar.h"
#include "simulador/simulacion.h"

namespace {

// Until the telemetry command exists, the tests switch the "#PTO," stream on
// in the firmware at every boot.
struct ExtensionAppTov03 : Extension {
    bool activa = false;
    void arranque(Simulacion &sim, int) override
    {
        if (!activa) return;
        auto *p = static_cast<uint8_t *>(sim.firmware().simbolo("CTE_USO_APP_TOV03"));
        if (p) *p = 1;
    }
};
ExtensionAppTov03 app_tov03;
RegistroExtension registro_app_tov03(&app_tov03);

void configurar_extensiones(const std::vector<std::string> &argumentos)
{
    CLI::App app;
    for (Extension *e : extensiones()) e->opciones(app);
    std::vector<std::string> al_reves(argumentos.rbegin(), argumentos.rend());
    app.parse(al_reves);
    for (Extension *e : extensiones()) e->validar(Opciones{});
}

nlohmann::json ejecutar_con_pto(const std::string &carpeta, double segundos, const std::vector<std::string> &args)
{
    // The slot stays empty: card writes would push the last epochs of the run
    // past its end, and these runs follow the sensor's data alone.
    std::vector<std::string> opciones = args;
    opciones.push_back("--no-card");
    configurar_extensiones(opciones);
    Opciones o;
    o.salida = carpeta;
    o.duracion_s = segundos;
    o.firmware = OLAS_FIRMWARE;
    o.progreso = false;
    o.utc_inicial = 1796653800;
    app_tov03.activa = true;
    nlohmann::json j;
    {
        Simulacion sim(o);
        j = sim.ejecutar();
    }
    app_tov03.activa = false;
    configurar_extensiones({});  // back to the default scenario for the other tests
    return j;
}

struct Epoca {
    double heave_m, vn, yaw_rad;
    std::string ship, nav, euler;
};

std::vector<Epoca> leer_verdad(const std::string &ruta)
{
    std::vector<Epoca> v;
    std::ifstream f(ruta);
    std::string linea;
    std::getline(f, linea);
    while (std::getline(f, linea)) {
        std::vector<std::string> c;
        std::stringstream ss(linea);
        for (std::string t; std::getline(ss, t, ',');) c.push_back(t);
        if (c.size() < 12) continue;
        v.push_back({std::stod(c[4]), std::stod(c[5]), std::stod(c[7]), c[8], c[9], c[10]});
    }
    return v;
}

// The yaw the firmware must report for a yaw sent in radians.
int yaw_esperado(double rad)
{
    float grados = (float)((double)(float)rad / 3.14159265359 * 180.0);
    if (grados < 0) grados = (float)((double)grados + 360.0);
    return (int)((double)grados + 0.5);
}

struct Pieza {
    char tipo;  // 'H' heave text, 'Y' yaw and line end
    double valor;
};

std::vector<Pieza> piezas_de_telemetria(const std::string &todo)
{
    // The wave lines and the checksummed frames stand on their own lines.
    std::string t = std::regex_replace(todo, std::regex("(#OLA,|\\$)[^\r]*\r\n"), "");
    std::vector<Pieza> r;
    std::regex re("#PTO,(-?[0-9]+\\.[0-9]{2})|,([0-9]+)\r\n");
    for (auto it = std::sregex_iterator(t.begin(), t.end(), re); it != std::sregex_iterator(); ++it) {
        if ((*it)[1].matched) r.push_back({'H', std::stod((*it)[1])});
        else r.push_back({'Y', std::stod((*it)[2])});
    }
    return r;
}

std::vector<Pieza> piezas_esperadas(const std::vector<Epoca> &verdad)
{
    std::vector<Pieza> r;
    for (const Epoca &e : verdad) {
        if (e.ship == "ok" || e.ship == "zero") r.push_back({'H', (double)((float)e.heave_m * 100.0f)});
        if (e.euler == "ok" || e.euler == "zero") r.push_back({'Y', (double)yaw_esperado(e.yaw_rad)});
    }
    return r;
}

void comparar_piezas(const std::vector<Pieza> &vistas, const std::vector<Pieza> &esperadas)
{
    ASSERT_EQ(vistas.size(), esperadas.size());
    size_t errores = 0;
    for (size_t i = 0; i < vistas.size() && errores < 5; i++) {
        bool bien = vistas[i].tipo == esperadas[i].tipo &&
                    (vistas[i].tipo == 'H' ? std::fabs(vistas[i].valor - esperadas[i].valor) <= 0.0051
                                           : vistas[i].valor == esperadas[i].valor);
        if (!bien) {
            errores++;
            ADD_FAILURE() << "piece " << i << ": " << vistas[i].tipo << vistas[i].valor << " expected "
                          << esperadas[i].tipo << esperadas[i].valor;
        }
    }
}

TEST(Mar, DireccionDeProcedenciaYVelocidadEnFase)
{
    ParametrosMar p;
    ASSERT_EQ(leer_parametros_mar("hs=2,tp=9,dir=90,spread=0,gamma=3.3,seed=4,drift=0.5,-0.25", p), "");
    EXPECT_EQ(p.drift_n, 0.5);
    EXPECT_EQ(p.drift_e, -0.25);
    Mar mar(p);
    EXPECT_NEAR(mar.hm0(), 2.0, 1e-9);
    // Waves from the east travel west: east velocity against the elevation.
    double see = 0, svv = 0, sev = 0, sen = 0, snn = 0, sume = 0, sumn = 0;
    int n = 0;
    for (double t = 0; t < 3600; t += 0.5, n++) {
        Mar::Estado e = mar.en(t);
        double ve = e.ve - p.drift_e, vn = e.vn - p.drift_n;
        see += e.elevacion * e.elevacion;
        svv += ve * ve;
        snn += vn * vn;
        sev += e.elevacion * ve;
        sen += e.elevacion * vn;
        sume += e.ve;
        sumn += e.vn;
        EXPECT_LE(std::fabs(e.yaw), 3.1416);
    }
    EXPECT_LT(sev / std::sqrt(see * svv), -0.9);
    EXPECT_LT(snn, 1e-12 * svv + 1e-9);
    EXPECT_NEAR(see / n, mar.m0(), 0.15 * mar.m0());
    EXPECT_NEAR(sume / n, -0.25, 0.05);
    EXPECT_NEAR(sumn / n, 0.5, 0.05);
    // The seed decides the sea, the same on every run.
    Mar otra(p);
    EXPECT_EQ(otra.en(123.4).elevacion, mar.en(123.4).elevacion);
    ParametrosMar q = p;
    q.seed = 5;
    EXPECT_NE(Mar(q).en(123.4).elevacion, mar.en(123.4).elevacion);
    EXPECT_NE(leer_parametros_mar("hs=2,depth=4", q), "");
    EXPECT_NE(leer_parametros_mar("drift=1", q), "");
}

// The sea asked for at evenly spaced times, as the sensor does, is the sea
// worked out afresh at each of those times: through many steps, a change of
// step, a step back and a jump.
TEST(Mar, PasosRegularesComoElCalculoDirecto)
{
    ParametrosMar p;
    ASSERT_EQ(leer_parametros_mar("hs=3,tp=7,dir=200,spread=30,gamma=2,seed=11", p), "");
    Mar seguido(p);
    std::vector<double> tiempos;
    for (int k = 0; k < 2000; k++) tiempos.push_back(3.0 + k * 0.1);
    for (int k = 0; k < 50; k++) tiempos.push_back(203.0 + k * 0.2);
    tiempos.push_back(150.0);
    tiempos.push_back(86399.9);
    tiempos.push_back(86400.0);
    double peor = 0;
    for (double t : tiempos) {
        Mar::Estado a = seguido.en(t);
        Mar::Estado b = Mar(p).en(t);
        peor = std::max({peor, std::fabs(a.elevacion - b.elevacion), std::fabs(a.vn - b.vn), std::fabs(a.ve - b.ve)});
        EXPECT_EQ(a.yaw, b.yaw);
    }
    EXPECT_LT(peor, 1e-9);
}

TEST(SensorMovimiento, LineasPTOConElHeaveYElYawEnviados)
{
    std::string c = carpeta_de_prueba("sensor_pto");
    nlohmann::json j = ejecutar_con_pto(c, 183.0,
                                        {"--sea", "hs=2,tp=7,dir=270,spread=20,gamma=3.3,seed=5", "--sensor-truth",
                                         c + "/truth.csv"});
    const nlohmann::json &s = j["sensor"];
    std::vector<Epoca> verdad = leer_verdad(c + "/truth.csv");
    ASSERT_EQ(s["epochs_sent"].get<size_t>(), verdad.size());
    EXPECT_EQ(verdad.size(), 1800u);
    EXPECT_EQ(s["frames_sent"], 3 * 1800);
    EXPECT_EQ(s["firmware_samples"], 1800);
    EXPECT_EQ(s["pto_lines"], 1800);
    EXPECT_NEAR(s["sea"]["hm0_m"].get<double>(), 2.0, 1e-9);
    std::string tele = leer_fichero(c + "/telemetry.txt");
    comparar_piezas(piezas_de_telemetria(tele), piezas_esperadas(verdad));
    // The heave series has the sea's height: 4 standard deviations near Hm0.
    double s1 = 0, s2 = 0;
    for (const Epoca &e : verdad) {
        s1 += e.heave_m;
        s2 += e.heave_m * e.heave_m;
    }
    double var = s2 / (double)verdad.size() - (s1 / (double)verdad.size()) * (s1 / (double)verdad.size());
    EXPECT_NEAR(4.0 * std::sqrt(var), 2.0, 0.5);
}

TEST(SensorMovimiento, FallosInyectadosYReplayDeLaGrabacion)
{
    std::string vivo = carpeta_de_prueba("sensor_fallos_vivo"), replay = carpeta_de_prueba("sensor_fallos_replay");
    nlohmann::json j = ejecutar_con_pto(
        vivo, 150.0,
        {"--sea", "hs=1,tp=6,seed=9", "--sensor-corrupt", "0.05", "--sensor-drop", "0.03", "--sensor-second-nav",
         "0.1", "--sensor-zero-stamp", "0.03", "--sensor-nan-velocity", "0.03", "--sensor-record",
         vivo + "/sensor.bin", "--sensor-truth", vivo + "/truth.csv"});
    const nlohmann::json &s = j["sensor"];
    for (const char *f : {"frames_corrupted", "frames_dropped", "second_nav_logs", "zero_stamps", "nan_velocities"})
        EXPECT_GT(s["faults"][f].get<int>(), 0) << f;
    std::vector<Epoca> verdad = leer_verdad(vivo + "/truth.csv");
    // Every corrupt frame dropped, every good one used.
    std::string tele = leer_fichero(vivo + "/telemetry.txt");
    comparar_piezas(piezas_de_telemetria(tele), piezas_esperadas(verdad));
    int muestras = s["firmware_samples"];
    EXPECT_GE(muestras, s["epochs_intact"].get<int>());
    EXPECT_LT(muestras, s["epochs_sent"].get<int>());
    EXPECT_TRUE(j["watchdog_resets"].empty());

    nlohmann::json r = ejecutar_con_pto(replay, 150.0, {"--sensor-log", vivo + "/sensor.bin"});
    EXPECT_EQ(r["sensor"]["source"], "replay");
    EXPECT_EQ(r["sensor"]["firmware_samples"], muestras);
    EXPECT_EQ(r["sensor"]["bytes_sent"], s["bytes_sent"]);
    EXPECT_EQ(leer_fichero(replay + "/telemetry.txt"), tele);
    EXPECT_EQ(leer_fichero(replay + "/debug.txt"), leer_fichero(vivo + "/debug.txt"));
}

TEST(SensorMovimiento, ProtocoloActualYSellosQueCruzan2a31y2a32)
{
    struct Caso {
        std::vector<std::string> args;
    };
    std::vector<Caso> casos = {{{"--sensor-protocol", "current"}},
                               {{"--sensor-clock-start", "2117483648"}},   // 2^31 - 30 s
                               {{"--sensor-clock-start", "4264967346"}}};  // 2^32 - 30 s + 50 us: no stamp is 0
    int k = 0;
    for (const Caso &caso : casos) {
        std::string c = carpeta_de_prueba("sensor_caso_" + std::to_string(k++));
        nlohmann::json j = ejecutar_con_pto(c, 63.0, caso.args);
        EXPECT_EQ(j["sensor"]["epochs_sent"], 600) << caso.args[0];
        EXPECT_EQ(j["sensor"]["firmware_samples"], 600) << caso.args[0];
        EXPECT_EQ(j["sensor"]["pto_lines"], 600) << caso.args[0];
    }
}

TEST(SensorMovimiento, SinSensorYOpcionesMalas)
{
    std::string c = carpeta_de_prueba("sensor_ninguno");
    ASSERT_EQ(ejecutar_olas_sim("--duration 20s --no-sensor --out " + c), 0);
    nlohmann::json j = leer_resumen(c);
    EXPECT_EQ(j["sensor"]["enabled"], false);
    EXPECT_EQ(j["uart_received_bytes"]["Serial2"], 0);
    for (const char *malo : {"--sea hs=2,tp=1", "--sea hs=2,foo=3", "--sensor-rate 0", "--sensor-protocol new",
                             "--sensor-drop 2", "--no-sensor --sea hs=1"})
        EXPECT_EQ(ejecutar_olas_sim(std::string("--duration 5s ") + malo + " --out " + c), 2) << malo;
    EXPECT_EQ(ejecutar_olas_sim("--duration 5s --sensor-log /nonexistent/x.bin --out " + c), 1);
}

}  // namespace
