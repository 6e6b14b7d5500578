// The emulated ATSAMD21's core and peripherals, on small test images built
// with the target's compiler (simulador/tests/samd21/nucleo_prueba.c), and
// the SD card's SPI mode on its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "ayuda_escenarios.h"
#include "plataforma/host/tarjeta_host.h"
#include "simulador/samd21/tarjeta_spi.h"
#include "simulador/simulacion.h"

namespace {

std::string imagen_de_prueba(int modo)
{
    return std::string(OLAS_BINARIOS) + "/nucleo_prueba_" + std::to_string(modo) + ".elf";
}

Opciones opciones_chip(const std::string &carpeta, double segundos, int modo)
{
    Opciones o;
    o.salida = carpeta;
    o.duracion_s = segundos;
    o.placa = "samd21";
    o.firmware = imagen_de_prueba(modo);
    o.bootloader = "none";   // the core's tests start the image at once after every reset
    o.progreso = false;
    return o;
}

uint32_t leer(Simulacion &sim, const char *nombre)
{
    auto *p = static_cast<volatile uint32_t *>(sim.firmware().simbolo(nombre));
    EXPECT_NE(p, nullptr) << nombre;
    return p ? *p : 0;
}

#define NECESITA_IMAGEN(m)                                                        \
    if (!std::filesystem::exists(imagen_de_prueba(m)))                            \
        GTEST_SKIP() << "no test image (arm-none-eabi-gcc missing at configure time)"

TEST(NucleoSamd21, ElTickInterrumpeCualquierInstruccionYPrimaskLoRetiene)
{
    NECESITA_IMAGEN(1);
    Simulacion sim(opciones_chip(carpeta_de_prueba("nucleo_tick"), 0.2, 1));
    nlohmann::json j = sim.ejecutar();
    // 0.2 s of a busy loop: one instruction per cycle (the last block may
    // run a few past the end), and the 100 us tick.
    EXPECT_NEAR(j["samd21"]["instructions"].get<double>(), 9600000.0, 20.0);
    EXPECT_DOUBLE_EQ(j["samd21"]["cpu_busy_fraction"].get<double>(), 1.0);
    // 2000 ticks, less the ones that came while the section held the first
    // one pending (a pending exception is one bit: the rest are lost).
    EXPECT_GT(leer(sim, "ticks"), 1990u);
    EXPECT_LT(leer(sim, "ticks"), 2000u);
    // Registers and flags come back intact from every preemption.
    EXPECT_GT(leer(sim, "pasos"), 1000u);
    EXPECT_EQ(leer(sim, "errores"), 0u);
    // Held back inside the critical section, taken right after it.
    EXPECT_EQ(leer(sim, "ticks_en_seccion"), 0u);
    EXPECT_EQ(leer(sim, "fin_seccion"), 1u);
}

TEST(NucleoSamd21, WfiSaltaAlSiguienteEvento)
{
    NECESITA_IMAGEN(2);
    Simulacion sim(opciones_chip(carpeta_de_prueba("nucleo_wfi"), 2.0, 2));
    nlohmann::json j = sim.ejecutar();
    EXPECT_NEAR(leer(sim, "despertares"), 2000, 2);
    EXPECT_LT(j["samd21"]["cpu_busy_fraction"].get<double>(), 0.001);
    EXPECT_LT(j["samd21"]["instructions"].get<uint64_t>(), 50000u);
    EXPECT_NEAR(j["virtual_seconds"].get<double>(), 2.0, 1e-6);
}

TEST(NucleoSamd21, UnRegistroSinModeloParaConDireccionYPc)
{
    NECESITA_IMAGEN(3);
    std::string c = carpeta_de_prueba("nucleo_sin_modelo");
    ASSERT_EQ(ejecutar_olas_sim("--board samd21 --firmware " + imagen_de_prueba(3) +
                                    " --duration 1s --no-card --gps none --no-sensor --out " + c,
                                c + "/r"),
              1);
    std::string error = leer_fichero(c + "/r.stderr");
    EXPECT_NE(error.find("unmodelled register at 0x42003000"), std::string::npos) << error;
    EXPECT_NE(error.find("(PC 0x0000"), std::string::npos) << error;
}

TEST(NucleoSamd21, InstruccionIndefinidaEntraEnHardFault)
{
    NECESITA_IMAGEN(4);
    Simulacion sim(opciones_chip(carpeta_de_prueba("nucleo_hardfault"), 0.01, 4));
    nlohmann::json j = sim.ejecutar();
    EXPECT_EQ(leer(sim, "resultado"), 0xFA17u);
    EXPECT_EQ(j["samd21"]["exceptions_taken"], 1);
}

TEST(NucleoSamd21, TickDeTcc0YWatchdogQueReiniciaElChip)
{
    NECESITA_IMAGEN(5);
    std::string c = carpeta_de_prueba("nucleo_tcc0_wdt");
    Simulacion sim(opciones_chip(c, 3.5, 5));
    nlohmann::json j = sim.ejecutar();
    // Fed for the first second, then 2 s of the 1.024 kHz watchdog clock.
    ASSERT_EQ(j["watchdog_resets"].size(), 1u);
    EXPECT_EQ(j["watchdog_resets"][0]["cause"], "missed_feed");
    EXPECT_NEAR(j["watchdog_resets"][0]["time_s"].get<double>(), 3.0, 0.01);
    EXPECT_EQ(j["boots"], 2);
    // The second boot starts again and ticks for the last half second; the
    // RAM kept its count through the reset (the test image does not clear it).
    EXPECT_NEAR(leer(sim, "tcc_ticks"), 3000 + 500, 3);
    EXPECT_EQ(j["tick_period_counts"], 47999);
    ASSERT_EQ(ejecutar_olas_sim("--board samd21 --firmware " + imagen_de_prueba(5) +
                                " --bootloader none --duration 10ms --no-card --gps none --no-sensor --mmio-log " + c + "/mmio.txt --out " + c),
              0);
    std::string registro = leer_fichero(c + "/mmio.txt");
    EXPECT_NE(registro.find("0x42002040 4 W 1\n"), std::string::npos) << registro;  // TCC0.PER
    EXPECT_NE(registro.find("0xE000E100 4 W 1\n"), std::string::npos) << registro;  // NVIC.ISER
    EXPECT_LT(registro.find("0x40000420"), registro.find("0x42002040"));              // sorted by address
}

TEST(NucleoSamd21, UsartAlRitmoProgramadoYUnBaudEquivocadoLlegaMal)
{
    NECESITA_IMAGEN(6);
    std::string c = carpeta_de_prueba("nucleo_usart");
    Simulacion sim(opciones_chip(c, 0.05, 6));
    nlohmann::json j = sim.ejecutar();
    ASSERT_EQ(leer(sim, "resultado"), 1u);
    std::string tele = leer_fichero(c + "/telemetry.txt");
    // 38400 baud as the unit listens: read right; 115200: two garbled
    // bytes; the bits sent most significant first: garbled too.
    ASSERT_EQ(tele.size(), 4u + 2u + 4u) << tele;
    EXPECT_EQ(tele.substr(0, 4), "OK\r\n");
    EXPECT_NE(tele.substr(4, 2), "XX");
    EXPECT_NE(tele.substr(6, 4), "OK\r\n");
    EXPECT_EQ(j["uart_sent_bytes"]["Serial"], 10);
}

// ---------------------------------------------------------------- the card in SPI mode

struct CartaSpi : ::testing::Test {
    std::string ruta;
    placa::TarjetaHost tarjeta;
    samd21::TarjetaSpi spi;
    uint64_t ciclo = 0;
    void SetUp() override
    {
        ruta = carpeta_de_prueba("tarjeta_spi") + "/card.img";
        ASSERT_TRUE(tarjeta.crear(ruta, 64ull << 20));
        placa::instalar_tarjeta(&tarjeta);
    }
    void TearDown() override { placa::instalar_tarjeta(nullptr); }
    uint8_t x(uint8_t b) { return spi.transferir(b, ciclo += 100); }
    // Sends a command and returns its R1 (the first byte that is not 0xFF).
    uint8_t cmd(uint8_t n, uint32_t arg, uint8_t crc = 0x01)
    {
        const uint8_t c[6] = {(uint8_t)(0x40 | n), (uint8_t)(arg >> 24), (uint8_t)(arg >> 16), (uint8_t)(arg >> 8),
                              (uint8_t)arg, crc};
        for (uint8_t b : c) x(b);
        for (int i = 0; i < 10; i++) {
            uint8_t r = x(0xFF);
            if (r != 0xFF) return r;
        }
        return 0xFF;
    }
    void iniciar()
    {
        ASSERT_EQ(cmd(0, 0, 0x95), 0x01);
        ASSERT_EQ(cmd(8, 0x1AA, 0x87), 0x01);
        EXPECT_EQ(x(0xFF), 0x00);
        EXPECT_EQ(x(0xFF), 0x00);
        EXPECT_EQ(x(0xFF), 0x01);
        EXPECT_EQ(x(0xFF), 0xAA);
        uint8_t r = 0x01;
        for (int i = 0; i < 5 && r == 0x01; i++) {
            cmd(55, 0);
            r = cmd(41, 0x40000000);
        }
        ASSERT_EQ(r, 0x00);
    }
    // Waits for the data token, with the access time passing.
    bool token()
    {
        for (int i = 0; i < 2000; i++)
            if (x(0xFF) == 0xFE) return true;
        return false;
    }
};

TEST_F(CartaSpi, ArranqueEscrituraYLecturaDeUnBloque)
{
    EXPECT_EQ(cmd(8, 0x1AA, 0x87), 0xFF);  // before CMD0 the card is not in SPI mode
    iniciar();
    ASSERT_EQ(cmd(58, 0), 0x00);
    EXPECT_EQ(x(0xFF) & 0xC0, 0x80);  // powered up, standard capacity (64 MB)
    ASSERT_EQ(cmd(24, 3 * 512), 0x00);
    x(0xFF);
    x(0xFE);
    for (int i = 0; i < 512; i++) x((uint8_t)(i * 7));
    x(0);
    x(0);
    EXPECT_EQ(x(0xFF) & 0x1F, 0x05);  // accepted
    EXPECT_EQ(x(0xFF), 0x00);         // busy programming
    ciclo += samd21::TarjetaSpi::CICLOS_ESCRITURA;
    EXPECT_EQ(x(0xFF), 0xFF);
    ASSERT_EQ(cmd(17, 3 * 512), 0x00);
    ASSERT_TRUE(token());
    bool iguales = true;
    for (int i = 0; i < 512; i++) iguales = iguales && x(0xFF) == (uint8_t)(i * 7);
    EXPECT_TRUE(iguales);
    EXPECT_EQ(tarjeta.estadisticas().bloques_escritos, 1u);
    EXPECT_EQ(cmd(17, 999999 * 512u), 0x40);  // beyond the card: parameter error
}

TEST_F(CartaSpi, TarjetaRetiradaYBloqueGastado)
{
    iniciar();
    tarjeta.error_escritura_desde(10);
    ASSERT_EQ(cmd(24, 10 * 512), 0x00);
    x(0xFE);
    for (int i = 0; i < 514; i++) x(0);
    EXPECT_EQ(x(0xFF) & 0x1F, 0x0D);  // write error
    tarjeta.retirar();
    EXPECT_EQ(cmd(13, 0), 0xFF);  // nothing answers
    tarjeta.insertar();
    EXPECT_EQ(cmd(13, 0), 0xFF);  // a card put back starts in SD mode again
    EXPECT_EQ(cmd(0, 0, 0x95), 0x01);
}

}  // namespace
