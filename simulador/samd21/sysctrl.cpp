#include "sysctrl.h"

namespace samd21 {

void Sysctrl::reiniciar(TipoReset)
{
    osc8m_ = 0x00000382;
    osc32k_ = 0x003F0080;
    xosc32k_ = 0x0080;
    dfllctrl_ = 0x0080;
    dfllval_ = dfllmul_ = 0;
    osculp32k_ = 0x1F;
    inten_ = bod33_ = vref_ = 0;
    vreg_ = 0x0002;
    dfll_listo_ = xosc32k_listo_ = osc32k_listo_ = 0;
}

double Sysctrl::hz_osc8m() const
{
    return (osc8m_ & 2) ? 8e6 * (1.0 + errores_.osc8m) / (1u << ((osc8m_ >> 8) & 3)) : 0;
}

// BOD33: ENABLE bit 1, HYST bit 2, ACTION bits 4:3, LEVEL bits 21:16.
void Sysctrl::cargar_bod33(const Fusibles &f)
{
    bod33_ = (f.bod33_activo ? 0x2u : 0u) | (f.bod33_histeresis ? 0x4u : 0u) | ((uint32_t)(f.bod33_accion & 3) << 3) |
             ((uint32_t)(f.bod33_nivel & 0x3F) << 16);
}

uint32_t Sysctrl::pclksr(uint64_t t) const
{
    uint32_t s = 0;
    if ((xosc32k_ & 2) && t >= xosc32k_listo_) s |= 1u << 1;
    if ((osc32k_ & 2) && t >= osc32k_listo_) s |= 1u << 2;
    if (osc8m_ & 2) s |= 1u << 3;
    if (t >= dfll_listo_) s |= 1u << 4;
    // Closed loop (MODE) with a reference: locked a little after the start.
    if ((dfllctrl_ & 0x6) == 0x6 && t >= dfll_listo_ + 48000) s |= (1u << 6) | (1u << 7);
    s |= 1u << 9;  // BOD33RDY
    return s;
}

uint32_t Sysctrl::leer(uint32_t r)
{
    switch (r) {
    case 0x00: case 0x04: return inten_;
    case 0x08: case 0x0C: return pclksr(e_.ahora());
    case 0x10: return 0x0080;
    case 0x14: return xosc32k_;
    case 0x18: return osc32k_;
    case 0x1C: return osculp32k_;
    case 0x20: return osc8m_;
    case 0x24: return dfllctrl_;
    case 0x28: return dfllval_;
    case 0x2C: return dfllmul_;
    case 0x30: return 0;
    case 0x34: return bod33_;
    case 0x3C: return vreg_;
    case 0x40: return vref_;
    case 0x44: case 0x48: case 0x4C: case 0x50: return 0;
    default: break;
    }
    e_.parar("read of an unmodelled SYSCTRL register", BASE + r);
}

void Sysctrl::escribir(uint32_t r, uint32_t v, uint32_t m)
{
    uint64_t t = e_.ahora();
    auto poner = [&](uint32_t &reg) { reg = (reg & ~m) | (v & m); };
    switch (r) {
    case 0x00: inten_ &= ~(v & m); return;
    case 0x04:
        if (v & m) e_.parar("SYSCTRL interrupt not modelled", BASE + r);
        return;
    case 0x08: return;  // flags: write one to clear, read back from the ready state
    case 0x10:
        if (v & 2) e_.parar("external crystal oscillator XOSC: the board has none", BASE + r);
        return;
    case 0x14: {
        bool antes = xosc32k_ & 2;
        poner(xosc32k_);
        // XOSC32K.STARTUP: the start-up time in oscillator cycles.
        static const uint32_t arranque[8] = {1, 32, 2048, 4096, 16384, 32768, 65536, 131072};
        if (!antes && (xosc32k_ & 2))
            xosc32k_listo_ = t + (uint64_t)(e_.hz_ciclos() * arranque[(xosc32k_ >> 8) & 7] / 32768.0);
        return;
    }
    case 0x18: {
        bool antes = osc32k_ & 2;
        poner(osc32k_);
        if (!antes && (osc32k_ & 2)) osc32k_listo_ = t + 48 * 100;
        return;
    }
    case 0x1C: poner(osculp32k_); return;
    case 0x20: poner(osc8m_); return;
    case 0x24: case 0x28: case 0x2C:
        // The DFLL's registers take a write only when DFLLRDY says it is ready.
        if (t < dfll_listo_) e_.aviso_sincronizacion("a DFLL48M register");
        poner(r == 0x24 ? dfllctrl_ : r == 0x28 ? dfllval_ : dfllmul_);
        dfll_listo_ = t + 12;
        return;
    case 0x30: return;
    case 0x34: poner(bod33_); return;
    case 0x3C: poner(vreg_); return;
    case 0x40: poner(vref_); return;
    case 0x44:
        if (v & 2) e_.parar("FDPLL96M not modelled", BASE + r);
        return;
    case 0x48: case 0x4C: return;
    default: break;
    }
    e_.parar("write to an unmodelled SYSCTRL register", BASE + r);
}

}  // namespace samd21
