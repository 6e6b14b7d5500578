#include "osciladores.h"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace samd21 {

std::string leer_error_oscilador(const std::string &texto, ErroresOsciladores &errores)
{
    size_t igual = texto.find('=');
    if (igual == std::string::npos) return "not NAME=ERROR: " + texto;
    std::string nombre;
    for (char c : texto.substr(0, igual)) nombre += (char)std::toupper((unsigned char)c);
    double *destino = nombre == "OSCULP32K" ? &errores.osculp32k
                      : nombre == "OSC8M"   ? &errores.osc8m
                      : nombre == "DFLL48M" ? &errores.dfll48m
                                            : nullptr;
    if (!destino) return "no such oscillator (OSCULP32K, OSC8M, DFLL48M): " + texto.substr(0, igual);
    std::string valor = texto.substr(igual + 1);
    double escala = 0;
    if (valor.size() > 1 && valor.back() == '%') {
        escala = 1e-2;
        valor.pop_back();
    } else if (valor.size() > 3 && valor.compare(valor.size() - 3, 3, "ppm") == 0) {
        escala = 1e-6;
        valor.resize(valor.size() - 3);
    } else {
        return "an error is written with % or ppm (+20%, -150ppm): " + texto;
    }
    if (valor.empty() || std::isspace((unsigned char)valor[0])) return "not a number: " + texto;
    char *fin = nullptr;
    double v = std::strtod(valor.c_str(), &fin);
    if (fin != valor.c_str() + valor.size() || !std::isfinite(v)) return "not a number: " + texto;
    v *= escala;
    if (std::fabs(v) >= 0.5) return "out of range (less than 50 % either way): " + texto;
    *destino = v;
    return "";
}

}  // namespace samd21
