// SYSCTRL, the system controller: the oscillators (OSC8M, OSC32K, XOSC32K,
// OSCULP32K, DFLL48M), their ready flags in PCLKSR, BOD33 and the regulator.
#ifndef SIMULADOR_SAMD21_SYSCTRL_H
#define SIMULADOR_SAMD21_SYSCTRL_H

#include <cstdint>

#include "entorno.h"

namespace samd21 {

class Sysctrl {
public:
    static constexpr uint32_t BASE = 0x40000800u;

    explicit Sysctrl(Entorno &e) : e_(e) {}
    void reiniciar(TipoReset tipo);
    uint32_t leer(uint32_t reg);
    void escribir(uint32_t reg, uint32_t valor, uint32_t mascara);

    // The oscillators' output frequencies (0 when off), for the generic clocks.
    double hz_osc8m() const;
    double hz_osc32k() const { return (osc32k_ & 2) ? 32768 : 0; }
    double hz_xosc32k() const { return (xosc32k_ & 2) ? 32768 : 0; }
    double hz_osculp32k() const { return 32768; }
    double hz_dfll48m() const { return (dfllctrl_ & 2) ? 48e6 : 0; }

private:
    uint32_t pclksr(uint64_t t) const;

    Entorno &e_;
    uint32_t osc8m_ = 0, osc32k_ = 0, xosc32k_ = 0, dfllctrl_ = 0, dfllval_ = 0, dfllmul_ = 0, osculp32k_ = 0;
    uint32_t inten_ = 0, bod33_ = 0, vreg_ = 0, vref_ = 0;
    uint64_t dfll_listo_ = 0, xosc32k_listo_ = 0, osc32k_listo_ = 0;
};

}  // namespace samd21

#endif
