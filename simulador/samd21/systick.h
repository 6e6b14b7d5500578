// SysTick, the core's 24-bit system timer: CSR (ENABLE, TICKINT, CLKSOURCE,
// COUNTFLAG), RVR, CVR and CALIB, counting down on the processor clock. Its
// wrap to zero is an event of the chip, and pends the SysTick exception.
#ifndef SIMULADOR_SAMD21_SYSTICK_H
#define SIMULADOR_SAMD21_SYSTICK_H

#include <cstdint>

#include "entorno.h"

namespace samd21 {

class Systick {
public:
    static constexpr uint32_t BASE = 0xE000E000u;  // the system control space; the registers at 0x10..0x1C

    explicit Systick(Entorno &e) : e_(e) {}
    void reiniciar(TipoReset tipo);
    // `reg` the offset in the system control space (0x10 CSR .. 0x1C CALIB).
    uint32_t leer(uint32_t reg);
    void escribir(uint32_t reg, uint32_t valor);

    // The cycle the count next reaches 0 (NUNCA: never).
    uint64_t proximo() const { return proximo_; }
    // Takes the wraps due by cycle `t`: true when they pend the exception (TICKINT).
    bool atender(uint64_t t);

private:
    void programar(uint64_t t);

    Entorno &e_;
    uint32_t csr_ = 0, rvr_ = 0, cvr_parado_ = 0;
    uint64_t origen_ = 0;
    bool countflag_ = false;
    uint64_t proximo_ = NUNCA;
};

}  // namespace samd21

#endif
