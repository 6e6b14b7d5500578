// Cortex-M0+ nested vectored interrupt controller (NVIC), 0xE000E100, and
// the core's own instructions for interrupts and sleep (PRIMASK, IPSR, WFI).
// Word accesses only, as the M0+ requires.
#ifndef PLATAFORMA_SAMD21_NVIC_H
#define PLATAFORMA_SAMD21_NVIC_H

#include "registro.h"

namespace samd21 {

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
