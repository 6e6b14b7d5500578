// The buoy with its GPS receiver: configuration, first fix, clock and
// position, the "GPS," record, replays of real receivers' captures, and the
// internal clock against the world's UTC.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>

#include "ayuda_escenarios.h"
#include "simulador/dispositivos/receptor_gps.h"
#include "simulador/simulacion.h"

namespace {

// The team's shared folder lies beside the repository (or beside its work trees).
std::string carpeta_capturas()
{
    for (const char *c : {"/../shared/testdata/nmea/", "/../../shared/testdata/nmea/"}) {
        std::string ruta = std::string(OLAS_FUENTES) + c;
        if (std::ifstream(ruta + "SOURCES.md")) return ruta;
    }
    return "";
}

std::string con_checksum(const std::string &cuerpo)
{
    uint8_t x = 0;
    for (char c : cuerpo.substr(1)) x ^= (uint8_t)c;
    char b[8];
    std::snprintf(b, sizeof b, "*%02X\r\n", x);
    return cuerpo + b;
}

std::string mensaje_cfg(uint8_t id, uint8_t tasa)
{
    std::string m = {(char)0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, (char)0xF0, (char)id, (char)tasa};
    uint8_t a = 0, b = 0;
    for (size_t i = 2; i < m.size(); i++) {
        a = (uint8_t)(a + (uint8_t)m[i]);
        b = (uint8_t)(b + a);
    }
    return m + (char)a + (char)b;
}

// The five configuration messages in their order, as the receiver gets them.
const std::string CONFIGURACION = mensaje_cfg(0x03, 0) + mensaje_cfg(0x01, 0) + mensaje_cfg(0x04, 1) +
                                  mensaje_cfg(0x05, 0) + mensaje_cfg(0x08, 0);

// The receiver's configuration and first fix, on both boards.
class GpsEnPlaca : public ::testing::TestWithParam<std::string> {};
INSTANTIATE_TEST_SUITE_P(Placas, GpsEnPlaca, ::testing::Values("host", "samd21"), NombrePlaca());

TEST_P(GpsEnPlaca, AckALaPrimeraCincoMensajesYFixALos40s)
{
    SALTAR_SIN_IMAGEN(GetParam());
    std::string c = carpeta_de_prueba("gps_fix_40_" + GetParam());
    ASSERT_EQ(ejecutar_olas_sim(opciones_placa(GetParam()) + "--duration 60s --out " + c), 0);
    ASSERT_EQ(CONFIGURACION.size(), 55u);
    ASSERT_EQ(CONFIGURACION.substr(0, 11), std::string("\xB5\x62\x06\x01\x03\x00\xF0\x03\x00\xFD\x15", 11));
    EXPECT_EQ(leer_fichero(c + "/gps_commands.bin"), CONFIGURACION);
    std::string debug = leer_fichero(c + "/debug.txt");
    EXPECT_EQ(contar(debug, "Rx ACK\r\n"), 5u);
    EXPECT_EQ(contar(debug, "Fecha capturada:07/12/26 14:30:40\r\n"), 1u);
    EXPECT_EQ(contar(debug, "Fecha capturada:"), 1u);  // the request is closed
    std::string tele = leer_fichero(c + "/telemetry.txt");
    EXPECT_EQ(contar(tele, con_checksum("$GPS,26,12,07,14,30,40,08,43,30,37500N,008,36,75000W,01,01,01")), 1u);
    nlohmann::json j = leer_resumen(c);
    EXPECT_EQ(j["gps"]["ack"], 5);
    EXPECT_EQ(j["gps"]["nmea_rates"]["3"], 0);  // GSV off
    EXPECT_EQ(j["gps"]["nmea_rates"]["4"], 1);  // RMC on
    // Set to the second of the burst it came in: within a second of the world.
    EXPECT_LE(std::fabs(j["clock"]["offset_s"].get<double>()), 1.0);
    comprobar_pila_y_monticulo(j);
}

TEST(ReceptorGps, ReceptorMudoVeinteIntentosCadaMensaje)
{
    std::string c = carpeta_de_prueba("gps_mudo");
    ASSERT_EQ(ejecutar_olas_sim("--duration 40s --gps none --out " + c), 0);
    std::string enviados = leer_fichero(c + "/gps_commands.bin");
    ASSERT_EQ(enviados.size(), 5u * 20u * 11u);
    for (int m = 0; m < 5; m++)
        for (int k = 0; k < 20; k++)
            EXPECT_EQ(enviados.substr(11 * (20 * m + k), 11), CONFIGURACION.substr(11 * m, 11)) << m << " " << k;
    std::string debug = leer_fichero(c + "/debug.txt");
    EXPECT_EQ(contar(debug, "Tramas necesarias configuradas\r\n"), 1u);
    EXPECT_EQ(contar(debug, "Rx "), 0u);
    nlohmann::json j = leer_resumen(c);
    EXPECT_TRUE(j["clock"]["offset_s"].is_null());  // never set
    EXPECT_EQ(j["gps"]["bursts"], 0);
}

TEST(ReceptorGps, NakSeReintentaYLuegoEscucha)
{
    std::string c = carpeta_de_prueba("gps_nak");
    ASSERT_EQ(ejecutar_olas_sim("--duration 50s --gps nak --gps fix-after=30 --out " + c), 0);
    std::string debug = leer_fichero(c + "/debug.txt");
    // A NAK queued behind a burst of the receiver may come after the 200 ms wait.
    EXPECT_LE(contar(debug, "Rx NACK\r\n"), 100u);
    EXPECT_GE(contar(debug, "Rx NACK\r\n"), 80u);
    EXPECT_EQ(contar(debug, "Rx ACK\r\n"), 0u);
    EXPECT_EQ(leer_fichero(c + "/gps_commands.bin").size(), 1100u);
    // The receiver kept all its sentences, and the buoy still takes its fix.
    EXPECT_EQ(contar(debug, "Fecha capturada:07/12/26 14:30:"), 1u);
}

TEST(ReceptorGps, SinFixNoHayCapturaYConGnSi)
{
    std::string a = carpeta_de_prueba("gps_nofix"), b = carpeta_de_prueba("gps_gn");
    ASSERT_EQ(ejecutar_olas_sim("--duration 90s --gps nofix --out " + a), 0);
    EXPECT_EQ(contar(leer_fichero(a + "/debug.txt"), "Fecha capturada:"), 0u);
    EXPECT_EQ(leer_fichero(a + "/telemetry.txt").find("$GPS,"), std::string::npos);
    ASSERT_EQ(ejecutar_olas_sim("--duration 30s --gps talker=GN --gps fix-after=10 --position -33.5,151.25 --utc "
                                "2027-01-01T23:59:55Z --out " +
                                    b),
              0);
    EXPECT_EQ(contar(leer_fichero(b + "/debug.txt"), "Fecha capturada:02/01/27 00:00:05\r\n"), 1u);
    EXPECT_EQ(contar(leer_fichero(b + "/telemetry.txt"),
                     con_checksum("$GPS,27,01,02,00,00,05,08,33,30,00000S,151,15,00000E,01,01,01")),
              1u);
}

// A receiver that never sends a sentence: the request stays open, the
// receiver is configured once, pin 17 stays low from the end of the start-up
// on, and without a date no directory or file is made on the card; the
// sensor's samples are processed all the same.
TEST(ReceptorGps, SinSentenciasElPin17SigueBajoYNoSeCreaDirectorio)
{
    std::string c = carpeta_de_prueba("gps_sin_sentencias");
    {
        CLI::App app;
        for (Extension *e : extensiones()) e->opciones(app);
        app.parse(std::vector<std::string>{"none", "--gps", "64", "--card-size"});
        for (Extension *e : extensiones()) e->validar(Opciones{});
    }
    Opciones o;
    o.salida = c;
    o.duracion_s = 300;
    o.firmware = OLAS_FIRMWARE;
    o.progreso = false;
    o.utc_inicial = 1796653800;
    int nivel_17 = -1, subidas_17 = 0;
    nlohmann::json j;
    {
        Simulacion sim(o);
        // The configuration (20 s of unanswered messages) is over by then.
        uint64_t configurado = sim.ciclo_de(30);
        sim.placa().observar_pines([&](uint32_t pin, int nivel, uint64_t ciclo) {
            if (pin != 17) return;
            if (nivel == 1 && ciclo > configurado) subidas_17++;
            nivel_17 = nivel;
        });
        j = sim.ejecutar();
    }
    {
        CLI::App app;
        for (Extension *e : extensiones()) e->opciones(app);
        app.parse(std::vector<std::string>{});
        for (Extension *e : extensiones()) e->validar(Opciones{});
    }
    EXPECT_EQ(j["boots"], 1);
    EXPECT_EQ(nivel_17, 0);
    EXPECT_EQ(subidas_17, 0);
    std::string debug = leer_fichero(c + "/debug.txt");
    EXPECT_EQ(contar(debug, "Configurando tramas GPS"), 1u);
    EXPECT_EQ(contar(debug, "Tramas necesarias configuradas"), 1u);
    EXPECT_EQ(contar(debug, "Fecha capturada:"), 0u);
    EXPECT_NE(debug.find("SD inicializada"), std::string::npos);
    EXPECT_EQ(debug.find("Nuevo directorio creado"), std::string::npos);
    EXPECT_EQ(debug.find("Directorio ya existe"), std::string::npos);
    EXPECT_EQ(debug.find("Nuevo fichero creado"), std::string::npos);
    EXPECT_GT(j["sensor"]["firmware_samples"].get<int>(), 2000);
}

TEST(ReceptorGps, OpcionesIncorrectas)
{
    std::string c = carpeta_de_prueba("gps_opciones");
    EXPECT_EQ(ejecutar_olas_sim("--gps fix-after=x --out " + c), 2);
    EXPECT_EQ(ejecutar_olas_sim("--gps talker=GL --out " + c), 2);
    EXPECT_EQ(ejecutar_olas_sim("--gps log=/no/such/file --out " + c), 2);
    EXPECT_EQ(ejecutar_olas_sim("--position 95,0 --out " + c), 2);
    EXPECT_EQ(ejecutar_olas_sim("--position 43.5 --out " + c), 2);
}

TEST(ReceptorGps, ConTrazaPideYRecibeElEstadoDeSatelites)
{
    std::string c = carpeta_de_prueba("gps_pubx");
    Opciones o;
    o.salida = c;
    o.duracion_s = 12;
    o.firmware = OLAS_FIRMWARE;
    o.progreso = false;
    o.utc_inicial = 1796653800;
    Simulacion sim(o);
    sim.placa().programar(sim.ciclo_de(0.5), [&] {
        *static_cast<uint8_t *>(sim.firmware().simbolo("cextraigo_gps")) = 1;
    });
    nlohmann::json j = sim.ejecutar();
    EXPECT_GT(j["gps"]["pubx_replies"].get<int>(), 3);
    std::string debug = leer_fichero(c + "/debug.txt");
    EXPECT_NE(debug.find("GPS TX (0) => 181 98 6 1 3 0 240 3 0 253 21 \r\n"), std::string::npos);
    EXPECT_NE(debug.find("=>$PUBX,03,8,2,U,"), std::string::npos);
    EXPECT_NE(debug.find("Satelites:0\tCalidad:9.9/9.9/9.9\tFecha:07/12/26 14:30:"), std::string::npos);
}

// ---------------------------------------------------------------- the model itself

TEST(ModeloGps, CfgMsgConChecksumYConfiguracionPorPuerto)
{
    std::string c = carpeta_de_prueba("modelo_gps");
    Opciones o;
    o.salida = c;
    o.firmware = OLAS_FIRMWARE;
    Simulacion sim(o);
    ReceptorGps r(sim, ConfiguracionGps());
    auto dar = [&r](const std::string &m) {
        for (char b : m) r.recibir((uint8_t)b, 9600, 0);
    };
    dar("$GPTXT,hola*00\r\n" + mensaje_cfg(0x03, 0));
    EXPECT_EQ(r.acks(), 1u);
    EXPECT_EQ(r.tasas().at(0x03), 0);
    std::string malo = mensaje_cfg(0x00, 0);
    malo[10] ^= 1;
    dar(malo);
    EXPECT_EQ(r.naks(), 1u);
    EXPECT_EQ(r.tasas().at(0x00), 1);  // a malformed message changes nothing
    // The 8-byte form sets the rates of every port; UART1 is the buoy's.
    std::string ocho = {(char)0xB5, 0x62, 0x06, 0x01, 0x08, 0x00, (char)0xF0, 0x08, 0, 1, 0, 0, 0, 0};
    uint8_t a = 0, b = 0;
    for (size_t i = 2; i < ocho.size(); i++) {
        a = (uint8_t)(a + (uint8_t)ocho[i]);
        b = (uint8_t)(b + a);
    }
    dar(ocho + (char)a + (char)b);
    EXPECT_EQ(r.tasas().at(0x08), 1);
    EXPECT_EQ(r.acks(), 2u);
    dar("$PUBX,03*30\r\n");
    EXPECT_EQ(r.respuestas_pubx(), 1u);
}

TEST(ModeloGps, CapturaEnRafagasPorSegundo)
{
    std::string ubx = std::string("\xB5\x62\x0A\x04\x02\x00\x41\x0A\x59\xBB", 10);
    std::string captura = "# a comment line\n$GPTXT,01,01,02,u-blox*50\r\n$GPRMC,120000.00,V,,,,,,,,,,N*00\r\n"
                          "$GPGSA,A,1*00\r\n" +
                          ubx + "$GPGGA,120000.00,,,,,0*00\r\n$GPRMC,120001.00,V*00\r\n#$GPGGA,120001*00\n"
                          "$GPGLL,,,,,120001.00,V*00\n$GPGLL,,,,,120002.00,V*00\n";
    std::vector<std::string> r = rafagas_de_captura(captura);
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0], "$GPTXT,01,01,02,u-blox*50\r\n");
    EXPECT_EQ(r[1], "$GPRMC,120000.00,V,,,,,,,,,,N*00\r\n$GPGSA,A,1*00\r\n" + ubx + "$GPGGA,120000.00,,,,,0*00\r\n");
    EXPECT_EQ(r[2], "$GPRMC,120001.00,V*00\r\n$GPGLL,,,,,120001.00,V*00\n");
    EXPECT_EQ(r[3], "$GPGLL,,,,,120002.00,V*00\n");
}

