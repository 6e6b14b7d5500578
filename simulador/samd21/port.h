// PORT, the I/O pin controller: two groups of 32 pins, each with its
// direction (DIR, DIRCLR, DIRSET, DIRTGL), output (OUT, OUTCLR, OUTSET,
// OUTTGL), input (IN, with PINCFG.INEN), pin configuration (PINCFG: PMUXEN,
// INEN, PULLEN) and multiplexer (PMUX), also reached through WRCONFIG. The
// same registers answer on the APB bus and on the single-cycle IOBUS.
#ifndef SIMULADOR_SAMD21_PORT_H
#define SIMULADOR_SAMD21_PORT_H

#include <cstdint>

#include "entorno.h"

namespace samd21 {

class Port {
public:
    static constexpr uint32_t BASE = 0x41004400u, BASE_IOBUS = 0x60000000u;
    // Peripheral functions of PMUX.
    static constexpr int FUNC_C = 2, FUNC_D = 3;

    explicit Port(Entorno &e) : e_(e) {}
    void reiniciar(TipoReset tipo);
    // `grupo` 0 is PA, 1 PB; `reg` the offset inside the group.
    uint32_t leer(int grupo, uint32_t reg);
    void escribir(int grupo, uint32_t reg, uint32_t valor, uint32_t mascara);

    // The pin is given to peripheral function `funcion` (PINCFG.PMUXEN and PMUX).
    bool pin_funcion(int grupo, int pin, int funcion) const;
    // The pin drives its output (DIR) and the level it drives (OUT).
    bool es_salida(int grupo, int pin) const { return (g_[grupo].dir >> pin) & 1; }
    int salida(int grupo, int pin) const { return (int)((g_[grupo].out >> pin) & 1); }
    // The level on the pin: its own output, an outside driver, or its pull.
    int nivel_pin(int grupo, int pin) const;

private:
    struct Grupo { uint32_t dir = 0, out = 0, ctrl = 0; uint8_t pmux[16] = {}, pincfg[32] = {}; };
    Entorno &e_;
    Grupo g_[2];
};

}  // namespace samd21

#endif
