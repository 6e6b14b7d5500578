// The telemetry unit's script and the link to the buoy.
#include <gtest/gtest.h>

#include <fstream>

#include "ayuda_escenarios.h"
#include "simulador/dispositivos/unidad_telemetria.h"

namespace {

TEST(GuionTelemetria, LineasTiemposYSumas)
{
    auto o = leer_guion_telemetria(
        "# comment\n\n12.5 $TOV03,1,8\n00:10:00  $TOV03,1,5*0F  \r\n30 @baud 115200\n  # indented comment\n");
    ASSERT_EQ(o.size(), 3u);
    EXPECT_DOUBLE_EQ(o[0].segundos, 12.5);
    uint8_t x = 0;
    for (char c : std::string("TOV03,1,8")) x ^= (uint8_t)c;
    char suma[8];
    std::snprintf(suma, sizeof suma, "*%02X\r\n", x);
    EXPECT_EQ(o[0].trama, std::string("$TOV03,1,8") + suma);
    EXPECT_DOUBLE_EQ(o[1].segundos, 600);
    EXPECT_EQ(o[1].trama, "$TOV03,1,5*0F\r\n");  // written with its own checksum: sent as it is
    EXPECT_EQ(o[2].baudios, 115200u);
    EXPECT_TRUE(o[2].trama.empty());
}

TEST(GuionTelemetria, ErroresConSuLinea)
{
    for (const char *malo : {"$TOV03,1,8\n", "ayer $TOV03\n", "10\n", "10 @baud rapido\n", "10 @baud 0\n"}) {
        try {
            leer_guion_telemetria(std::string("# ok\n") + malo);
            ADD_FAILURE() << malo;
        } catch (const std::runtime_error &e) {
            EXPECT_NE(std::string(e.what()).find("line 2"), std::string::npos) << e.what();
        }
    }
}

TEST(GuionTelemetria, LaUnidadEnviaYRegistra)
{
    std::string c = carpeta_de_prueba("guion_telemetria");
    std::ofstream(c + "/guion.tov") << "2 $TOV03,1,8\n3 @baud 9600\n4 $TOV03,1,8\n";
    ASSERT_EQ(ejecutar_olas_sim("--duration 6s --tov-script " + c + "/guion.tov --out " + c), 0);
    auto j = leer_resumen(c);
    EXPECT_EQ(j["telemetry_frames_sent"], 2);
    EXPECT_GT(j["uart_received_bytes"]["Serial"].get<uint64_t>(), 20u);
    // Everything the buoy sent is kept (here the banner, read at 38400 before
    // the unit changed its own rate).
    EXPECT_NE(leer_fichero(c + "/telemetry.txt").find("Hardware:1_0"), std::string::npos);
    EXPECT_EQ(ejecutar_olas_sim("--tov-script /no/such/file --out " + c), 2);
}

}  // namespace

namespace {

// The command link, on both boards.
class TelemandoEnPlaca : public ::testing::TestWithParam<std::string> {};
INSTANTIATE_TEST_SUITE_P(Placas, TelemandoEnPlaca, ::testing::Values("host", "samd21"), NombrePlaca());

TEST_P(TelemandoEnPlaca, ResetPorOrdenDespuesDeLaRespuesta)
{
    SALTAR_SIN_IMAGEN(GetParam());
    std::string c = carpeta_de_prueba("reset_por_orden_" + GetParam());
    std::ofstream(c + "/guion.tov") << "5 $TOV03,1,2\n";
    ASSERT_EQ(ejecutar_olas_sim(opciones_placa(GetParam()) + "--duration 12s --tov-script " + c + "/guion.tov --out " + c),
              0);
    auto j = leer_resumen(c);
    ASSERT_EQ(j["watchdog_resets"].size(), 1u);
    EXPECT_EQ(j["watchdog_resets"][0]["cause"], "firmware_stop");
    // The reply goes out, then 1 s passes, then the watchdog's 2 s.
    double t = j["watchdog_resets"][0]["time_s"].get<double>();
    EXPECT_GT(t, 5.0 + 0.1 + 1.0 + 1.9);
    EXPECT_LT(t, 5.0 + 0.3 + 1.1 + 2.0);
    std::string tele = leer_fichero(c + "/telemetry.txt");
    size_t respuesta = tele.find("$OLA,01,01*");
    ASSERT_NE(respuesta, std::string::npos);
    // The second boot's banner comes after the reply.
    EXPECT_NE(tele.find("Hardware:1_0", respuesta), std::string::npos);
    comprobar_pila_y_monticulo(j);
}

// A command read just as the interval ends: the clock is set from GPS at
// 14:30:40, the first interval's end time is 14:40:00, and the wave that
// crosses it ends in the sample processed about 602.06 s after power-on. The
// unit keeps the line busy from 601.85 s to 602.05 s with bytes after the
// frame, so the pass that reads the command also spans the arrival of that
// sample, the reply waits for the next pass, and that pass's sensor step ends
// the interval. Both texts reach the unit, the reply first.
TEST(Telemando, UnaRespuestaJustoAntesDelFinDelIntervaloNoSePierde)
{
    std::string c = carpeta_de_prueba("respuesta_fin_intervalo");
    std::ofstream(c + "/guion.tov") << "601.85 $TOV03,1,5\n601.90 .*00\n601.95 .*00\n602.00 .*00\n602.05 .*00\n";
    ASSERT_EQ(ejecutar_olas_sim("--duration 605s --no-card --tov-script " + c + "/guion.tov --out " + c), 0);
    std::string tele = leer_fichero(c + "/telemetry.txt");
    size_t respuesta = tele.find("$OLA,01,01,5,00001*");
    size_t resumen = tele.find("$RES,07,12,26,14,40,");
    ASSERT_NE(respuesta, std::string::npos) << tele.substr(tele.size() > 400 ? tele.size() - 400 : 0);
    ASSERT_NE(resumen, std::string::npos);
    EXPECT_LT(respuesta, resumen);
    EXPECT_EQ(contar(tele, "$RES,"), 1u);
}

}  // namespace
