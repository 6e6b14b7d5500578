#include "gclk.h"

#include <cmath>

namespace samd21 {

void Gclk::reiniciar(TipoReset tipo)
{
    // A user reset (the pin, the watchdog, a system reset request) leaves a
    // generic clock locked with CLKCTRL.WRTLOCK as it was, and the generator
    // that feeds it; a power reset (power-on, brown-out) clears every lock.
    bool guardado[GENERADORES] = {};
    bool canal_guardado[CANALES] = {};
    if (!es_reset_de_alimentacion(tipo))
        for (int id = 0; id < CANALES; id++)
            if (clkctrl_[id] & 0x8000) {
                canal_guardado[id] = true;
                guardado[(clkctrl_[id] >> 8) & 0xF] = true;
            }
    for (int g = 0; g < GENERADORES; g++) {
        if (guardado[g]) continue;
        // Reset values: generator 0 on OSC8M and generator 2 on OSCULP32K,
        // both enabled and undivided (DIVSEL 0, DIV 0); the others off.
        genctrl_[g] = g == 0 ? 0x00010600u : g == 2 ? 0x00010302u : (uint32_t)g;
        gendiv_[g] = (uint32_t)g;
    }
    for (int id = 0; id < CANALES; id++)
        if (!canal_guardado[id]) clkctrl_[id] = 0;
    // GCLK_WDT runs from generator 2 from reset.
    if (!canal_guardado[ID_WDT]) clkctrl_[ID_WDT] = 0x4200;
    id_gen_ = id_div_ = id_clk_ = 0;
    ocupado_hasta_ = 0;
}

double Gclk::hz_generador(int g) const
{
    if (g < 0 || g >= GENERADORES) return 0;
    uint32_t c = genctrl_[g];
    if (!(c & (1u << 16))) return 0;  // GENEN
    double f = 0;
    switch ((c >> 8) & 0x1F) {        // SRC
    case 0: f = 0; break;  // XOSC: no crystal on the board
    case 2: f = g == 1 ? 0 : hz_generador(1); break;
    case 3: f = sysctrl_.hz_osculp32k(); break;
    case 4: f = sysctrl_.hz_osc32k(); break;
    case 5: f = sysctrl_.hz_xosc32k(); break;
    case 6: f = sysctrl_.hz_osc8m(); break;
    case 7: f = sysctrl_.hz_dfll48m(); break;
    default: f = 0; break;
    }
    uint32_t div = (gendiv_[g] >> 8) & 0xFFFF;
    if (c & (1u << 20)) return f / std::ldexp(1.0, (int)div + 1);  // DIVSEL: 2^(DIV+1)
    return f / (div ? div : 1);
}

double Gclk::hz_periferico(int id) const
{
    uint16_t c = clkctrl_[id];
    if (!(c & (1u << 14))) return 0;  // CLKEN
    return hz_generador((c >> 8) & 0xF);
}

uint32_t Gclk::leer(uint32_t r)
{
    switch (r) {
    case 0x0: return 0;
    case 0x1: return e_.ahora() < ocupado_hasta_ ? 0x80u : 0u;
    case 0x2: return clkctrl_[id_clk_] | id_clk_;
    case 0x4: return genctrl_[id_gen_];
    case 0x8: return gendiv_[id_div_];
    default: break;
    }
    e_.parar("read of an unmodelled GCLK register", BASE + r);
}

void Gclk::escribir(uint32_t r, uint32_t v, uint32_t m)
{
    uint64_t t = e_.ahora();
    switch (r) {
    case 0x0:
        if (v & 1) e_.parar("GCLK software reset not modelled", BASE);
        return;
    case 0x1: return;
    case 0x2: {
        uint32_t id = v & 0x3F;
        if (id >= (uint32_t)CANALES) e_.parar("GCLK.CLKCTRL for a channel that does not exist", BASE + r);
        id_clk_ = (uint8_t)id;
        if (m == 0xFF) return;  // the ID alone selects the channel to read
        if (clkctrl_[id] & 0x8000) return;  // WRTLOCK
        clkctrl_[id] = (uint16_t)(v & 0xCF00);
        break;
    }
    case 0x4: {
        uint32_t id = v & 0xF;
        if (id >= (uint32_t)GENERADORES) e_.parar("GCLK.GENCTRL for a generator that does not exist", BASE + r);
        id_gen_ = (uint8_t)id;
        if (m == 0xFF) return;
        if (t < ocupado_hasta_) e_.aviso_sincronizacion("GCLK.GENCTRL");
        genctrl_[id] = (v & 0x003F1F00u) | id;
        ocupado_hasta_ = t + 8;
        break;
    }
    case 0x8: {
        uint32_t id = v & 0xF;
        if (id >= (uint32_t)GENERADORES) e_.parar("GCLK.GENDIV for a generator that does not exist", BASE + r);
        id_div_ = (uint8_t)id;
        if (m == 0xFF) return;
        if (t < ocupado_hasta_) e_.aviso_sincronizacion("GCLK.GENDIV");
        gendiv_[id] = (v & 0x00FFFF00u) | id;
        ocupado_hasta_ = t + 8;
        break;
    }
    default:
        e_.parar("write to an unmodelled GCLK register", BASE + r);
    }
    e_.relojes_cambiados();
}

}  // namespace samd21