// ---------------------------------------------------------------- real receivers

struct Repeticion {
    const char *fichero;
    const char *captura;  // "" when the capture has no acceptable fix
    const char *registro;
};

TEST(CapturasReales, PrimerFixAceptableOninguno)
{
    const Repeticion casos[] = {
        {"bu353s4.log", "31/12/14 03:07:19", "$GPS,14,12,31,03,07,19,08,37,47,08730S,175,18,89380E,01,01,01"},
        {"ch-4711.log", "05/12/09 13:56:51", "$GPS,09,12,05,13,56,51,06,55,43,03280N,037,24,71980E,02,01,00"},
        {"gp-320fw-2019-04-07-coldboot.log", "07/04/19 00:03:45",
         "$GPS,19,04,07,00,03,45,04,48,08,99930N,011,35,07980E,02,01,02"},
        {"magellan-ec10.log", "", ""},  // lower-case checksums
        {"ublox-lea-4h.log", "10/08/06 03:10:08", "$GPS,06,08,10,03,10,08,05,49,07,58133N,122,42,60088W,04,02,03"},
        {"ublox-lea-5h.log", "21/08/10 08:37:23", "$GPS,10,08,21,08,37,23,06,51,55,55442N,004,34,65873E,03,02,02"},
        {"ublox-lea-5q.log", "", ""},  // never a fix
        {"ublox-lea-m8f.log", "", ""},  // UBX only
        {"ublox-zed-f9p-nmea.log", "12/04/19 00:39:56",
         "$GPS,19,04,12,00,39,56,12,45,52,65403S,170,30,00668E,01,00,00"},
        {"ublox8-uniqid-monhw.log", "24/03/24 20:42:21",
         "$GPS,24,03,24,20,42,21,06,46,24,27601N,117,01,24518W,02,01,01"},
    };
    for (const Repeticion &r : casos) {
        if (carpeta_capturas().empty()) GTEST_SKIP() << "no shared/testdata/nmea beside the sources";
        std::string ruta = carpeta_capturas() + r.fichero;
        if (!std::ifstream(ruta)) GTEST_SKIP() << "no capture " << ruta;
        std::string c = carpeta_de_prueba(std::string("captura_") + r.fichero);
        ASSERT_EQ(ejecutar_olas_sim("--duration 100s --gps log=" + ruta + " --out " + c), 0) << r.fichero;
        std::string debug = leer_fichero(c + "/debug.txt");
        std::string tele = leer_fichero(c + "/telemetry.txt");
        nlohmann::json j = leer_resumen(c);
        EXPECT_EQ(j["boots"], 1) << r.fichero;
        if (std::string(r.captura).empty()) {
            EXPECT_EQ(contar(debug, "Fecha capturada:"), 0u) << r.fichero;
            EXPECT_EQ(tele.find("$GPS,"), std::string::npos) << r.fichero;
        } else {
            EXPECT_EQ(contar(debug, "Fecha capturada:"), 1u) << r.fichero;
            EXPECT_EQ(contar(debug, std::string("Fecha capturada:") + r.captura + "\r\n"), 1u) << r.fichero;
            EXPECT_EQ(contar(tele, con_checksum(r.registro)), 1u) << r.fichero;
        }
    }
}

