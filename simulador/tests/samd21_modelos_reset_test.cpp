// The emulated chip's peripheral models after each kind of reset, and the
// NVM controller's user-row commands, each against the datasheet: register
// by register, on a stand-in for the chip around the models.
#include <gtest/gtest.h>

#include <vector>

#include "simulador/samd21/gclk.h"
#include "simulador/samd21/nvmctrl.h"
#include "simulador/samd21/pm.h"
#include "simulador/samd21/sysctrl.h"
#include "simulador/samd21/wdt.h"

namespace {

using namespace samd21;

class ChipFalso : public Entorno {
public:
    uint64_t t = 0;
    uint64_t estancado = 0;
    int reinicios = 0;
    uint64_t ahora() const override { return t; }
    void aviso_sincronizacion(const char *) override {}
    void escritura_protegida() override {}
    void aviso(const std::string &) override {}
    void pedir_reinicio(const char *, TipoReset) override { reinicios++; }
    void estancar(uint64_t c) override { estancado += c; }
    void relojes_cambiados() override {}
    int nivel_externo(int, int) const override { return -1; }
    void pines_cambiados() override {}
    uint64_t usart_transmitir(int, uint8_t, uint32_t) override { return t; }
    uint8_t spi_intercambiar(int, uint32_t, uint8_t) override { return 0xFF; }
    void tcc0_periodo(uint32_t) override {}
    long long corte_en_escritura() override { return -1; }

protected:
    void detener(const std::string &, uint32_t) override {}
    void cortar() override {}
};

const TipoReset TODOS[] = {TipoReset::encendido, TipoReset::brown_out, TipoReset::pin_externo, TipoReset::watchdog,
                           TipoReset::sistema};

struct Modelos {
    ChipFalso e;
    std::vector<uint8_t> flash = std::vector<uint8_t>(FLASH_BYTES, 0xFF);
    Pm pm{e};
    Sysctrl sysctrl{e};
    Gclk gclk{e, sysctrl};
    Nvmctrl nvm{e, flash, ""};
    Wdt wdt{e, gclk, nvm};
    void reiniciar(TipoReset tipo)
    {
        pm.reiniciar(tipo);
        sysctrl.reiniciar(tipo);
        gclk.reiniciar(tipo);
        nvm.reiniciar(tipo);
        sysctrl.cargar_bod33(nvm.fusibles_cargados());
        wdt.reiniciar(tipo);
    }
    uint32_t genctrl(int g)
    {
        gclk.escribir(0x4, (uint32_t)g, 0xFF);
        return gclk.leer(0x4);
    }
    uint32_t gendiv(int g)
    {
        gclk.escribir(0x8, (uint32_t)g, 0xFF);
        return gclk.leer(0x8);
    }
    uint32_t clkctrl(int id)
    {
        gclk.escribir(0x2, (uint32_t)id, 0xFF);
        return gclk.leer(0x2);
    }
    // One NVMCTRL command with its key, ADDR first.
    void orden(uint16_t cmd, uint32_t addr)
    {
        nvm.escribir(0x1C, addr, 0xFFFFFFFFu);
        nvm.escribir(0x00, 0xA500u | cmd, 0xFFFF);
    }
    uint16_t status() { return (uint16_t)nvm.leer(0x18); }
    void limpiar_errores()
    {
        nvm.escribir(0x18, 0x1C, 0xFFFF);
        nvm.escribir(0x14, 0x02, 0xFF);
    }
    uint32_t fila(int i)
    {
        uint32_t v = 0;
        for (int k = 0; k < 4; k++) {
            uint8_t b;
            nvm.leer_byte_espacio(FILA_USUARIO + 4u * (uint32_t)i + (uint32_t)k, b);
            v |= (uint32_t)b << (8 * k);
        }
        return v;
    }
    // The user row rewritten as the vendor's code does it: erase, clear the
    // page buffer, the two words, write.
    void escribir_fila(uint32_t w0, uint32_t w1)
    {
        nvm.escribir(0x04, 1u << 7, 0xFFFFFFFFu);   // CTRLB.MANW
        orden(0x05, 0x402000);
        orden(0x44, 0x402000);
        nvm.escribir_espacio(FILA_USUARIO, 4, w0);
        nvm.escribir_espacio(FILA_USUARIO + 4, 4, w1);
        orden(0x06, 0x402000);
    }
};

// GCLK (datasheet, GENCTRL/GENDIV/CLKCTRL reset values): generator 0 on
// OSC8M and generator 2 on OSCULP32K, enabled and undivided; GCLK_WDT on
// generator 2. A user reset keeps a generic clock locked by WRTLOCK and the
// generator feeding it; a power reset (power-on, brown-out) does not.
TEST(RegistrosTrasReset, GclkYElRelojDelWatchdog)
{
    for (TipoReset tipo : TODOS) {
        Modelos c;
        c.reiniciar(TipoReset::encendido);
        EXPECT_EQ(c.genctrl(0), 0x00010600u);
        EXPECT_EQ(c.genctrl(1), 0x00000001u);
        EXPECT_EQ(c.genctrl(2), 0x00010302u);
        EXPECT_EQ(c.gendiv(2), 0x00000002u);
        EXPECT_EQ(c.clkctrl(Gclk::ID_WDT), 0x4203u);
        EXPECT_DOUBLE_EQ(c.gclk.hz_periferico(Gclk::ID_WDT), 32768.0) << "the watchdog's reset clock, undivided";
        // Generator 2 divided by 32 and GCLK_WDT locked on it; generator 3 changed too.
        c.gclk.escribir(0x8, 2u | (4u << 8), 0xFFFFFFFFu);
        c.gclk.escribir(0x4, 2u | (3u << 8) | (1u << 16) | (1u << 20), 0xFFFFFFFFu);
        c.gclk.escribir(0x4, 3u | (3u << 8) | (1u << 16), 0xFFFFFFFFu);
        c.gclk.escribir(0x2, Gclk::ID_WDT | (2u << 8) | (1u << 14) | (1u << 15), 0xFFFF);
        ASSERT_DOUBLE_EQ(c.gclk.hz_periferico(Gclk::ID_WDT), 1024.0);
        c.reiniciar(tipo);
        bool usuario = !es_reset_de_alimentacion(tipo);
        EXPECT_DOUBLE_EQ(c.gclk.hz_periferico(Gclk::ID_WDT), usuario ? 1024.0 : 32768.0) << (int)tipo;
        EXPECT_EQ(c.clkctrl(Gclk::ID_WDT), usuario ? 0xC203u : 0x4203u) << (int)tipo;
        EXPECT_EQ(c.genctrl(3), 0x00000003u) << "not locked: back to reset " << (int)tipo;
        EXPECT_EQ(c.genctrl(0), 0x00010600u);
    }
}

// PM.RCAUSE names the last reset (POR 0, BOD33 2, EXT 4, WDT 5, SYST 6);
// WDT.CTRL, CONFIG and EWCTRL and SYSCTRL.BOD33 are loaded from the user row
// at every reset, and a row written since applies from the next one.
TEST(RegistrosTrasReset, RcauseYLosFusibles)
{
    const uint8_t rcause[] = {0x01, 0x04, 0x10, 0x20, 0x40};
    for (int i = 0; i < 5; i++) {
        Modelos c;
        c.reiniciar(TipoReset::encendido);
        // The row as the bootloader leaves it: watchdog off, BOD33 level 7, reset.
        EXPECT_EQ(c.wdt.leer(0x0), 0x00u);
        EXPECT_EQ(c.wdt.leer(0x1), 0xBBu);
        EXPECT_EQ(c.wdt.leer(0x2), 0x0Bu);
        EXPECT_EQ(c.sysctrl.leer(0x34), 0x0007000Au);
        EXPECT_EQ(c.sysctrl.leer(0x20) & 0x382u, 0x382u) << "OSC8M on, prescaler 8, on demand";
        // The row with the watchdog on, always-on, PER 0x9, WINDOW 0x5, EWOFFSET 0x3, WEN.
        uint32_t w0 = (0xD8E0C7FAu & ~0xFE000000u) | (1u << 25) | (1u << 26) | (0x9u << 27) | (1u << 31);
        uint32_t w1 = (0xFFFFFC5Du & ~0xFFu) | 0x2u | (0x3u << 3) | (1u << 7);
        c.escribir_fila(w0, w1);
        EXPECT_EQ(c.fila(0), w0);
        EXPECT_EQ(c.wdt.leer(0x0), 0x00u) << "not before a reset";
        c.e.t += 1000;
        c.reiniciar(TODOS[i]);
        EXPECT_EQ(c.pm.leer(0x38), rcause[i]);
        EXPECT_EQ(c.wdt.leer(0x0), 0x86u) << (int)i;
        EXPECT_EQ(c.wdt.leer(0x1), 0x59u);
        EXPECT_EQ(c.wdt.leer(0x2), 0x03u);
        EXPECT_NE(c.wdt.vence(), NUNCA) << "a watchdog of the fuses counts from the reset";
        // PER 0x9: 4096 cycles of the undivided 32.768 kHz reset clock, 125 ms.
        EXPECT_NEAR((double)(c.wdt.vence() - c.e.t), 0.125 * HZ_CPU, 0.001 * HZ_CPU);
    }
}

// The user row through NVMCTRL: EAR and WAP take the row's address as the
// vendor's code writes it (0x402000) and as ADDR holds it (0x2000); PROGE
// for a command without its key, an unknown command, an auxiliary address
// outside the user row; LOCKE and nothing erased under BOOTPROT or a locked
// region; errors cleared by writing one.
TEST(NvmctrlFilaUsuario, OrdenesYErrores)
{
    Modelos c;
    c.reiniciar(TipoReset::encendido);
    EXPECT_EQ(c.fila(0), 0xD8E0C7FAu);
    for (uint32_t addr : {0x402000u, 0x2000u}) {
        c.orden(0x05, addr);
        EXPECT_EQ(c.status() & 0x1Cu, 0u) << addr;
        EXPECT_EQ(c.fila(0), 0xFFFFFFFFu) << addr;
        c.nvm.escribir(0x04, 1u << 7, 0xFFFFFFFFu);
        c.orden(0x44, addr);
        c.nvm.escribir_espacio(FILA_USUARIO, 4, 0x12345678u);
        c.orden(0x06, addr);
        EXPECT_EQ(c.fila(0), 0x12345678u) << addr;
    }
    EXPECT_EQ(c.nvm.escrituras_fila_usuario(), 2u);

    // Without the key (CMDEX 0xA5): PROGE and INTFLAG.ERROR, nothing done.
    c.nvm.escribir(0x00, 0x0005, 0xFFFF);
    EXPECT_EQ(c.status() & 0x1Cu, 0x04u);
    EXPECT_EQ(c.nvm.leer(0x14) & 0x2u, 0x2u);
    EXPECT_EQ(c.fila(0), 0x12345678u);
    c.limpiar_errores();
    EXPECT_EQ(c.status() & 0x1Cu, 0u);
    EXPECT_EQ(c.nvm.leer(0x14), 0x1u) << "READY, no ERROR";
    // A command that does not exist, and EAR on the calibration area.
    c.orden(0x7F, 0x402000);
    EXPECT_EQ(c.status() & 0x1Cu, 0x04u);
    c.limpiar_errores();
    c.orden(0x05, 0x403010);   // 0x806020: the software calibration row
    EXPECT_EQ(c.status() & 0x1Cu, 0x04u);
    EXPECT_EQ(c.fila(0), 0x12345678u);
    c.limpiar_errores();

    // BOOTPROT of the factory row: 8 KB from address 0.
    c.escribir_fila(0xD8E0C7FAu, 0xFFFFFC5Du);
    c.reiniciar(TipoReset::watchdog);
    c.flash[0x1000] = 0x42;
    c.orden(0x02, 0x1000 / 2);
    EXPECT_EQ(c.status() & 0x1Cu, 0x08u) << "LOCKE";
    EXPECT_EQ(c.nvm.leer(0x14) & 0x2u, 0x2u);
    EXPECT_EQ(c.flash[0x1000], 0x42) << "nothing erased";
    c.limpiar_errores();
    c.orden(0x04, 0x1FC0 / 2);   // a page write there
    EXPECT_EQ(c.status() & 0x1Cu, 0x08u);
    c.limpiar_errores();
    // The EEPROM rows at the end of the flash are not protected...
    c.flash[EEPROM_BASE] = 0x00;
    c.orden(0x02, EEPROM_BASE / 2);
    EXPECT_EQ(c.status() & 0x1Cu, 0u);
    EXPECT_EQ(c.flash[EEPROM_BASE], 0xFF);
    // ...until their region (the 16th, 16 KB each) is locked by the row's LOCK bits.
    c.escribir_fila(0xD8E0C7FAu, 0x7FFFFC5Du);
    c.reiniciar(TipoReset::pin_externo);
    EXPECT_EQ(c.nvm.leer(0x20), 0x7FFFu);
    c.flash[EEPROM_BASE] = 0x00;
    c.orden(0x02, EEPROM_BASE / 2);
    EXPECT_EQ(c.status() & 0x1Cu, 0x08u);
    EXPECT_EQ(c.flash[EEPROM_BASE], 0x00);
}

}  // namespace
