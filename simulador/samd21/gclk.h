// GCLK, the generic clock controller: nine generators (GENCTRL source,
// GENDIV division, DIVSEL) and the peripheral channels (CLKCTRL) that take
// their clock from one of them.
#ifndef SIMULADOR_SAMD21_GCLK_H
#define SIMULADOR_SAMD21_GCLK_H

#include <cstdint>

#include "entorno.h"
#include "sysctrl.h"

namespace samd21 {

class Gclk {
public:
    static constexpr uint32_t BASE = 0x40000C00u;
    // CLKCTRL.ID of the channels the chip's models use.
    static constexpr int ID_WDT = 0x03, ID_SERCOM0 = 0x14, ID_TCC0 = 0x1A;
    static constexpr int CANALES = 0x25, GENERADORES = 9;

    Gclk(Entorno &e, const Sysctrl &sysctrl) : e_(e), sysctrl_(sysctrl) {}
    void reiniciar(TipoReset tipo);
    uint32_t leer(uint32_t reg);
    void escribir(uint32_t reg, uint32_t valor, uint32_t mascara);

    // Output frequency of a generator and of a peripheral channel (0: off).
    double hz_generador(int gen) const;
    double hz_periferico(int id_clkctrl) const;

private:
    Entorno &e_;
    const Sysctrl &sysctrl_;
    uint32_t genctrl_[GENERADORES] = {}, gendiv_[GENERADORES] = {};
    uint16_t clkctrl_[CANALES] = {};
    uint8_t id_gen_ = 0, id_div_ = 0, id_clk_ = 0;
    uint64_t ocupado_hasta_ = 0;
};

}  // namespace samd21

#endif
