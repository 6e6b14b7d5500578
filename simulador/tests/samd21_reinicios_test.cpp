// Every reset of the emulated chip behind its double-tap bootloader: the
// buoy's image comes back at both corners of the oscillators, two presses
// keep the bootloader until the power goes, an image whose fuses arm the
// watchdog never starts again, the clocks follow the oscillators' errors
// and millis() keeps the world's time.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ayuda_escenarios.h"
#include "simulador/simulacion.h"

namespace {

std::string imagen_nucleo(int modo) { return std::string(OLAS_BINARIOS) + "/nucleo_prueba_" + std::to_string(modo) + ".elf"; }
std::string imagen_reloj() { return std::string(OLAS_FUENTES) + "/build-samd21/reloj_prueba.elf"; }

#define NECESITA(ruta) \
    if (!std::filesystem::exists(ruta)) GTEST_SKIP() << "no test image " << (ruta)

const char *SIN_MUNDO = " --no-card --gps none --no-sensor --no-progress ";

std::vector<std::string> causas(const nlohmann::json &j)
{
    std::vector<std::string> r;
    for (const auto &e : j["samd21"]["resets"]) r.push_back(e["cause"].get<std::string>());
    return r;
}

// The buoy's image at a fast and at a slow ultra-low-power oscillator (the
// watchdog's clock), with the card: three commanded resets, the reset button,
// a brown-out, then a status request. Each of the five resets passes the
// bootloader's half-second wait, and the application starts every time.
class EsquinaOscilador : public ::testing::TestWithParam<std::string> {};
INSTANTIATE_TEST_SUITE_P(Samd21, EsquinaOscilador, ::testing::Values("+20%", "-20%"),
                         [](const ::testing::TestParamInfo<std::string> &i) {
                             // The image's runs end in "/samd21..." (left out under the sanitizers).
                             return std::string(i.param[0] == '+' ? "samd21_rapido" : "samd21_lento");
                         });

TEST_P(EsquinaOscilador, CadaResetVuelveAArrancarLaAplicacion)
{
    SALTAR_SIN_IMAGEN(std::string("samd21"));
    std::string c = carpeta_de_prueba(std::string("esquina_") + (GetParam()[0] == '+' ? "rapida" : "lenta"));
    std::ofstream(c + "/guion.tov") << "60 $TOV03,1,2\n240 $TOV03,1,2\n420 $TOV03,1,2\n900 $TOV03,1,8\n";
    ASSERT_EQ(ejecutar_olas_sim(opciones_placa("samd21") + "--bootloader double-tap --oscillator OSCULP32K=" +
                                    GetParam() + " --duration 16m --gps none --no-sensor --no-progress" +
                                    " --reset-pin 600.5 --brown-out 720.25 --tov-script " + c + "/guion.tov --out " + c,
                                c + "/run"),
              0);
    auto j = leer_resumen(c);
    EXPECT_EQ(j["boots"], 6);
    EXPECT_EQ(causas(j), (std::vector<std::string>{"POR", "WDT", "WDT", "WDT", "EXT", "BOD33"}));
    for (const auto &r : j["samd21"]["resets"]) EXPECT_TRUE(r["application_started"].get<bool>()) << r.dump();
    EXPECT_EQ(j["samd21"]["bootloader_stays"], 0);
    EXPECT_NE(leer_fichero(c + "/telemetry.txt").find("$OLA,01,01,8"), std::string::npos) << "status answered";
    EXPECT_EQ(j["samd21"]["user_row"][0], "0xD8E0C7FA");
    // The watchdog's period (2048 cycles of 1.024 kHz) at this oscillator,
    // and the longest time the image left it unfed.
    double periodo = 2.0 / (GetParam()[0] == '+' ? 1.2 : 0.8);
    EXPECT_LT(j["samd21"]["watchdog"]["longest_gap_between_feeds_s"].get<double>(), 0.75 * periodo);
    comprobar_pila_y_monticulo(j);
}

// Two presses 200 ms apart: the second comes inside the bootloader's wait,
// which then keeps the board, watchdog and all, until the power goes; after
// the cut the buoy starts.
class DobleToque : public ::testing::TestWithParam<std::string> {};
INSTANTIATE_TEST_SUITE_P(Placas, DobleToque, ::testing::Values("samd21"), NombrePlaca());

TEST_P(DobleToque, DosPulsacionesSeguidasDejanElBootloaderHastaUnCorte)
{
    SALTAR_SIN_IMAGEN(GetParam());
    std::string c = carpeta_de_prueba("doble_toque");
    ASSERT_EQ(ejecutar_olas_sim(opciones_placa("samd21") + SIN_MUNDO +
                                    "--duration 40s --reset-pin 5 --reset-pin 5.2 --power-cut 30 --out " + c,
                                c + "/run"),
              0);
    auto j = leer_resumen(c);
    EXPECT_EQ(causas(j), (std::vector<std::string>{"POR", "EXT", "EXT", "POR"}));
    const auto &r = j["samd21"]["resets"];
    ASSERT_EQ(r.size(), 4u);
    EXPECT_TRUE(r[0]["application_started"].get<bool>());
    EXPECT_FALSE(r[1]["application_started"].get<bool>()) << "the first press's wait was cut by the second";
    EXPECT_FALSE(r[2]["application_started"].get<bool>());
    EXPECT_TRUE(r[3]["application_started"].get<bool>());
    EXPECT_NEAR(r[2]["time_s"].get<double>(), 5.2, 1e-3);
    EXPECT_EQ(j["samd21"]["bootloader_stays"], 1);
    // Two starts of the application, each with its banner; none in between.
    EXPECT_EQ(contar(leer_fichero(c + "/debug.txt"), "   SETUP   "), 2u);
}

// An image that writes the row the firmware once wrote (the watchdog on from
// every reset, 16384 cycles of the undivided 32 kHz reset clock): on a fast
// ultra-low-power oscillator the watchdog fires inside the bootloader's wait
// after the first reset, and the next boot stays in the bootloader; its
// watchdog fires again, and the application never starts again. The same
// image with the watchdog left to the application starts after every reset.
TEST(ReiniciosSamd21, UnWatchdogDeLosFusiblesDejaElBootloaderParaSiempre)
{
    NECESITA(imagen_nucleo(7));
    std::string c = carpeta_de_prueba("fila_antigua");
    ASSERT_EQ(ejecutar_olas_sim("--board samd21 --firmware " + imagen_nucleo(7) + SIN_MUNDO +
                                    "--oscillator OSCULP32K=+20% --duration 12s --out " + c,
                                c + "/run"),
              0);
    auto j = leer_resumen(c);
    const auto &r = j["samd21"]["resets"];
    ASSERT_GE(r.size(), 4u);
    EXPECT_TRUE(r[0]["application_started"].get<bool>());
    // Fed for a second, then 2 s of the watchdog at 1.2 x 1.024 kHz.
    EXPECT_NEAR(r[1]["time_s"].get<double>(), 1.0 + 2.0 / 1.2, 0.02);
    for (size_t i = 1; i < r.size(); i++) {
        EXPECT_EQ(r[i]["cause"], "WDT") << i;
        EXPECT_FALSE(r[i]["application_started"].get<bool>()) << i;
    }
    EXPECT_GE(j["samd21"]["bootloader_stays"].get<int>(), 1);
    EXPECT_EQ(j["samd21"]["user_row"][0], "0xDAE0C7FA");

    NECESITA(imagen_nucleo(8));
    std::string d = carpeta_de_prueba("fila_nueva");
    ASSERT_EQ(ejecutar_olas_sim("--board samd21 --firmware " + imagen_nucleo(8) + SIN_MUNDO +
                                    "--oscillator OSCULP32K=+20% --duration 12s --out " + d,
                                d + "/run"),
              0);
    auto k = leer_resumen(d);
    ASSERT_GE(k["samd21"]["resets"].size(), 3u);
    for (const auto &e : k["samd21"]["resets"]) EXPECT_TRUE(e["application_started"].get<bool>()) << e.dump();
    EXPECT_EQ(k["samd21"]["bootloader_stays"], 0);
    EXPECT_EQ(k["samd21"]["user_row"][0], "0xD8E0C7FA");
}

// The watchdog counts the ultra-low-power oscillator (MODO 5 feeds it for a
// second, then 2048 cycles of its 1.024 kHz clock go by) and the TCC0 tick
// the DFLL48M (1 ms of its 48 MHz): each follows its own oscillator's error.
TEST(ReiniciosSamd21, LosRelojesDerivadosSiguenASuOscilador)
{
    NECESITA(imagen_nucleo(5));
    std::string c = carpeta_de_prueba("relojes_derivados");
    ASSERT_EQ(ejecutar_olas_sim("--board samd21 --firmware " + imagen_nucleo(5) + SIN_MUNDO +
                                    "--bootloader none --oscillator OSCULP32K=+20% --oscillator DFLL48M=-1%"
                                    " --duration 2.9s --out " + c,
                                c + "/run"),
              0);
    auto j = leer_resumen(c);
    ASSERT_EQ(j["watchdog_resets"].size(), 1u);
    // Fed for 1000 ticks of 48000 cycles of the 1 % slow DFLL (1.0101 s),
    // then 2 s of the 20 % fast watchdog clock.
    EXPECT_NEAR(j["watchdog_resets"][0]["time_s"].get<double>(), 1.0 / 0.99 + 2.0 / 1.2, 0.01);
    // The tick, 1 ms of the core's clock: 990 a true second.
    EXPECT_NEAR(j["ticks"].get<double>(), 2.9 * 990, 5);
    // A bad oscillator option is refused.
    EXPECT_EQ(ejecutar_olas_sim("--board samd21 --oscillator XOSC32K=+1% --out " + c, c + "/malo"), 2);
    EXPECT_EQ(ejecutar_olas_sim("--board samd21 --oscillator OSC8M=7 --out " + c, c + "/malo"), 2);
    EXPECT_EQ(ejecutar_olas_sim("--reset-pin 3 --out " + c, c + "/malo"), 2) << "only on the chip";
}

// millis() and micros() of the board runtime: SysTick reloads every 48000
// cycles (RVR 47999), so millis() keeps the world's time over ten minutes
// within 10 ppm, and micros() read back to back never goes back nor jumps.
TEST(ReiniciosSamd21, MillisSigueAlTiempoVirtualYMicrosNuncaRetrocede)
{
    NECESITA(imagen_reloj());
    std::string c = carpeta_de_prueba("reloj_runtime");
    Opciones o;
    o.salida = c;
    o.duracion_s = 600;
    o.placa = "samd21";
    o.firmware = imagen_reloj();
    o.bootloader = "none";
    o.progreso = false;
    Simulacion sim(o);
    nlohmann::json j = sim.ejecutar();
    auto leer = [&](const char *n) { return *static_cast<volatile uint32_t *>(sim.firmware().simbolo(n)); };
    double ms = leer("reloj_ms");
    EXPECT_NEAR(ms, 600000.0, 600000.0 * 10e-6 + 2) << "millis() against the world's time";
    EXPECT_GT(leer("reloj_lecturas"), 100000u);
    EXPECT_EQ(leer("reloj_retrocesos"), 0u);
    EXPECT_EQ(leer("reloj_saltos"), 0u);
    EXPECT_LT(leer("reloj_mayor_salto_us"), 50u);
}

}  // namespace
