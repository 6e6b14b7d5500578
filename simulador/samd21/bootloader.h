// The board's SAM-BA bootloader (8 KB at address 0, the application at
// 0x2000), by what it does that the application can see: at a reset whose
// cause is not a power-on (RCAUSE.POR clear: the reset pin, the watchdog, a
// system reset request, and a brown-out too) it sets a word at the top of
// RAM and waits half a second in the reset clock for a second press; a reset
// inside that wait finds the word set and keeps the board in the
// bootloader, waiting for a programmer on USB or its UART. It never touches
// the watchdog, which runs on as the fuses started it.
//
// Facts from the bootloader's public source (Arduino's "zero" bootloader):
// the word is the last of the 32 KB of RAM, the mark 0x07738135; the wait is
// a loop of 125000 turns of 4 cycles of the 1 MHz reset clock (OSC8M divided
// by 8); it stays when the application's first word (its stack pointer) is
// erased flash, 0xFFFFFFFF.
#ifndef SIMULADOR_SAMD21_BOOTLOADER_H
#define SIMULADOR_SAMD21_BOOTLOADER_H

#include <cstdint>
#include <string>

namespace samd21 {

enum class ModoBootloader { ninguno, doble_toque };

constexpr uint32_t DIRECCION_DOBLE_TOQUE = 0x20007FFCu;
constexpr uint32_t MARCA_DOBLE_TOQUE = 0x07738135u;
constexpr double CICLOS_ESPERA_DOBLE_TOQUE = 500000.0;   // of the 1 MHz reset clock
constexpr double HZ_RELOJ_RESET = 8e6 / 8;              // OSC8M with its reset prescaler

enum class PasoBootloader {
    aplicacion,  // the application starts now
    espera,      // the double-tap wait, then the application
    queda,       // the bootloader keeps the board
};

struct DecisionBootloader {
    PasoBootloader paso;
    double espera_s;  // true seconds of the wait (espera only)
};

// What the bootloader does after a reset with this RCAUSE, with the
// application's first word and the double-tap word as the RAM holds it
// (changed as the bootloader changes it). error_osc8m: the reset clock's
// relative error.
DecisionBootloader decidir_bootloader(ModoBootloader modo, uint8_t rcause, uint32_t sp_aplicacion,
                                      uint32_t &palabra_doble_toque, double error_osc8m);

// The wait ran out without a reset: the word is cleared and the application starts.
inline void fin_espera_bootloader(uint32_t &palabra_doble_toque) { palabra_doble_toque = 0; }

// "none" or "double-tap"; false for any other text.
bool modo_bootloader_de(const std::string &texto, ModoBootloader &modo);

}  // namespace samd21

#endif
