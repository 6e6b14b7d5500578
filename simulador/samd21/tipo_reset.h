// The kinds of reset of the ATSAMD21, as the reset controller tells them
// apart (PM.RCAUSE). Every peripheral model takes one in its `reiniciar`: the
// datasheet gives some registers different values after a power reset
// (power-on, brown-out) than after a user reset (the reset pin, the watchdog,
// a system reset request).
#ifndef SIMULADOR_SAMD21_TIPO_RESET_H
#define SIMULADOR_SAMD21_TIPO_RESET_H

#include <cstdint>

namespace samd21 {

enum class TipoReset {
    encendido,    // power-on (RCAUSE.POR)
    brown_out,    // the supply fell below the BOD33 level (RCAUSE.BOD33)
    pin_externo,  // the RESET pin (RCAUSE.EXT)
    watchdog,     // the watchdog, or its CLEAR register written with a wrong key (RCAUSE.WDT)
    sistema,      // the core's AIRCR.SYSRESETREQ (RCAUSE.SYST)
};

// The RCAUSE bit the reset controller sets for each kind.
constexpr uint8_t rcause_de(TipoReset t)
{
    switch (t) {
    case TipoReset::encendido: return 0x01;
    case TipoReset::brown_out: return 0x04;
    case TipoReset::pin_externo: return 0x10;
    case TipoReset::watchdog: return 0x20;
    case TipoReset::sistema: return 0x40;
    }
    return 0x01;
}

// Power-on and brown-out are the power resets; the others are user resets.
constexpr bool es_reset_de_alimentacion(TipoReset t)
{
    return t == TipoReset::encendido || t == TipoReset::brown_out;
}

}  // namespace samd21

#endif
