// Cortex-M0+ system control block (SCB), 0xE000ED00: the vector table's
// address, the pending SysTick flag and the system handlers' priorities.
#ifndef PLATAFORMA_SAMD21_SCB_H
#define PLATAFORMA_SAMD21_SCB_H

#include "registro.h"

namespace samd21 {

struct Scb {
    R32 CPUID;           // 0xE000ED00
    R32 ICSR;            // 0xE000ED04: PENDSTSET 26
    R32 VTOR;            // 0xE000ED08
    R32 AIRCR;           // 0xE000ED0C
    R32 SCR;             // 0xE000ED10
    R32 CCR;             // 0xE000ED14
    uint8_t reservado0[4];
    R32 SHPR2;           // 0xE000ED1C
    R32 SHPR3;           // 0xE000ED20: SysTick priority in bits 31:30
};
static_assert(offsetof(Scb, SHPR3) == 0x20, "SCB layout");
constexpr uint32_t SCB_ICSR_PENDSTSET = 1u << 26;

#define SCB SAMD21_PERIFERICO(samd21::Scb, 0xE000ED00)

}  // namespace samd21

#endif
