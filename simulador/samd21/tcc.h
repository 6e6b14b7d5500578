// TCC, the timer/counter for control applications (TCC0 here): a 24-bit
// counter on its generic clock through the prescaler, the period (PER, with
// its buffer PERB), compare channels CC0..CC3 (with buffers), the normal and
// match frequency waveforms and normal PWM, and the overflow and match-0
// interrupts. Its overflow and match are events of the chip.
#ifndef SIMULADOR_SAMD21_TCC_H
#define SIMULADOR_SAMD21_TCC_H

#include <cstdint>

#include "entorno.h"
#include "gclk.h"

namespace samd21 {

class Tcc {
public:
    static constexpr uint32_t BASE0 = 0x42002000u;  // TCC0

    Tcc(Entorno &e, const Gclk &gclk) : e_(e), gclk_(gclk) {}
    void reiniciar(TipoReset tipo);
    uint32_t leer(uint32_t reg);
    void escribir(uint32_t reg, uint32_t valor, uint32_t mascara);

    // The interrupt line to the NVIC (INTFLAG & INTENSET).
    bool irq() const { return (intflag_ & intenset_) != 0; }
    // The cycle of the next match 0 or overflow (NUNCA: none).
    uint64_t proximo_evento() const { return prox_mc0_ < prox_ovf_ ? prox_mc0_ : prox_ovf_; }
    // Takes the matches and overflows due by cycle `t`.
    void atender(uint64_t t);
    // The clock may have changed: the next events move.
    void programar();
    // Match-0 events since power-on.
    uint64_t coincidencias() const { return coincidencias_; }

private:
    uint32_t cuenta() const;
    uint64_t ciclos_por_cuenta() const;
    uint64_t tope() const { return ((wave_ & 7) == 1 ? cc_[0] : per_) + 1; }  // MFRQ counts to CC0

    Entorno &e_;
    const Gclk &gclk_;
    uint32_t ctrla_ = 0, intenset_ = 0, intflag_ = 0, wave_ = 0, per_ = 0xFFFFFF, cc_[4] = {}, perb_ = 0xFFFFFF,
             ctrlb_ = 0, dbgctrl_ = 0, evctrl_ = 0, drvctrl_ = 0;
    bool perb_valido_ = false;
    uint64_t origen_ = 0, prox_mc0_ = NUNCA, prox_ovf_ = NUNCA, ocupado_hasta_ = 0;
    uint64_t coincidencias_ = 0;
};

}  // namespace samd21

#endif
