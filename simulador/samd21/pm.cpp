#include "pm.h"

namespace samd21 {

void Pm::reiniciar(TipoReset tipo)
{
    sleep_ = cpusel_ = apbasel_ = apbbsel_ = apbcsel_ = 0;
    ahbmask_ = 0x7F;
    apbamask_ = 0x7F;
    apbbmask_ = 0x7F;
    apbcmask_ = 0x00010000;
    rcause_ = rcause_de(tipo);
}

uint32_t Pm::leer(uint32_t r)
{
    switch (r) {
    case 0x00: return 0;
    case 0x01: return sleep_;
    case 0x08: return cpusel_;
    case 0x09: return apbasel_;
    case 0x0A: return apbbsel_;
    case 0x0B: return apbcsel_;
    case 0x14: return ahbmask_;
    case 0x18: return apbamask_;
    case 0x1C: return apbbmask_;
    case 0x20: return apbcmask_;
    case 0x34: case 0x35: case 0x36: return 0;
    case 0x38: return rcause_;
    default: break;
    }
    e_.parar("read of an unmodelled PM register", BASE + r);
}

void Pm::escribir(uint32_t r, uint32_t v, uint32_t m)
{
    auto poner = [&](uint32_t &reg) { reg = (reg & ~m) | (v & m); };
    switch (r) {
    case 0x00: return;
    case 0x01: sleep_ = (uint8_t)(v & 3); return;
    case 0x08: case 0x09: case 0x0A: case 0x0B:
        if (v & 7) e_.parar("CPU or bus clock prescaler not modelled (one instruction is one 48 MHz cycle)", BASE + r);
        return;
    case 0x14: poner(ahbmask_); return;
    case 0x18: poner(apbamask_); return;
    case 0x1C: poner(apbbmask_); return;
    case 0x20: poner(apbcmask_); return;
    case 0x34: return;
    case 0x35: if (v) e_.parar("PM interrupt not modelled", BASE + r); return;
    case 0x36: return;
    case 0x38: return;  // read-only
    default: break;
    }
    e_.parar("write to an unmodelled PM register", BASE + r);
}

}  // namespace samd21
