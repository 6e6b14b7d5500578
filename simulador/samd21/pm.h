// PM, the power manager: the sleep mode, the CPU and bus clock dividers, the
// bus clock masks of the peripherals, and the cause of the last reset.
#ifndef SIMULADOR_SAMD21_PM_H
#define SIMULADOR_SAMD21_PM_H

#include <cstdint>

#include "entorno.h"

namespace samd21 {

class Pm {
public:
    static constexpr uint32_t BASE = 0x40000400u;
    // APBCMASK bits of the peripherals on bus C.
    static constexpr int APBC_SERCOM0 = 2, APBC_TCC0 = 8;

    explicit Pm(Entorno &e) : e_(e) {}
    void reiniciar(TipoReset tipo);
    uint32_t leer(uint32_t reg);
    void escribir(uint32_t reg, uint32_t valor, uint32_t mascara);

    // The peripheral's bus clock runs (APBCMASK).
    bool reloj_bus_apbc(int bit) const { return (apbcmask_ >> bit) & 1u; }
    uint8_t rcause() const { return rcause_; }

private:
    Entorno &e_;
    uint8_t rcause_ = 1, sleep_ = 0, cpusel_ = 0, apbasel_ = 0, apbbsel_ = 0, apbcsel_ = 0;
    uint32_t ahbmask_ = 0x7F, apbamask_ = 0x7F, apbbmask_ = 0x7F, apbcmask_ = 0x00010000;
};

}  // namespace samd21

#endif
