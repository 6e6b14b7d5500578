// System controller (SYSCTRL), base 0x40000800: the DFLL48M oscillator.
#ifndef PLATAFORMA_SAMD21_SYSCTRL_H
#define PLATAFORMA_SAMD21_SYSCTRL_H

#include "registro.h"

namespace samd21 {

struct Sysctrl {
    R32 INTENCLR;        // 0x00
    R32 INTENSET;        // 0x04
    R32 INTFLAG;         // 0x08
    R32 PCLKSR;          // 0x0C
    R32 XOSC;            // 0x10 (16-bit register)
    R32 XOSC32K;         // 0x14 (16-bit register)
    R32 OSC32K;          // 0x18
    R8 OSCULP32K;        // 0x1C
    uint8_t reservado0[3];
    R32 OSC8M;           // 0x20
    R16 DFLLCTRL;        // 0x24
    uint8_t reservado1[2];
    R32 DFLLVAL;         // 0x28
    R32 DFLLMUL;         // 0x2C
};
static_assert(offsetof(Sysctrl, PCLKSR) == 0x0C, "SYSCTRL layout");
static_assert(offsetof(Sysctrl, DFLLCTRL) == 0x24, "SYSCTRL layout");
static_assert(offsetof(Sysctrl, DFLLVAL) == 0x28, "SYSCTRL layout");

constexpr uint32_t SYSCTRL_PCLKSR_DFLLRDY = 1u << 4;
constexpr uint16_t SYSCTRL_DFLLCTRL_ENABLE = 1u << 1;
// DFLLVAL: FINE in bits 9:0, COARSE in bits 15:10.
constexpr uint32_t SYSCTRL_DFLLVAL_COARSE_POS = 10;

#define SYSCTRL SAMD21_PERIFERICO(samd21::Sysctrl, 0x40000800)

// NVM software calibration area: the DFLL48M coarse value for 48 MHz lies in
// bits 63:58 of the area, that is bits 31:26 of its second word.
constexpr uintptr_t NVM_CALIBRACION_SOFTWARE = 0x00806020;
constexpr uint32_t CAL_DFLL48M_COARSE_POS = 26;

}  // namespace samd21

#endif
