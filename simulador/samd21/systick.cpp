#include "systick.h"

#include <algorithm>

namespace samd21 {

void Systick::reiniciar(TipoReset)
{
    csr_ = rvr_ = cvr_parado_ = 0;
    origen_ = 0;
    countflag_ = false;
    proximo_ = NUNCA;
}

bool Systick::atender(uint64_t t)
{
    if (proximo_ > t) return false;
    uint64_t periodo = (uint64_t)(rvr_ & 0xFFFFFF) + 1;
    bool pendiente = false;
    while (proximo_ <= t) {
        countflag_ = true;
        if (csr_ & 2) pendiente = true;
        proximo_ += periodo;
    }
    return pendiente;
}

uint32_t Systick::leer(uint32_t r)
{
    uint64_t t = e_.ahora();
    uint32_t rvr = rvr_ & 0xFFFFFF;
    switch (r) {
    case 0x10: {
        uint32_t v = csr_ | (countflag_ ? 1u << 16 : 0u);
        countflag_ = false;  // COUNTFLAG clears on read
        return v;
    }
    case 0x14: return rvr_;
    case 0x18:
        if (!(csr_ & 1)) return cvr_parado_;
        if (t < origen_) return 0;
        return rvr - (uint32_t)((t - origen_) % ((uint64_t)rvr + 1));
    case 0x1C: return 0x40000000u | 47999u;  // NOREF; 1 ms of the 48 MHz clock
    default: break;
    }
    e_.parar("read of an unmodelled SysTick register", BASE + r);
}

void Systick::programar(uint64_t t)
{
    uint32_t rvr = rvr_ & 0xFFFFFF;
    proximo_ = NUNCA;
    if (!(csr_ & 1) || rvr == 0) return;
    uint64_t base = origen_ + rvr;  // the count reaches 0
    if (base <= t) base += ((t - base) / ((uint64_t)rvr + 1) + 1) * ((uint64_t)rvr + 1);
    proximo_ = base;
}

void Systick::escribir(uint32_t r, uint32_t v)
{
    uint64_t t = e_.ahora();
    uint32_t rvr = rvr_ & 0xFFFFFF;
    switch (r) {
    case 0x10: {
        bool antes = csr_ & 1;
        csr_ = v & 7;
        if ((v & 1) && !(v & 4)) e_.parar("SysTick on the external reference clock not modelled", BASE + r);
        if (!antes && (v & 1)) {
            uint32_t actual = cvr_parado_;
            origen_ = actual == 0 ? t + 1 : t - std::min<uint64_t>(t, (uint64_t)(rvr - std::min(actual, rvr)));
        } else if (antes && !(v & 1)) {
            cvr_parado_ = leer(0x18);
        }
        programar(t);
        return;
    }
    case 0x14:
        rvr_ = v & 0xFFFFFF;
        programar(t);
        return;
    case 0x18:
        countflag_ = false;
        cvr_parado_ = 0;
        if (csr_ & 1) origen_ = t + 1;
        programar(t);
        return;
    case 0x1C: return;
    default: break;
    }
    e_.parar("write to an unmodelled SysTick register", BASE + r);
}

}  // namespace samd21
