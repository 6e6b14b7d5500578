// Start-up, the time banner and resets of the firmware on the simulated board.
#include <gtest/gtest.h>

#include <fstream>

#include "ayuda_escenarios.h"
#include "simulador/simulacion.h"

namespace {

const std::string LINEA_63(63, '*');

Opciones opciones_de(const std::string &carpeta, double segundos, const std::string &placa = "host")
{
    Opciones o;
    o.salida = carpeta;
    o.duracion_s = segundos;
    o.placa = placa;
    o.firmware = placa == "samd21" ? imagen_samd21() : OLAS_FIRMWARE;
    o.progreso = false;
    o.utc_inicial = 1796653800;  // 2026-12-07T14:30:00Z
    return o;
}

TEST(Cargador, CadaArranqueEmpiezaConLosGlobalesIniciales)
{
    placa::Placa p;
    placa::instalar(&p);
    CargadorFirmware fw(OLAS_FIRMWARE);
    fw.cargar();
    auto *hora = static_cast<volatile uint8_t *>(fw.simbolo("cmostramos_hora"));
    auto *minuto = static_cast<volatile uint8_t *>(fw.simbolo("cminuto_utc"));
    ASSERT_NE(hora, nullptr);
    ASSERT_NE(minuto, nullptr);
    EXPECT_EQ(*hora, 1);
    *hora = 0;
    *minuto = 42;
    fw.descargar();
    fw.cargar();
    hora = static_cast<volatile uint8_t *>(fw.simbolo("cmostramos_hora"));
    minuto = static_cast<volatile uint8_t *>(fw.simbolo("cminuto_utc"));
    EXPECT_EQ(*hora, 1);
    EXPECT_EQ(*minuto, 0);
    fw.descargar();
    placa::instalar(nullptr);
}

// Start-up, the no-wave reset and a power cut, on both boards.
class ArranqueEnPlaca : public ::testing::TestWithParam<std::string> {};
INSTANTIATE_TEST_SUITE_P(Placas, ArranqueEnPlaca, ::testing::Values("host", "samd21"), NombrePlaca());

TEST_P(ArranqueEnPlaca, BannersYHoraCadaMinuto)
{
    SALTAR_SIN_IMAGEN(GetParam());
    std::string c = carpeta_de_prueba("arranque_banners_" + GetParam());
    ASSERT_EQ(ejecutar_olas_sim(opciones_placa(GetParam()) + "--duration 190s --gps none --out " + c), 0);
    std::string debug = leer_fichero(c + "/debug.txt");
    std::string tele = leer_fichero(c + "/telemetry.txt");
    EXPECT_EQ(debug.rfind("   SETUP   \r\n", 0), 0u);
    EXPECT_EQ(contar(debug, "\tSensor de olas\tHardware:01_0\tFirmware:01_7_3\r\n"), 1u);
    EXPECT_EQ(contar(tele, "\tSensor de olas\tHardware:1_0\tFirmware:1_7_3\r\n"), 1u);
    // The first pass prints the clock as it was at power-on, then once a minute.
    EXPECT_NE(debug.find("\r\n" + LINEA_63 + "\r\n\t\t00/00/00\t00:00:00\r\n" + LINEA_63 + "\r\n"),
              std::string::npos);
    EXPECT_EQ(contar(debug, "\t\t00/00/00\t00:01:00\r\n"), 1u);
    EXPECT_EQ(contar(debug, "\t\t00/00/00\t00:03:00\r\n"), 1u);
    EXPECT_EQ(contar(debug, "\t\t00/00/00\t"), 4u);
    EXPECT_EQ(contar(debug, "Configurando tramas GPS\r\nTramas necesarias configuradas\r\n"), 1u);
    nlohmann::json j = leer_resumen(c);
    EXPECT_EQ(j["boots"], 1);
    EXPECT_TRUE(j["watchdog_resets"].empty());
    EXPECT_NEAR(j["virtual_seconds"].get<double>(), 190.0, 1e-6);
    comprobar_pila_y_monticulo(j);
}

TEST(Arranque, DosEjecucionesIgualesDanLosMismosFicheros)
{
    std::string a = carpeta_de_prueba("determinismo_a"), b = carpeta_de_prueba("determinismo_b");
    ASSERT_EQ(ejecutar_olas_sim("--duration 2m --xtal-ppm 35 --jumper 10-15 --out " + a), 0);
    ASSERT_EQ(ejecutar_olas_sim("--duration 2m --xtal-ppm 35 --jumper 10-15 --out " + b), 0);
    for (const char *f : {"/debug.txt", "/telemetry.txt", "/summary.json", "/eeprom.bin"})
        EXPECT_EQ(leer_fichero(a + f), leer_fichero(b + f)) << f;
}

// The console's accented letters are single ISO 8859-1 bytes: debug.txt keeps
// them as they are, the echo on a terminal shows them as UTF-8.
TEST(Arranque, ElEcoDeLaConsolaMuestraLosAcentosEnUtf8)
{
    std::string c = carpeta_de_prueba("eco_consola");
    ASSERT_EQ(ejecutar_olas_sim("--duration 2s --echo-console --out " + c, c + "/eco"), 0);
    std::string eco = leer_fichero(c + "/eco.stdout");
    std::string debug = leer_fichero(c + "/debug.txt");
    EXPECT_NE(debug.find("LECTURA DE PAR\xC1METROS DE EEPROM.\r\n"), std::string::npos);
    EXPECT_NE(debug.find("n\xBA reinicios = 1"), std::string::npos);
    EXPECT_NE(eco.find("LECTURA DE PAR\xC3\x81METROS DE EEPROM.\n"), std::string::npos) << eco.substr(0, 200);
    EXPECT_NE(eco.find("n\xC2\xBA reinicios = 1"), std::string::npos);
    EXPECT_NE(eco.find(" -> Fin grabaci\xC3\xB3n par\xC3\xA1metros por defecto."), std::string::npos);
    // Every other byte as it was, without the CR of each line end: the echo
    // is the console, then olas-sim's own closing lines.
    std::string esperado;
    for (unsigned char b : debug) {
        if (b == '\r') continue;
        if (b < 0x80) esperado.push_back((char)b);
        else esperado += std::string{(char)(0xC0 | (b >> 6)), (char)(0x80 | (b & 0x3F))};
    }
    EXPECT_EQ(eco.substr(0, esperado.size()), esperado);
}

TEST(Arranque, OpcionIncorrectaSaleConDos)
{
    std::string c = carpeta_de_prueba("opcion_mala");
    EXPECT_EQ(ejecutar_olas_sim("--duration diez --out " + c, c + "/r"), 2);
    EXPECT_NE(leer_fichero(c + "/r.stderr").find("--duration"), std::string::npos);
    EXPECT_EQ(ejecutar_olas_sim("--utc 2026-04-31T00:00:00Z --out " + c), 2);
    EXPECT_EQ(ejecutar_olas_sim("--jumper 20-10 --out " + c), 2);
    EXPECT_EQ(ejecutar_olas_sim("--no-such-option --out " + c), 2);
    // No time to run, and a folder that cannot be written, are bad options too.
    EXPECT_EQ(ejecutar_olas_sim("--duration 0s --out " + c, c + "/cero"), 2);
    EXPECT_NE(leer_fichero(c + "/cero.stderr").find("longer than 0s"), std::string::npos);
    std::ofstream(c + "/fichero") << "x";
    EXPECT_EQ(ejecutar_olas_sim("--duration 5s --out " + c + "/fichero/dentro", c + "/imposible"), 2);
    EXPECT_NE(leer_fichero(c + "/imposible.stderr").find("--out"), std::string::npos);
}

// Bytes lost on the way in are counted by where they were lost, the same on
// both boards: the GPS port, read only while the buoy asks for the time,
// fills the receive buffer the firmware reads from and loses the rest there.
TEST_P(ArranqueEnPlaca, LosBytesPerdidosSeCuentanPorCausa)
{
    SALTAR_SIN_IMAGEN(GetParam());
    std::string c = carpeta_de_prueba("arranque_perdidos_" + GetParam());
    ASSERT_EQ(ejecutar_olas_sim(opciones_placa(GetParam()) + "--duration 150s --no-sensor --out " + c), 0);
    nlohmann::json j = leer_resumen(c);
    for (const char *p : {"Serial", "Serial1", "Serial2", "Serial3"}) {
        const nlohmann::json &causa = j["uart_dropped_bytes_by_cause"][p];
        EXPECT_EQ(j["uart_dropped_bytes"][p].get<uint64_t>(),
                  causa["receive_buffer"].get<uint64_t>() + causa["hardware"].get<uint64_t>())
            << p;
    }
    // Two minutes of a receiver's bursts after its configuration (some 150
    // bytes a second) against 4096 or 1024 bytes of buffer.
    EXPECT_GT(j["uart_dropped_bytes_by_cause"]["Serial3"]["receive_buffer"].get<uint64_t>(), 10000u);
    if (GetParam() == "host") {
        EXPECT_EQ(j["uart_dropped_bytes_by_cause"]["Serial3"]["hardware"], 0);
    }
    EXPECT_EQ(j["uart_dropped_bytes"]["Serial"], 0);
}

TEST_P(ArranqueEnPlaca, CuentaAtrasSinOlasTerminaEnUnSoloReset)
{
    SALTAR_SIN_IMAGEN(GetParam());
    std::string c = carpeta_de_prueba("reset_sin_olas_" + GetParam());
    Simulacion sim(opciones_de(c, 30, GetParam()));
    sim.placa().programar(sim.ciclo_de(5.0), [&] {
        *static_cast<volatile uint8_t *>(sim.firmware().simbolo("ctimeout_reset_general")) = 1;
    });
    nlohmann::json j = sim.ejecutar();
    ASSERT_EQ(j["watchdog_resets"].size(), 1u);
    EXPECT_EQ(j["watchdog_resets"][0]["cause"], "firmware_stop");
    double t = j["watchdog_resets"][0]["time_s"].get<double>();
    EXPECT_GT(t, 6.0);
    EXPECT_LT(t, 8.1);
    EXPECT_EQ(j["boots"], 2);
    std::string debug = leer_fichero(c + "/debug.txt");
    // On the chip the line is printed from the tick interrupt, whose stop
    // never returns and whose priority holds the console's transmit
    // interrupt back: the stop must send what is queued itself.
    EXPECT_EQ(contar(debug, "0,RESET GENERAL POR FALTA DE OLAS (LOOP)\r\n"), 1u);
    EXPECT_EQ(contar(debug, "   SETUP   \r\n"), 2u);
    EXPECT_EQ(contar(debug, "\t\t00/00/00\t00:00:00\r\n"), 2u);  // the second boot's clock starts again
    comprobar_pila_y_monticulo(j);
}

TEST_P(ArranqueEnPlaca, UnCorteDeCorrienteEsUnArranqueNuevo)
{
    SALTAR_SIN_IMAGEN(GetParam());
    std::string c = carpeta_de_prueba("corte_" + GetParam());
    ASSERT_EQ(ejecutar_olas_sim(opciones_placa(GetParam()) + "--duration 30s --power-cut 10.0005 --power-cut 20s --out " + c),
              0);
    nlohmann::json j = leer_resumen(c);
    ASSERT_EQ(j["watchdog_resets"].size(), 2u);
    EXPECT_EQ(j["watchdog_resets"][0]["cause"], "power_cut");
    EXPECT_NEAR(j["watchdog_resets"][0]["time_s"].get<double>(), 10.0005, 1e-6);
    EXPECT_EQ(j["boots"], 3);
    EXPECT_EQ(contar(leer_fichero(c + "/debug.txt"), "   SETUP   \r\n"), 3u);
    comprobar_pila_y_monticulo(j);
    EXPECT_EQ(ejecutar_olas_sim(opciones_placa(GetParam()) + "--power-cut luego --out " + c), 2);
}

TEST_P(ArranqueEnPlaca, UnCorteEnMitadDeUnaGrabacionDejaLosParametrosAnteriores)
{
    SALTAR_SIN_IMAGEN(GetParam());
    std::string c = carpeta_de_prueba("corte_grabacion_" + GetParam());
    // A new averaging interval is stored at 10 s; the power goes while it is written.
    std::ofstream(c + "/guion.tov") << "10 $TOV03,3,,,,,,,,10\n";
    ASSERT_EQ(ejecutar_olas_sim(opciones_placa(GetParam()) + "--duration 20s --tov-script " + c +
                                "/guion.tov --eeprom-power-cut 8s:20 --out " + c),
              0);
    nlohmann::json j = leer_resumen(c);
    ASSERT_EQ(j["watchdog_resets"].size(), 1u);
    EXPECT_EQ(j["watchdog_resets"][0]["cause"], "power_cut");
    std::string debug = leer_fichero(c + "/debug.txt");
    size_t segundo = debug.rfind("   SETUP   ");
    ASSERT_NE(segundo, std::string::npos);
    EXPECT_NE(debug.find("IsValid.  Inizializada: 1", segundo), std::string::npos);
    EXPECT_NE(debug.find("CTE_INTERVALO_PROMEDIO=20\r\n", segundo), std::string::npos);
    comprobar_pila_y_monticulo(j);
}

TEST(Arranque, UnDiaSinNadaConectadoSinResets)
{
    std::string c = carpeta_de_prueba("un_dia");
    ASSERT_EQ(ejecutar_olas_sim("--duration 1d --gps none --no-sensor --out " + c), 0);
    std::string debug = leer_fichero(c + "/debug.txt");
    nlohmann::json j = leer_resumen(c);
    EXPECT_TRUE(j["watchdog_resets"].empty());
    EXPECT_EQ(j["boots"], 1);
    // The tick of 48001 counts runs 20.8 ppm slow: 1.8 s short of a day, so
    // the banner at power-on and 1439 minute boundaries.
    EXPECT_EQ(contar(debug, "\t\t00/00/00\t"), 1440u);
    EXPECT_EQ(contar(debug, "\t\t00/00/00\t23:59:00\r\n"), 1u);
    EXPECT_EQ(contar(debug, "Nuevo Directorio"), 0u);
    EXPECT_EQ(j["lost_ticks"], 0);
}

}  // namespace
