#include "gclk.h"

#include <cmath>

namespace samd21 {

void Gclk::reiniciar(TipoReset)
{
    for (int g = 0; g < GENERADORES; g++) genctrl_[g] = gendiv_[g] = 0;
    for (uint16_t &c : clkctrl_) c = 0;
    id_gen_ = id_div_ = id_clk_ = 0;
    ocupado_hasta_ = 0;
    genctrl_[0] = 0x00010600u;  // OSC8M, enabled
    genctrl_[2] = 0x00110302u;  // OSCULP32K, enabled, divided by 2^(DIV+1)
    gendiv_[2] = 0x00000402u;   // DIV = 4: 1.024 kHz
    for (int g = 0; g < GENERADORES; g++) {
        genctrl_[g] |= (uint32_t)g;
        gendiv_[g] |= (uint32_t)g;
    }
    clkctrl_[ID_WDT] = 0x4200;  // the watchdog runs from generator 2 from reset
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