// ---------------------------------------------------------------- the clock against the world

// A capture with a single fix at the second the replay sends it, then silence.
std::string captura_de_un_fix(const std::string &carpeta)
{
    std::string ruta = carpeta + "/un_fix.nmea";
    std::ofstream f(ruta, std::ios::binary);
    f << con_checksum("$GPRMC,143003.00,A,4330.37500,N,00836.75000,W,0.012,,071226,,,A")
      << con_checksum("$GPGGA,143003.00,4330.37500,N,00836.75000,W,1,08,1.01,3.2,M,50.1,M,,")
      << con_checksum("$GPGSA,A,3,02,05,13,15,18,20,24,29,,,,,1.85,1.01,1.55");
    return ruta;
}

TEST(RelojYUtc, UnDiaConOsciladorDe200ppm)
{
    // Without a correction the clock set once runs as the oscillator says:
    // 200 ppm fast, less 20.8 ppm of the 48001-count tick.
    std::string a = carpeta_de_prueba("reloj_libre");
    ASSERT_EQ(ejecutar_olas_sim("--duration 1d --xtal-ppm 200 --no-sensor --no-card --gps log=" + captura_de_un_fix(a) +
                                " --out " + a),
              0);
    nlohmann::json ja = leer_resumen(a);
    ASSERT_FALSE(ja["clock"]["offset_s"].is_null());
    double esperado = (200.0 - 1e6 / 48001.0) * 1e-6 * 86397.0;
    EXPECT_NEAR(ja["clock"]["offset_s"].get<double>(), esperado, 1.5);
    // With the receiver and the sensor, the measurement against the sensor
    // (restarted by the first fix, when the loop has just been held up by the
    // GPS burst) sets the tick to the oscillator within a few counts, and
    // every resynchronisation pulls the clock back to UTC.
    const double ideal = 48000.0 * (1.0 + 179.2e-6);
    std::string b = carpeta_de_prueba("reloj_gps");
    ASSERT_EQ(ejecutar_olas_sim("--duration 1d --xtal-ppm 200 --no-card --out " + b), 0);
    nlohmann::json jb = leer_resumen(b);
    EXPECT_LE(std::fabs(jb["clock"]["offset_s"].get<double>()), 3.0);
    EXPECT_GE(contar(leer_fichero(b + "/debug.txt"), "Fecha capturada:"), 6u);
    ASSERT_FALSE(jb["clock"]["corrections"].empty());
    EXPECT_EQ(jb["clock"]["corrections"][0]["kind"], "sensor");
    EXPECT_NEAR(jb["clock"]["corrections"][0]["period"].get<double>(), ideal, 4.0);
    // A sensor whose own counter runs 3000 ppm fast misleads that first
    // measurement; the GPS comparison finds more than 15 s between two fixes
    // and tunes the tick to the oscillator.
    std::string c = carpeta_de_prueba("reloj_gps_sensor_rapido");
    ASSERT_EQ(ejecutar_olas_sim("--duration 12h --xtal-ppm 200 --sensor-clock-ppm 3000 --no-card --out " + c), 0);
    nlohmann::json jc = leer_resumen(c);
    EXPECT_LT(jc["clock"]["corrections"][0]["period"].get<double>(), ideal - 48000.0 * 2000e-6);
    EXPECT_NEAR(jc["clock"]["tick_period_counts"].get<double>(), ideal, 6.0);
    EXPECT_LE(std::fabs(jc["clock"]["offset_s"].get<double>()), 3.0);
}

