// The frequency errors of the chip's own oscillators: the ultra-low-power
// 32 kHz one (OSCULP32K, the watchdog's reset clock), the 8 MHz one (OSC8M,
// the core's clock at reset, divided by 8) and the DFLL48M in open loop (the
// core's 48 MHz). Every clock derived from one of them follows its error.
#ifndef SIMULADOR_SAMD21_OSCILADORES_H
#define SIMULADOR_SAMD21_OSCILADORES_H

#include <string>

namespace samd21 {

struct ErroresOsciladores {
    // Relative errors: +0.2 runs 20 % fast, -150e-6 150 ppm slow.
    double osculp32k = 0.0;
    double osc8m = 0.0;
    double dfll48m = 0.0;
};

// Reads "NAME=ERROR" (NAME OSCULP32K, OSC8M or DFLL48M, in any case; ERROR a
// signed number with "%" or "ppm", such as "+20%" or "-150ppm") into the
// errors. Returns an empty text when it was taken, else what is wrong with
// it; errors of 50 % or more either way are refused (no such part runs).
std::string leer_error_oscilador(const std::string &texto, ErroresOsciladores &errores);

}  // namespace samd21

#endif
