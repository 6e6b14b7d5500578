// Cortex-M0+ system timer (SysTick), 0xE000E010: the millisecond of millis,
// micros and delay.
#ifndef PLATAFORMA_SAMD21_SYSTICK_H
#define PLATAFORMA_SAMD21_SYSTICK_H

#include "registro.h"

namespace samd21 {

struct SysTick {
    R32 CSR;             // 0xE000E010: ENABLE 0, TICKINT 1, CLKSOURCE 2, COUNTFLAG 16
    R32 RVR;             // 0xE000E014
    R32 CVR;             // 0xE000E018
    R32 CALIB;           // 0xE000E01C
};
constexpr uint32_t SYST_CSR_ENABLE = 1u << 0;
constexpr uint32_t SYST_CSR_TICKINT = 1u << 1;
constexpr uint32_t SYST_CSR_CLKSOURCE = 1u << 2;    // the processor clock
constexpr uint32_t SYST_CSR_COUNTFLAG = 1u << 16;

#define SYSTICK SAMD21_PERIFERICO(samd21::SysTick, 0xE000E010)

}  // namespace samd21

#endif
