// Cortex-M0+ system control space: the interrupt controller (NVIC), the
// system control block (SCB) and the system timer (SysTick). Word accesses
// only, as the M0+ requires for these registers.
#ifndef PLATAFORMA_SAMD21_NUCLEO_H
#define PLATAFORMA_SAMD21_NUCLEO_H

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

#define SYSTICK SAMD21_PERIFERICO(samd21::SysTick, 0xE000E010)
#define SCB SAMD21_PERIFERICO(samd21::Scb, 0xE000ED00)

// NVIC: set-enable, clear-enable, set-pending, clear-pending, and priority
// words (four lines per word, two priority bits at the top of each byte).
inline R32 &NVIC_ISER() { return *reinterpret_cast<R32 *>(uintptr_t(0xE000E100)); }
inline R32 &NVIC_ICER() { return *reinterpret_cast<R32 *>(uintptr_t(0xE000E180)); }
inline R32 &NVIC_ISPR() { return *reinterpret_cast<R32 *>(uintptr_t(0xE000E200)); }
inline R32 &NVIC_ICPR() { return *reinterpret_cast<R32 *>(uintptr_t(0xE000E280)); }
inline R32 &NVIC_IPR(uint8_t palabra) { return reinterpret_cast<R32 *>(uintptr_t(0xE000E400))[palabra]; }

inline void nvic_prioridad(uint8_t irq, uint8_t prioridad)
{
    uint32_t desplazamiento = 8u * (irq & 3u) + 6u;
    uint32_t v = NVIC_IPR(irq >> 2);
    v &= ~(3u << desplazamiento);
    v |= (uint32_t)(prioridad & 3u) << desplazamiento;
    NVIC_IPR(irq >> 2) = v;
}
inline void nvic_activar(uint8_t irq) { NVIC_ISER() = 1u << irq; }
inline void nvic_desactivar(uint8_t irq)
{
    NVIC_ICER() = 1u << irq;
    __asm__ volatile("dsb\n\tisb" ::: "memory");
}
inline void nvic_borrar_pendiente(uint8_t irq) { NVIC_ICPR() = 1u << irq; }

inline void esperar_interrupcion() { __asm__ volatile("dsb\n\twfi" ::: "memory"); }
inline uint32_t primask_desactivar()
{
    uint32_t p;
    __asm__ volatile("mrs %0, primask\n\tcpsid i" : "=r"(p)::"memory");
    return p;
}
inline void primask_restaurar(uint32_t p) { __asm__ volatile("msr primask, %0" ::"r"(p) : "memory"); }
// Exception number being served (0 in thread mode).
inline uint32_t ipsr()
{
    uint32_t v;
    __asm__ volatile("mrs %0, ipsr" : "=r"(v));
    return v;
}

}  // namespace samd21

#endif
