// Watchdog timer (WDT), base 0x40001000.
#ifndef PLATAFORMA_SAMD21_WDT_H
#define PLATAFORMA_SAMD21_WDT_H

#include "registro.h"

namespace samd21 {

struct Wdt {
    R8 CTRL;             // 0x00: ENABLE bit 1, WEN bit 2, ALWAYSON bit 7
    R8 CONFIG;           // 0x01: PER 3:0, WINDOW 7:4
    R8 EWCTRL;           // 0x02
    uint8_t reservado0;
    R8 INTENCLR;         // 0x04
    R8 INTENSET;         // 0x05
    R8 INTFLAG;          // 0x06
    R8 STATUS;           // 0x07: SYNCBUSY bit 7
    R8 CLEAR;            // 0x08
};
static_assert(offsetof(Wdt, STATUS) == 0x07, "WDT layout");
static_assert(offsetof(Wdt, CLEAR) == 0x08, "WDT layout");

constexpr uint8_t WDT_CTRL_ENABLE = 1u << 1;
constexpr uint8_t WDT_CTRL_WEN = 1u << 2;
constexpr uint8_t WDT_CTRL_ALWAYSON = 1u << 7;
constexpr uint8_t WDT_STATUS_SYNCBUSY = 1u << 7;
constexpr uint8_t WDT_CLEAR_KEY = 0xA5;
// CONFIG.PER: 0x0 is 8 clock cycles, each code doubles it, 0xB is 16384.
constexpr uint8_t WDT_PER_MAXIMO = 0xB;

#define WDT SAMD21_PERIFERICO(samd21::Wdt, 0x40001000)

}  // namespace samd21

#endif
