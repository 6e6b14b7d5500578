// SYSCTRL, the system controller: the oscillators (OSC8M, OSC32K, XOSC32K,
// OSCULP32K, DFLL48M), their ready flags in PCLKSR, BOD33 and the regulator.
#ifndef SIMULADOR_SAMD21_SYSCTRL_H
#define SIMULADOR_SAMD21_SYSCTRL_H

#include <cstdint>

#include "entorno.h"
#include "fusibles.h"
#include "osciladores.h"

namespace samd21 {

class Sysctrl {
public:
    static constexpr uint32_t BASE = 0x40000800u;

    explicit Sysctrl(Entorno &e) : e_(e) {}
    void reiniciar(TipoReset tipo);
    // The oscillators' frequency errors (--oscillator); the DFLL48M's is the
    // core clock's whole error.
    void configurar_errores(const ErroresOsciladores &e) { errores_ = e; }
    // BOD33's register as a reset loads it from the user row's fuses.
    void cargar_bod33(const Fusibles &f);
    // BOD33 resets the chip when the supply falls below its level.
    bool bod33_reinicia() const { return (bod33_ & 0x2) && ((bod33_ >> 3) & 3) == 1; }
    uint32_t leer(uint32_t reg);
    void escribir(uint32_t reg, uint32_t valor, uint32_t mascara);

    // The oscillators' output frequencies (0 when off), for the generic clocks.
    double hz_osc8m() const;
    double hz_osc32k() const { return (osc32k_ & 2) ? 32768 : 0; }
    double hz_xosc32k() const { return (xosc32k_ & 2) ? 32768 : 0; }
    double hz_osculp32k() const { return 32768 * (1.0 + errores_.osculp32k); }
    double hz_dfll48m() const { return (dfllctrl_ & 2) ? 48e6 * (1.0 + errores_.dfll48m) : 0; }

private:
    uint32_t pclksr(uint64_t t) const;

    Entorno &e_;
    uint32_t osc8m_ = 0, osc32k_ = 0, xosc32k_ = 0, dfllctrl_ = 0, dfllval_ = 0, dfllmul_ = 0, osculp32k_ = 0;
    uint32_t inten_ = 0, bod33_ = 0, vreg_ = 0, vref_ = 0;
    uint64_t dfll_listo_ = 0, xosc32k_listo_ = 0, osc32k_listo_ = 0;
    ErroresOsciladores errores_;
};

}  // namespace samd21

#endif