// The measurement against the sensor's time stamps after start-up: a count
// of 601 tenths of a second, with the tick's position within its tenth at
// both ends, against the stamps of the samples at those ends: a millisecond
// in a minute, plus the samples' own jitter. At 5 Hz as at 10 Hz.
TEST(RelojYUtc, CorreccionContraElSensor)
{
    for (const char *hz : {"10", "5"}) {
        std::string c = carpeta_de_prueba(std::string("reloj_sensor_") + hz);
        ASSERT_EQ(ejecutar_olas_sim(std::string("--duration 10m --xtal-ppm 200 --gps nofix --no-card --sensor-rate ") +
                                        hz + " --out " + c),
                  0);
        nlohmann::json j = leer_resumen(c);
        int sensor = 0;
        for (const auto &k : j["clock"]["corrections"])
            if (k["kind"] == "sensor") {
                sensor++;
                EXPECT_NEAR(k["period"].get<double>(), 48000.0 * (1.0 + 179.2e-6), 4.0) << hz;
                EXPECT_LT(k["time_s"].get<double>(), 70.0) << hz;
            }
        EXPECT_EQ(sensor, 1) << hz;
        EXPECT_EQ(j["clock"]["tick_period_counts"], j["clock"]["corrections"][0]["period"]) << hz;
    }
}

}  // namespace
