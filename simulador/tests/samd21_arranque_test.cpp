// The emulated chip's start after a reset, in its parts: the fuses the user
// row loads, the bootloader's three paths and the oscillators' errors as the
// command line gives them.
#include <gtest/gtest.h>

#include "simulador/samd21/bootloader.h"
#include "simulador/samd21/fusibles.h"
#include "simulador/samd21/osciladores.h"

namespace {

using namespace samd21;

// Datasheet, NVM User Row Mapping: BOOTPROT 2:0, EEPROM 6:4, BOD33 level
// 13:8, enable 14, action 16:15, WDT enable 25, always-on 26, period 30:27,
// window 34:31, EWOFFSET 38:35, WEN 39, BOD33 hysteresis 40, LOCK 63:48.
TEST(FusiblesSamd21, CamposDeLaFilaDeUsuario)
{
    // As the board's bootloader leaves the row.
    Fusibles f = fusibles_de(0xD8E0C7FAu, 0xFFFFFC5Du);
    EXPECT_EQ(f.bootprot, 2);
    EXPECT_EQ(f.bytes_protegidos(), 8192u);
    EXPECT_EQ(f.eeprom, 7);
    EXPECT_EQ(f.bod33_nivel, 7);
    EXPECT_TRUE(f.bod33_activo);
    EXPECT_EQ(f.bod33_accion, 1);
    EXPECT_FALSE(f.wdt_activo);
    EXPECT_FALSE(f.wdt_siempre);
    EXPECT_EQ(f.wdt_periodo, 0xB);
    EXPECT_EQ(f.wdt_ventana, 0xB);
    EXPECT_EQ(f.wdt_aviso, 0xB);
    EXPECT_FALSE(f.wdt_ventana_activa);
    EXPECT_EQ(f.bloqueos, 0xFFFF);
    EXPECT_EQ(f.wdt_ctrl(), 0x00);
    EXPECT_EQ(f.wdt_config(), 0xBB);
    EXPECT_EQ(f.wdt_ewctrl(), 0x0B);
    // The row the firmware used to write: the watchdog on, 16384 cycles.
    Fusibles v = fusibles_de(0xDAE0C7FAu, 0xFFFFFC5Du);
    EXPECT_TRUE(v.wdt_activo);
    EXPECT_EQ(v.wdt_ctrl(), 0x02);
    // An erased row: every bit one.
    Fusibles b = fusibles_de(0xFFFFFFFFu, 0xFFFFFFFFu);
    EXPECT_EQ(b.wdt_ctrl(), 0x86);
    EXPECT_EQ(b.bytes_protegidos(), 0u);
    EXPECT_EQ(b.bod33_accion, 3);
    // BOOTPROT from 0x6 (512 bytes) to 0x0 (32 kB).
    EXPECT_EQ(fusibles_de(0xD8E0C7F6u, 0).bytes_protegidos(), 512u);
    EXPECT_EQ(fusibles_de(0xD8E0C7F8u, 0).bytes_protegidos(), 32768u);
}

// The three paths of the double-tap bootloader, and the one without it.
TEST(BootloaderSamd21, EncendidoSegundoToqueYEspera)
{
    const uint32_t sp = 0x20008000u;
    uint32_t palabra = MARCA_DOBLE_TOQUE;   // left by a press before the power went
    DecisionBootloader d = decidir_bootloader(ModoBootloader::doble_toque, 0x01, sp, palabra, 0.0);
    EXPECT_EQ(d.paso, PasoBootloader::aplicacion) << "power-on: straight to the application";
    EXPECT_EQ(palabra, 0u);

    for (uint8_t rcause : {0x04, 0x10, 0x20, 0x40}) {   // BOD33, EXT, WDT, SYST
        palabra = 0x12345678u;
        d = decidir_bootloader(ModoBootloader::doble_toque, rcause, sp, palabra, 0.0);
        EXPECT_EQ(d.paso, PasoBootloader::espera) << (int)rcause;
        EXPECT_EQ(palabra, MARCA_DOBLE_TOQUE);
        EXPECT_NEAR(d.espera_s, 0.5, 1e-12);
        // A second reset inside the wait finds the mark: the bootloader stays.
        d = decidir_bootloader(ModoBootloader::doble_toque, rcause, sp, palabra, 0.0);
        EXPECT_EQ(d.paso, PasoBootloader::queda) << (int)rcause;
        EXPECT_EQ(palabra, 0u);
    }
    // The wait counts turns of the reset clock: a fast OSC8M shortens it.
    palabra = 0;
    d = decidir_bootloader(ModoBootloader::doble_toque, 0x20, sp, palabra, 0.02);
    EXPECT_NEAR(d.espera_s, 0.5 / 1.02, 1e-12);
    fin_espera_bootloader(palabra);
    EXPECT_EQ(palabra, 0u);
    // Nothing flashed behind it: it stays whatever the cause.
    d = decidir_bootloader(ModoBootloader::doble_toque, 0x01, 0xFFFFFFFFu, palabra, 0.0);
    EXPECT_EQ(d.paso, PasoBootloader::queda);
    // Without a bootloader the application starts at every reset, the word untouched.
    palabra = MARCA_DOBLE_TOQUE;
    d = decidir_bootloader(ModoBootloader::ninguno, 0x20, sp, palabra, 0.0);
    EXPECT_EQ(d.paso, PasoBootloader::aplicacion);
    EXPECT_EQ(palabra, MARCA_DOBLE_TOQUE);

    ModoBootloader m;
    EXPECT_TRUE(modo_bootloader_de("none", m));
    EXPECT_EQ(m, ModoBootloader::ninguno);
    EXPECT_TRUE(modo_bootloader_de("double-tap", m));
    EXPECT_EQ(m, ModoBootloader::doble_toque);
    EXPECT_FALSE(modo_bootloader_de("sam-ba", m));
}

TEST(OsciladoresSamd21, ErroresDeLaLineaDeOrdenes)
{
    ErroresOsciladores e;
    EXPECT_EQ(leer_error_oscilador("OSCULP32K=+20%", e), "");
    EXPECT_DOUBLE_EQ(e.osculp32k, 0.2);
    EXPECT_EQ(leer_error_oscilador("osc8m=-150ppm", e), "");
    EXPECT_DOUBLE_EQ(e.osc8m, -150e-6);
    EXPECT_EQ(leer_error_oscilador("DFLL48M=0.5%", e), "");
    EXPECT_DOUBLE_EQ(e.dfll48m, 0.005);
    EXPECT_EQ(leer_error_oscilador("OSCULP32K=-20%", e), "");   // the last one given stands
    EXPECT_DOUBLE_EQ(e.osculp32k, -0.2);
    for (const char *malo : {"OSCULP32K", "XOSC=1%", "OSC8M=20", "OSC8M=%", "OSC8M=abc%", "OSC8M=1e400%",
                             "OSC8M=+50%", "OSC8M=-60%", "OSC8M= 1%", "OSC8M=1%%", "=1%", "OSC8M=ppm"}) {
        ErroresOsciladores f;
        EXPECT_NE(leer_error_oscilador(malo, f), "") << malo;
        EXPECT_EQ(f.osc8m, 0.0) << malo;
    }
}

}  // namespace
