// The emulated ATSAMD21's peripheral models on their own, called directly
// with a fake of the chip around them: each test names the datasheet fact it
// checks. (Reset values are checked with the resets, elsewhere.)
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "simulador/samd21/entorno.h"
#include "simulador/samd21/gclk.h"
#include "simulador/samd21/nvmctrl.h"
#include "simulador/samd21/port.h"
#include "simulador/samd21/sercom.h"
#include "simulador/samd21/sercom_usart.h"
#include "simulador/samd21/sysctrl.h"
#include "simulador/samd21/systick.h"
#include "simulador/samd21/tcc.h"
#include "simulador/samd21/wdt.h"

namespace {

using namespace samd21;

constexpr uint32_t TODO = 0xFFFFFFFFu;

// The chip around a model: a clock the test sets, and a record of what the
// model asked of the chip and the board.
struct ChipFalso : Entorno {
    uint64_t t = 0;
    int sincronizaciones = 0, protegidas = 0, pines = 0, reinicios = 0, relojes = 0;
    TipoReset tipo_reinicio = TipoReset::encendido;
    uint64_t estancado = 0;
    std::vector<uint8_t> enviados, spi_salidas;
    std::map<std::pair<int, int>, int> externos;
    uint32_t periodo_tcc = 0;

    uint64_t ahora() const override { return t; }
    void aviso_sincronizacion(const char *) override { sincronizaciones++; }
    void escritura_protegida() override { protegidas++; }
    void aviso(const std::string &) override {}
    void pedir_reinicio(const char *, TipoReset tipo) override { reinicios++; tipo_reinicio = tipo; }
    void estancar(uint64_t ciclos) override { estancado += ciclos; }
    void relojes_cambiados() override { relojes++; }
    int nivel_externo(int g, int p) const override
    {
        auto it = externos.find({g, p});
        return it == externos.end() ? -1 : it->second;
    }
    void pines_cambiados() override { pines++; }
    uint64_t usart_transmitir(int, uint8_t byte, uint32_t baudios) override
    {
        enviados.push_back(byte);
        return t + (uint64_t)(10 * HZ_CPU / baudios);
    }
    uint8_t spi_intercambiar(int, uint32_t, uint8_t salida) override
    {
        spi_salidas.push_back(salida);
        return (uint8_t)(salida + 1);  // a device that answers each byte with the next value
    }
    void tcc0_periodo(uint32_t per) override { periodo_tcc = per; }
    long long corte_en_escritura() override { return -1; }

protected:
    void detener(const std::string &, uint32_t) override {}
    void cortar() override {}
};

// SYSCTRL and GCLK after a power-on, with the DFLL48M open loop running and
// generator 3 on it, undivided: a 48 MHz clock for the peripherals.
struct Relojes {
    ChipFalso chip;
    Sysctrl sysctrl{chip};
    Gclk gclk{chip, sysctrl};
    Relojes()
    {
        sysctrl.reiniciar(TipoReset::encendido);
        gclk.reiniciar(TipoReset::encendido);
        sysctrl.escribir(0x24, 0x0002, 0xFFFF);                          // DFLLCTRL.ENABLE
        gclk.escribir(0x8, 3, TODO);                                     // GENDIV: generator 3, DIV 0
        gclk.escribir(0x4, 3 | 7u << 8 | 1u << 16, TODO);                // GENCTRL: DFLL48M, GENEN
    }
    // CLKCTRL: channel `id` from generator `gen`, enabled.
    void canal(int id, int gen) { gclk.escribir(0x2, (uint32_t)id | (uint32_t)gen << 8 | 1u << 14, 0xFFFF); }
};

// ---------------------------------------------------------------- GCLK

TEST(ModeloGclk, LaFrecuenciaDeUnGeneradorSaleDeGendivYDivsel)
{
    Relojes r;
    // OSC8M runs at 8 MHz / 2^PRESC, and PRESC is 3 after reset: 1 MHz on generator 0.
    EXPECT_DOUBLE_EQ(r.gclk.hz_generador(0), 1e6);
    // DIVSEL = 0: the generator divides by GENDIV.DIV; 0 and 1 both leave it undivided.
    r.gclk.escribir(0x8, 4 | 5u << 8, TODO);
    r.gclk.escribir(0x4, 4 | 6u << 8 | 1u << 16, TODO);
    EXPECT_DOUBLE_EQ(r.gclk.hz_generador(4), 200e3);
    r.gclk.escribir(0x8, 4 | 1u << 8, TODO);
    EXPECT_DOUBLE_EQ(r.gclk.hz_generador(4), 1e6);
    r.gclk.escribir(0x8, 4, TODO);
    EXPECT_DOUBLE_EQ(r.gclk.hz_generador(4), 1e6);
    // DIVSEL = 1: it divides by 2^(DIV+1).
    r.gclk.escribir(0x8, 4 | 3u << 8, TODO);
    r.gclk.escribir(0x4, 4 | 6u << 8 | 1u << 16 | 1u << 20, TODO);
    EXPECT_DOUBLE_EQ(r.gclk.hz_generador(4), 1e6 / 16);
    // GENEN = 0: no clock out.
    r.gclk.escribir(0x4, 4 | 6u << 8, TODO);
    EXPECT_EQ(r.gclk.hz_generador(4), 0.0);
    // A generator sourcing GCLKGEN1 takes generator 1's output.
    r.gclk.escribir(0x4, 1 | 7u << 8 | 1u << 16, TODO);
    r.gclk.escribir(0x8, 1 | 48u << 8, TODO);
    r.gclk.escribir(0x4, 5 | 2u << 8 | 1u << 16, TODO);
    EXPECT_DOUBLE_EQ(r.gclk.hz_generador(5), 1e6);
}

TEST(ModeloGclk, ClkctrlLlevaUnGeneradorAUnCanalYWrtlockLoFija)
{
    Relojes r;
    r.canal(Gclk::ID_SERCOM0, 3);
    EXPECT_DOUBLE_EQ(r.gclk.hz_periferico(Gclk::ID_SERCOM0), 48e6);
    // Writing the ID byte alone selects the channel that CLKCTRL reads back.
    r.gclk.escribir(0x2, Gclk::ID_SERCOM0, 0xFF);
    EXPECT_EQ(r.gclk.leer(0x2), (uint32_t)Gclk::ID_SERCOM0 | 3u << 8 | 1u << 14);
    // CLKEN = 0: the channel stops.
    r.gclk.escribir(0x2, Gclk::ID_SERCOM0 | 3u << 8, 0xFFFF);
    EXPECT_EQ(r.gclk.hz_periferico(Gclk::ID_SERCOM0), 0.0);
    // WRTLOCK: the channel's CLKCTRL takes no more writes.
    r.gclk.escribir(0x2, Gclk::ID_TCC0 | 3u << 8 | 1u << 14 | 1u << 15, 0xFFFF);
    r.gclk.escribir(0x2, Gclk::ID_TCC0 | 0u << 8 | 1u << 14, 0xFFFF);
    EXPECT_DOUBLE_EQ(r.gclk.hz_periferico(Gclk::ID_TCC0), 48e6);
    // A channel or generator that does not exist stops the run.
    EXPECT_THROW(r.gclk.escribir(0x2, 0x25 | 1u << 14, 0xFFFF), ParadaEmulador);
    EXPECT_THROW(r.gclk.escribir(0x4, 9, TODO), ParadaEmulador);
}

TEST(ModeloGclk, GenctrlYGendivSincronizanYUnaEscrituraEnMedioSeAvisa)
{
    Relojes r;
    r.chip.t = 1000;
    r.gclk.escribir(0x8, 4 | 2u << 8, TODO);
    EXPECT_EQ(r.gclk.leer(0x1) & 0x80, 0x80u);  // STATUS.SYNCBUSY
    int antes = r.chip.sincronizaciones;
    r.gclk.escribir(0x4, 4 | 6u << 8 | 1u << 16, TODO);
    EXPECT_EQ(r.chip.sincronizaciones, antes + 1);
    r.chip.t += 100;
    EXPECT_EQ(r.gclk.leer(0x1) & 0x80, 0u);
    // A changed clock moves the timers' next events.
    EXPECT_GT(r.chip.relojes, 0);
}

// ---------------------------------------------------------------- SYSCTRL

TEST(ModeloSysctrl, LosBitsDeListoDePclksrSiguenAlArranqueDeCadaOscilador)
{
    ChipFalso chip;
    Sysctrl s(chip);
    s.reiniciar(TipoReset::encendido);
    constexpr uint32_t XOSC32KRDY = 1u << 1, OSC32KRDY = 1u << 2, OSC8MRDY = 1u << 3, DFLLRDY = 1u << 4,
                       DFLLLCKF = 1u << 6, DFLLLCKC = 1u << 7, BOD33RDY = 1u << 9;
    // OSC8M runs from reset; BOD33 is ready.
    EXPECT_EQ(s.leer(0x0C) & (OSC8MRDY | BOD33RDY), OSC8MRDY | BOD33RDY);
    EXPECT_EQ(s.leer(0x0C) & (XOSC32KRDY | OSC32KRDY), 0u);
    // XOSC32K: ready after its STARTUP time, 4096 oscillator cycles for code 3 (125 ms).
    chip.t = 1000;
    s.escribir(0x14, 0x0002 | 0x0004 | 3u << 8, 0xFFFF);
    chip.t = 1000 + 48000000 / 8 - 1000;
    EXPECT_EQ(s.leer(0x0C) & XOSC32KRDY, 0u);
    chip.t = 1000 + 48000000 / 8 + 1000;
    EXPECT_EQ(s.leer(0x0C) & XOSC32KRDY, XOSC32KRDY);
    // OSC32K: not ready at once after ENABLE, ready soon after.
    s.escribir(0x18, 0x003F0082, TODO);
    EXPECT_EQ(s.leer(0x0C) & OSC32KRDY, 0u);
    chip.t += 48000;
    EXPECT_EQ(s.leer(0x0C) & OSC32KRDY, OSC32KRDY);
    // DFLLRDY falls while a DFLL register write synchronises; a write then is warned.
    s.escribir(0x24, 0x0002, 0xFFFF);
    EXPECT_EQ(s.leer(0x0C) & DFLLRDY, 0u);
    s.escribir(0x2C, 1465, TODO);
    EXPECT_EQ(chip.sincronizaciones, 1);
    chip.t += 100;
    EXPECT_EQ(s.leer(0x0C) & DFLLRDY, DFLLRDY);
    EXPECT_DOUBLE_EQ(s.hz_dfll48m(), 48e6);
    // Closed loop (MODE) with a reference: fine and coarse lock come after a while.
    s.escribir(0x24, 0x0006, 0xFFFF);
    chip.t += 100;
    EXPECT_EQ(s.leer(0x0C) & (DFLLLCKF | DFLLLCKC), 0u);
    chip.t += 48000;
    EXPECT_EQ(s.leer(0x0C) & (DFLLLCKF | DFLLLCKC), DFLLLCKF | DFLLLCKC);
    // OSC8M's prescaler: 8 MHz / 2^PRESC.
    s.escribir(0x20, 0x00000082 | 1u << 8, TODO);
    EXPECT_DOUBLE_EQ(s.hz_osc8m(), 4e6);
}

// ---------------------------------------------------------------- SERCOM as a USART

TEST(ModeloSercomUsart, ElBaudioSaleDeLaAritmeticaDeBaudSegunSampr)
{
    // Arithmetic, 16 samples: f = fref / 16 * (1 - BAUD / 65536); BAUD 63019 at 48 MHz is 115200 within 0.02 %.
    EXPECT_NEAR(baudios_usart(48e6, 0, 63019), 115200.0, 115200 * 2e-4);
    // 8 and 3 samples a bit.
    EXPECT_NEAR(baudios_usart(48e6, 2, 64278), 115200.0, 115200 * 2e-3);
    EXPECT_NEAR(baudios_usart(8e6, 4, 65300), 9600.0, 9600 * 2e-3);
    // Fractional, 16 samples: f = fref / (16 * (BAUD + FP / 8)): 312 + 4/8 at 48 MHz is 9600 exactly.
    EXPECT_EQ(baudios_usart(48e6, 1, 312 | 4u << 13), 9600u);
    // Fractional, 8 samples.
    EXPECT_EQ(baudios_usart(48e6, 3, 625), 9600u);
    // No core clock, or a reserved SAMPR: no baud rate.
    EXPECT_EQ(baudios_usart(0, 0, 63019), 0u);
    EXPECT_EQ(baudios_usart(48e6, 5, 63019), 0u);
}

struct UsartSercom0 : ::testing::Test {
    Relojes r;
    Sercom s{r.chip, r.gclk, 0};
    void SetUp() override
    {
        r.canal(Gclk::ID_SERCOM0, 3);
        s.reiniciar(TipoReset::encendido);
        // USART with the internal clock, TxD on PAD1 (TXPO 1), RxD on PAD3, LSB first.
        s.escribir(0x00, 1u << 2 | 1u << 16 | 3u << 20 | 1u << 30, TODO);
        s.escribir(0x04, 1u << 16 | 1u << 17, TODO);  // TXEN, RXEN
        s.escribir(0x0C, 63019, 0xFFFF);
        s.escribir(0x00, s.ctrla() | 2u, TODO);       // ENABLE
    }
};

TEST_F(UsartSercom0, DatoYRegistroDeDesplazamientoDosBytesYElTerceroSePierde)
{
    constexpr uint32_t DRE = 1, TXC = 2;
    EXPECT_EQ(s.leer(0x18) & DRE, DRE);
    s.escribir(0x28, 'A', TODO);  // into the shift register at once: DRE stays set
    EXPECT_EQ(s.leer(0x18) & DRE, DRE);
    s.escribir(0x28, 'B', TODO);  // waits in DATA: DRE falls
    EXPECT_EQ(s.leer(0x18) & DRE, 0u);
    s.escribir(0x28, 'C', TODO);  // DATA written while DRE is 0: ignored
    EXPECT_EQ(s.perdidos_tx(), 1u);
    ASSERT_EQ(r.chip.enviados, std::vector<uint8_t>{'A'});
    // One frame is 10 bits at the baud rate.
    EXPECT_NEAR((double)s.usart_fin_tx(), 10 * 48e6 / 115200, 2);
    r.chip.t = s.usart_fin_tx();
    s.usart_evento();
    EXPECT_EQ(r.chip.enviados, (std::vector<uint8_t>{'A', 'B'}));
    EXPECT_EQ(s.leer(0x18) & (DRE | TXC), DRE);
    r.chip.t = s.usart_fin_tx();
    s.usart_evento();  // nothing more: TXC
    EXPECT_EQ(s.leer(0x18) & TXC, TXC);
    s.escribir(0x18, TXC, 0xFF);  // INTFLAG: write one to clear
    EXPECT_EQ(s.leer(0x18) & TXC, 0u);
}

TEST_F(UsartSercom0, DordEligeElPrimerBitYLosRegistrosProtegidosNoCambianHabilitado)
{
    // DORD = 1: LSB first, the byte goes on the line as it is.
    s.escribir(0x28, 0x01, TODO);
    EXPECT_EQ(r.chip.enviados.back(), 0x01);
    // CTRLA, CTRLB (but RXEN) and BAUD are enable-protected: ignored while enabled.
    s.escribir(0x0C, 1000, 0xFFFF);
    EXPECT_EQ(s.leer(0x0C), 63019u);
    s.escribir(0x00, (s.ctrla() & ~(1u << 30)), TODO);
    EXPECT_EQ(s.ctrla() & 1u << 30, 1u << 30);
    EXPECT_EQ(r.chip.protegidas, 2);
    // Disabled, DORD = 0: the most significant bit goes first.
    s.escribir(0x00, s.ctrla() & ~2u, TODO);
    s.escribir(0x00, (s.ctrla() & ~(1u << 30)), TODO);
    s.escribir(0x00, s.ctrla() | 2u, TODO);
    r.chip.t = s.usart_fin_tx();
    s.usart_evento();
    s.escribir(0x28, 0x01, TODO);
    EXPECT_EQ(r.chip.enviados.back(), 0x80);
}

TEST_F(UsartSercom0, ElReceptorGuardaDosBytesYElDeDesplazamientoYDesbordaConBufovf)
{
    constexpr uint32_t RXC = 4, ERROR = 0x80, BUFOVF = 4;
    EXPECT_TRUE(s.usart_escucha());
    EXPECT_TRUE(s.usart_recibir('x'));
    EXPECT_EQ(s.leer(0x18) & RXC, RXC);
    EXPECT_TRUE(s.usart_recibir('y'));
    EXPECT_TRUE(s.usart_recibir('z'));
    EXPECT_FALSE(s.usart_recibir('w'));
    EXPECT_EQ(s.leer(0x1A) & BUFOVF, BUFOVF);  // STATUS.BUFOVF
    EXPECT_EQ(s.leer(0x18) & ERROR, ERROR);
    EXPECT_EQ(s.leer(0x28), (uint32_t)'x');     // oldest first
    EXPECT_EQ(s.leer(0x28), (uint32_t)'y');
    EXPECT_EQ(s.leer(0x28), (uint32_t)'z');
    EXPECT_EQ(s.leer(0x18) & RXC, 0u);
    s.escribir(0x1A, BUFOVF, 0xFFFF);  // STATUS: write one to clear
    EXPECT_EQ(s.leer(0x1A) & BUFOVF, 0u);
    // The interrupt line follows INTFLAG & INTENSET.
    EXPECT_FALSE(s.irq());
    s.escribir(0x16, RXC, 0xFF);
    s.usart_recibir('q');
    EXPECT_TRUE(s.irq());
    // RXEN = 0: the receiver does not listen.
    s.escribir(0x04, 1u << 16, TODO);
    EXPECT_FALSE(s.usart_escucha());
}

TEST(ModeloSercom, HabilitarSinRelojNuncaSincronizaYUnModoSinModeloPara)
{
    Relojes r;
    Sercom s(r.chip, r.gclk, 2);
    s.reiniciar(TipoReset::encendido);
    // No GCLK core clock on SERCOM2's channel: SYNCBUSY.ENABLE stays set.
    s.escribir(0x00, 1u << 2 | 2u, TODO);
    r.chip.t += 1000000;
    EXPECT_EQ(s.leer(0x1C) & 2u, 2u);
    // SWRST: every register back to its reset value.
    r.canal(Gclk::ID_SERCOM0 + 2, 3);
    s.escribir(0x00, 1u, TODO);
    EXPECT_EQ(s.ctrla(), 1u);
    r.chip.t += 100;
    EXPECT_EQ(s.leer(0x1C), 0u);
    // I2C (MODE 5) is not modelled.
    EXPECT_THROW(s.escribir(0x00, 5u << 2 | 2u, TODO), ParadaEmulador);
}

// ---------------------------------------------------------------- SERCOM as an SPI master

TEST(ModeloSercomSpi, UnByteSaleYOtroEntraALaVezConDordYBufferDeDos)
{
    Relojes r;
    r.canal(Gclk::ID_SERCOM0 + 1, 3);
    Sercom s(r.chip, r.gclk, 1);
    s.reiniciar(TipoReset::encendido);
    constexpr uint32_t TXC = 2, RXC = 4, BUFOVF = 4;
    s.escribir(0x00, 3u << 2 | 3u << 20, TODO);  // SPI master, MISO on PAD3, MSB first
    s.escribir(0x04, 1u << 17, TODO);            // RXEN
    s.escribir(0x00, s.ctrla() | 2u, TODO);
    s.escribir(0x28, 0x40, TODO);
    EXPECT_EQ(r.chip.spi_salidas.back(), 0x40);
    EXPECT_EQ(s.leer(0x18) & (TXC | RXC), TXC | RXC);
    EXPECT_EQ(s.leer(0x28), 0x41u);
    // DORD = 1 (LSB first): the bit order turns on the way out and on the way in.
    s.escribir(0x00, s.ctrla() & ~2u, TODO);
    s.escribir(0x00, s.ctrla() | 1u << 30, TODO);
    s.escribir(0x00, s.ctrla() | 2u, TODO);
    s.escribir(0x28, 0x01, TODO);
    EXPECT_EQ(r.chip.spi_salidas.back(), 0x80);
    EXPECT_EQ(s.leer(0x28), (uint32_t)invertir_bits(0x81));
    // Two bytes unread fill the buffer; the third overflows it.
    s.escribir(0x28, 1, TODO);
    s.escribir(0x28, 2, TODO);
    EXPECT_EQ(s.leer(0x1A) & BUFOVF, 0u);
    s.escribir(0x28, 3, TODO);
    EXPECT_EQ(s.leer(0x1A) & BUFOVF, BUFOVF);
    // RXEN = 0: nothing enters the buffer.
    s.leer(0x28);
    s.leer(0x28);
    s.escribir(0x00, s.ctrla() & ~2u, TODO);
    s.escribir(0x04, 0, TODO);
    s.escribir(0x00, s.ctrla() | 2u, TODO);
    s.escribir(0x28, 7, TODO);
    EXPECT_EQ(s.leer(0x18) & RXC, 0u);
}

// ---------------------------------------------------------------- PORT

TEST(ModeloPort, DirsetDirclrDirtglYOutsetOutclrOuttglSoloTocanLosUnos)
{
    ChipFalso chip;
    Port p(chip);
    p.reiniciar(TipoReset::encendido);
    p.escribir(0, 0x08, 0x9, TODO);   // DIRSET
    EXPECT_EQ(p.leer(0, 0x00), 0x9u);
    p.escribir(0, 0x04, 0x1, TODO);   // DIRCLR
    EXPECT_EQ(p.leer(0, 0x00), 0x8u);
    p.escribir(0, 0x0C, 0xC, TODO);   // DIRTGL
    EXPECT_EQ(p.leer(0, 0x00), 0x4u);
    p.escribir(0, 0x18, 0x6, TODO);   // OUTSET
    p.escribir(0, 0x1C, 0x3, TODO);   // OUTTGL
    EXPECT_EQ(p.leer(0, 0x10), 0x5u);
    p.escribir(0, 0x14, 0x4, TODO);   // OUTCLR
    EXPECT_EQ(p.leer(0, 0x10), 0x1u);
    // The set, clear and toggle registers read back DIR and OUT.
    EXPECT_EQ(p.leer(0, 0x08), 0x4u);
    EXPECT_EQ(p.leer(0, 0x1C), 0x1u);
    // Group B is its own.
    EXPECT_EQ(p.leer(1, 0x00), 0u);
    EXPECT_GT(chip.pines, 0);
}

TEST(ModeloPort, InLeeSoloConInenYElPullSigueAOut)
{
    ChipFalso chip;
    Port p(chip);
    p.reiniciar(TipoReset::encendido);
    chip.externos[{0, 5}] = 1;
    EXPECT_EQ(p.leer(0, 0x20) & 1u << 5, 0u);        // INEN = 0: the input buffer is off
    p.escribir(0, 0x40 + 5, 0x02, 0xFF);            // PINCFG5.INEN
    EXPECT_EQ(p.leer(0, 0x20) & 1u << 5, 1u << 5);
    // No outside driver: PULLEN with OUT = 1 pulls up, OUT = 0 pulls down.
    p.escribir(0, 0x40 + 6, 0x06, 0xFF);
    p.escribir(0, 0x18, 1u << 6, TODO);
    EXPECT_EQ(p.leer(0, 0x20) & 1u << 6, 1u << 6);
    p.escribir(0, 0x14, 1u << 6, TODO);
    EXPECT_EQ(p.leer(0, 0x20) & 1u << 6, 0u);
    // An output reads its own level.
    p.escribir(0, 0x40 + 7, 0x02, 0xFF);
    p.escribir(0, 0x08, 1u << 7, TODO);
    p.escribir(0, 0x18, 1u << 7, TODO);
    EXPECT_EQ(p.leer(0, 0x20) & 1u << 7, 1u << 7);
}

TEST(ModeloPort, PmuxParImparYWrconfigPorMitades)
{
    ChipFalso chip;
    Port p(chip);
    p.reiniciar(TipoReset::encendido);
    // PMUXn: PMUXE (low nibble) for pin 2n, PMUXO (high nibble) for pin 2n+1; PINCFG.PMUXEN gives the pin away.
    p.escribir(0, 0x30 + 5, Port::FUNC_D << 4 | Port::FUNC_C, 0xFF);
    EXPECT_FALSE(p.pin_funcion(0, 10, Port::FUNC_C));
    p.escribir(0, 0x40 + 10, 0x01, 0xFF);
    p.escribir(0, 0x40 + 11, 0x01, 0xFF);
    EXPECT_TRUE(p.pin_funcion(0, 10, Port::FUNC_C));
    EXPECT_TRUE(p.pin_funcion(0, 11, Port::FUNC_D));
    EXPECT_FALSE(p.pin_funcion(0, 11, Port::FUNC_C));
    // WRCONFIG: PINMASK selects pins of the lower half, or of the upper half with HWSEL;
    // WRPMUX and WRPINCFG write the function and the configuration.
    uint32_t wr = 1u << 6 | 1u << 7 | 1u << 16 | (uint32_t)Port::FUNC_C << 24 | 1u << 28 | 1u << 30 | 1u << 31;
    p.escribir(1, 0x28, wr, TODO);
    EXPECT_TRUE(p.pin_funcion(1, 22, Port::FUNC_C));
    EXPECT_TRUE(p.pin_funcion(1, 23, Port::FUNC_C));
    EXPECT_FALSE(p.pin_funcion(1, 6, Port::FUNC_C));
    EXPECT_EQ(p.leer(1, 0x28), 0u);  // write-only: reads zero
    EXPECT_THROW(p.escribir(1, 0x28, wr, 0xFFFF), ParadaEmulador);
}

// ---------------------------------------------------------------- TCC

struct Tcc0 : ::testing::Test {
    Relojes r;
    Tcc tcc{r.chip, r.gclk};
    void SetUp() override
    {
        r.canal(Gclk::ID_TCC0, 3);
        tcc.reiniciar(TipoReset::encendido);
    }
};

TEST_F(Tcc0, CuentaHastaPerYElDesbordeLevantaOvfYSuInterrupcion)
{
    constexpr uint32_t OVF = 1;
    tcc.escribir(0x40, 47999, TODO);            // PER: 1 ms at 48 MHz
    EXPECT_EQ(r.chip.periodo_tcc, 47999u);
    tcc.escribir(0x28, OVF, TODO);              // INTENSET.OVF
    tcc.escribir(0x00, 2u, TODO);               // ENABLE, prescaler DIV1
    EXPECT_EQ(tcc.proximo_evento(), 48000u);    // the count goes 0..PER: PER + 1 counts a period
    r.chip.t = 12000;
    EXPECT_EQ(tcc.leer(0x34), 12000u);          // COUNT
    EXPECT_FALSE(tcc.irq());
    r.chip.t = 48000;
    tcc.atender(48000);
    EXPECT_EQ(tcc.leer(0x2C) & OVF, OVF);
    EXPECT_TRUE(tcc.irq());
    EXPECT_EQ(tcc.proximo_evento(), 96000u);
    tcc.escribir(0x2C, OVF, TODO);              // INTFLAG: write one to clear
    EXPECT_FALSE(tcc.irq());
    r.chip.t = 48000 + 100;
    EXPECT_EQ(tcc.leer(0x34), 100u);
}

TEST_F(Tcc0, ElPrescalerYLaCoincidenciaCc0EnNfrqYMfrq)
{
    constexpr uint32_t MC0 = 1u << 16, OVF = 1;
    tcc.escribir(0x40, 999, TODO);
    tcc.escribir(0x44, 250, TODO);              // CC0
    tcc.escribir(0x00, 2u | 3u << 8, TODO);     // ENABLE, DIV8: one count every 8 cycles
    r.chip.t = 800;
    EXPECT_EQ(tcc.leer(0x34), 100u);
    // NFRQ: MC0 when the count reaches CC0, OVF at PER.
    EXPECT_EQ(tcc.proximo_evento(), 250u * 8);
    tcc.atender(250 * 8);
    EXPECT_EQ(tcc.leer(0x2C) & (MC0 | OVF), MC0);
    EXPECT_EQ(tcc.coincidencias(), 1u);
    EXPECT_EQ(tcc.proximo_evento(), 1000u * 8);
    // MFRQ: CC0 is the top; the period is CC0 + 1 counts.
    tcc.escribir(0x00, 0, TODO);
    tcc.escribir(0x34, 0, TODO);
    tcc.escribir(0x3C, 1, TODO);                // WAVE.WAVEGEN = MFRQ
    r.chip.t = 10000;
    tcc.escribir(0x00, 2u, TODO);
    r.chip.t = 10000 + 251;
    EXPECT_EQ(tcc.leer(0x34), 0u);
    // Enable-protected: the prescaler does not change while enabled.
    tcc.escribir(0x00, 2u | 7u << 8, TODO);
    EXPECT_EQ(tcc.leer(0x00) & 7u << 8, 0u);
}

TEST_F(Tcc0, PerbEntraEnPerAlDesbordar)
{
    tcc.escribir(0x40, 999, TODO);
    tcc.escribir(0x00, 2u, TODO);
    tcc.escribir(0x6C, 499, TODO);              // PERB: the buffer, while counting
    EXPECT_EQ(tcc.leer(0x40), 999u);
    tcc.atender(1000);
    EXPECT_EQ(tcc.leer(0x40), 499u);
    EXPECT_EQ(r.chip.periodo_tcc, 499u);
    EXPECT_EQ(tcc.proximo_evento(), 1500u);
}

// ---------------------------------------------------------------- SysTick

TEST(ModeloSystick, CuentaHaciaAbajoDesdeRvrYCountflagSeBorraAlLeer)
{
    ChipFalso chip;
    Systick s(chip);
    s.reiniciar(TipoReset::encendido);
    s.escribir(0x14, 999);   // RVR
    s.escribir(0x18, 0);     // CVR: any write clears it
    s.escribir(0x10, 7);     // ENABLE, TICKINT, CLKSOURCE = processor clock
    // The counter wraps every RVR + 1 cycles.
    uint64_t primero = s.proximo();
    s.atender(primero);
    EXPECT_EQ(s.proximo(), primero + 1000);
    chip.t = primero + 10;
    uint32_t a = s.leer(0x18);
    chip.t = primero + 20;
    EXPECT_EQ(a - s.leer(0x18), 10u);
    EXPECT_LE(a, 999u);
    // COUNTFLAG: set by the wrap, cleared by reading CSR.
    EXPECT_EQ(s.leer(0x10) & 1u << 16, 1u << 16);
    EXPECT_EQ(s.leer(0x10) & 1u << 16, 0u);
    // A wrap with TICKINT pends the exception.
    EXPECT_TRUE(s.atender(s.proximo()));
    // CALIB: no reference clock, 1 ms is 48000 cycles.
    EXPECT_EQ(s.leer(0x1C), 0x40000000u | 47999u);
}

TEST(ModeloSystick, ParadoGuardaLaCuentaYSigueDesdeElla)
{
    ChipFalso chip;
    Systick s(chip);
    s.reiniciar(TipoReset::encendido);
    s.escribir(0x14, 999);
    s.escribir(0x10, 5);
    chip.t = 300;
    uint32_t cuenta = s.leer(0x18);
    s.escribir(0x10, 4);     // ENABLE = 0: the counter stops where it is
    chip.t = 5000;
    EXPECT_EQ(s.leer(0x18), cuenta);
    EXPECT_EQ(s.proximo(), NUNCA);
    s.escribir(0x10, 5);     // and goes on from there
    EXPECT_EQ(s.proximo(), 5000 + cuenta);
}

// ---------------------------------------------------------------- WDT

struct Perro : ::testing::Test {
    Relojes r;
    std::vector<uint8_t> flash = std::vector<uint8_t>(FLASH_BYTES, 0xFF);
    Nvmctrl nvm{r.chip, flash, ""};
    Wdt wdt{r.chip, r.gclk, nvm};
    double hz = 0;
    void SetUp() override
    {
        wdt.reiniciar(TipoReset::encendido);  // the factory fuses: the watchdog off
        hz = r.gclk.hz_periferico(Gclk::ID_WDT);
        ASSERT_GT(hz, 0);
    }
    // 8 << code cycles of the watchdog's clock, in CPU cycles.
    double periodo(int codigo) const { return (double)(8u << codigo) * 48e6 / hz; }
};

TEST_F(Perro, ElPeriodoSonOchoPorDosALaPerCiclosYLaClaveA5LoReinicia)
{
    EXPECT_EQ(wdt.vence(), NUNCA);
    wdt.escribir(0x1, 0x3, TODO);   // CONFIG.PER = 3: 64 clocks
    wdt.escribir(0x0, 0x2, TODO);   // CTRL.ENABLE
    double d = (double)wdt.vence() - periodo(3);
    EXPECT_GE(d, 0);
    EXPECT_LE(d, 4 * 48e6 / hz);    // plus the few clocks the enable takes to synchronise
    // CLEAR with the key 0xA5 starts the period again.
    r.chip.t = (uint64_t)periodo(2);
    wdt.escribir(0x8, 0xA5, TODO);
    EXPECT_GE((double)wdt.vence(), (double)r.chip.t + periodo(3));
    EXPECT_EQ(r.chip.reinicios, 0);
    // CONFIG is enable-protected.
    wdt.escribir(0x1, 0x5, TODO);
    EXPECT_EQ(wdt.leer(0x1), 0x3u);
    EXPECT_EQ(r.chip.protegidas, 1);
    // Any other key resets the chip at once (a watchdog reset).
    wdt.escribir(0x8, 0x5A, TODO);
    EXPECT_EQ(r.chip.reinicios, 1);
    EXPECT_EQ(r.chip.tipo_reinicio, TipoReset::watchdog);
}

TEST_F(Perro, EnModoVentanaUnClearAntesDeTiempoReinicia)
{
    wdt.escribir(0x1, 0x3 | 0x2 << 4, TODO);   // PER 64 clocks, WINDOW 32 clocks
    wdt.escribir(0x0, 0x2 | 0x4, TODO);        // ENABLE, WEN
    r.chip.t = (uint64_t)periodo(1);           // inside the closed window
    wdt.escribir(0x8, 0xA5, TODO);
    EXPECT_EQ(r.chip.reinicios, 1);
    EXPECT_EQ(r.chip.tipo_reinicio, TipoReset::watchdog);
}

TEST_F(Perro, SiempreEncendidoNoSeApaga)
{
    wdt.escribir(0x0, 0x2 | 0x80, TODO);       // ENABLE, ALWAYSON
    wdt.escribir(0x0, 0x00, TODO);
    EXPECT_EQ(wdt.leer(0x0) & 0x82, 0x82u);
    EXPECT_NE(wdt.vence(), NUNCA);
}

// ---------------------------------------------------------------- NVMCTRL

struct Flash : ::testing::Test {
    ChipFalso chip;
    std::vector<uint8_t> flash = std::vector<uint8_t>(FLASH_BYTES, 0xFF);
    Nvmctrl nvm{chip, flash, ""};
    void SetUp() override { nvm.reiniciar(TipoReset::encendido); }
    void comando(uint32_t cmd, uint32_t byte)
    {
        nvm.escribir(0x1C, byte / 2, TODO);      // ADDR counts 16-bit words
        nvm.escribir(0x00, 0xA500 | cmd, 0xFFFF);
    }
};

TEST_F(Flash, SinLaClaveA5ElComandoNoSeHaceYLevantaProge)
{
    constexpr uint32_t PROGE = 4, ERROR = 2;
    flash[EEPROM_BASE] = 0x00;
    nvm.escribir(0x1C, EEPROM_BASE / 2, TODO);
    nvm.escribir(0x00, 0x5A00 | 0x02, 0xFFFF);   // ER with a wrong CMDEX
    EXPECT_EQ(flash[EEPROM_BASE], 0x00);
    EXPECT_EQ(nvm.leer(0x18) & PROGE, PROGE);    // STATUS.PROGE
    EXPECT_EQ(nvm.leer(0x14) & ERROR, ERROR);    // INTFLAG.ERROR
    nvm.escribir(0x18, PROGE, 0xFFFF);           // cleared by writing one
    nvm.escribir(0x14, ERROR, 0xFF);
    EXPECT_EQ(nvm.leer(0x18) & PROGE, 0u);
    EXPECT_EQ(nvm.leer(0x14) & ERROR, 0u);
    // A command's key and number go in one 16-bit write.
    EXPECT_THROW(nvm.escribir(0x00, 0x02, 0xFF), ParadaEmulador);
}

TEST_F(Flash, BorrarUnaFilaYEscribirUnaPaginaSoloBajaBits)
{
    std::fill(flash.begin() + EEPROM_BASE, flash.begin() + EEPROM_BASE + FILA_NVM, 0x00);
    comando(0x02, EEPROM_BASE + 10);  // ER: the whole 256-byte row of that address
    for (uint32_t i = 0; i < FILA_NVM; i++) ASSERT_EQ(flash[EEPROM_BASE + i], 0xFF) << i;
    EXPECT_GT(chip.estancado, 0u);   // the core waits while the flash is busy
    // Manual write (CTRLB.MANW): the page buffer, then WP. Programming only turns ones into zeros.
    nvm.escribir(0x04, 0x80, TODO);
    flash[EEPROM_BASE + 64] = 0x0F;
    nvm.escribir_espacio(EEPROM_BASE + 64, 4, 0xFFFFFF3Cu);
    EXPECT_EQ(nvm.leer(0x18) & 2u, 2u);  // STATUS.LOAD: the buffer holds data
    comando(0x04, EEPROM_BASE + 64);
    EXPECT_EQ(flash[EEPROM_BASE + 64], 0x0C);
    EXPECT_EQ(flash[EEPROM_BASE + 65], 0xFF);
    EXPECT_EQ(nvm.leer(0x18) & 2u, 0u);
    // MANW = 0: writing the page's last word writes the page.
    nvm.escribir(0x04, 0, TODO);
    for (uint32_t i = 0; i < PAGINA_NVM; i += 4) nvm.escribir_espacio(EEPROM_BASE + 128 + i, 4, 0x11223344u);
    EXPECT_EQ(flash[EEPROM_BASE + 128], 0x44);
    EXPECT_EQ(flash[EEPROM_BASE + 128 + 63], 0x11);
    EXPECT_EQ(nvm.paginas_escritas(), 2u);
    // The page buffer takes 16 and 32-bit writes only.
    EXPECT_THROW(nvm.escribir_espacio(EEPROM_BASE, 1, 0), ParadaEmulador);
    uint8_t b = 0;
    EXPECT_TRUE(nvm.leer_byte_espacio(EEPROM_BASE + 128, b));
    EXPECT_EQ(b, 0x44);
}

}  // namespace
