#include "tcc.h"

#include <algorithm>
#include <cmath>

namespace samd21 {

void Tcc::reiniciar(TipoReset)
{
    ctrla_ = intenset_ = intflag_ = wave_ = 0;
    per_ = perb_ = 0xFFFFFF;
    for (uint32_t &c : cc_) c = 0;
    ctrlb_ = dbgctrl_ = evctrl_ = drvctrl_ = 0;
    perb_valido_ = false;
    origen_ = 0;
    prox_mc0_ = prox_ovf_ = NUNCA;
    ocupado_hasta_ = 0;
}

uint64_t Tcc::ciclos_por_cuenta() const
{
    static const uint32_t divisores[8] = {1, 2, 4, 8, 16, 64, 256, 1024};  // CTRLA.PRESCALER
    double hz = gclk_.hz_periferico(Gclk::ID_TCC0);
    if (hz <= 0) return 0;
    return (uint64_t)std::llround(e_.hz_ciclos() / hz) * divisores[(ctrla_ >> 8) & 7];
}

uint32_t Tcc::cuenta() const
{
    uint64_t cpc = ciclos_por_cuenta();
    if (!(ctrla_ & 2) || cpc == 0) return (uint32_t)origen_;  // stopped: origen holds the count
    uint64_t t = e_.ahora();
    if (t < origen_) return 0;
    return (uint32_t)(((t - origen_) / cpc) % tope());
}

void Tcc::programar()
{
    prox_mc0_ = prox_ovf_ = NUNCA;
    uint64_t cpc = ciclos_por_cuenta();
    if (!(ctrla_ & 2) || cpc == 0) return;
    uint64_t top = tope();
    uint64_t periodo = top * cpc;
    uint64_t t = std::max(e_.ahora(), origen_);
    uint64_t k = (t - origen_) / periodo;
    prox_ovf_ = origen_ + (k + 1) * periodo;
    if (cc_[0] < top) {
        uint64_t m = origen_ + k * periodo + (uint64_t)cc_[0] * cpc;
        if (m <= t) m += periodo;
        if (cc_[0] == 0 && m == prox_ovf_) m = prox_ovf_;
        prox_mc0_ = m;
    }
}

void Tcc::atender(uint64_t ahora)
{
    while (prox_mc0_ <= ahora || prox_ovf_ <= ahora) {
        if (prox_mc0_ <= prox_ovf_) {
            intflag_ |= 1u << 16;  // MC0
            coincidencias_++;
            prox_mc0_ += tope() * ciclos_por_cuenta();
        } else {
            intflag_ |= 1u;  // OVF
            uint64_t t = prox_ovf_;
            // The period buffer goes into PER at the overflow (unless LUPD).
            if (perb_valido_ && !(ctrlb_ & 2)) {
                per_ = perb_;
                perb_valido_ = false;
                e_.tcc0_periodo(per_);
            }
            origen_ = t;
            programar();
        }
    }
}

uint32_t Tcc::leer(uint32_t r)
{
    switch (r) {
    case 0x00: return ctrla_;
    case 0x04: case 0x05: return ctrlb_;
    case 0x08: return e_.ahora() < ocupado_hasta_ ? 0x1FFu : 0u;
    case 0x0C: case 0x10: case 0x14: case 0x38: case 0x64: return 0;
    case 0x18: return drvctrl_;
    case 0x1E: return dbgctrl_;
    case 0x20: return evctrl_;
    case 0x24: case 0x28: return intenset_;
    case 0x2C: return intflag_;
    case 0x30: return (ctrla_ & 2) ? 0u : 1u;  // STOP
    case 0x34: return cuenta();
    case 0x3C: case 0x68: return wave_;
    case 0x40: return per_;
    case 0x6C: return perb_;
    case 0x44: case 0x48: case 0x4C: case 0x50: return cc_[(r - 0x44) / 4];
    case 0x70: case 0x74: case 0x78: case 0x7C: return cc_[(r - 0x70) / 4];
    default: break;
    }
    e_.parar("read of an unmodelled TCC0 register", BASE0 + r);
}

void Tcc::escribir(uint32_t r, uint32_t v, uint32_t m)
{
    uint64_t t = e_.ahora();
    bool habilitado = ctrla_ & 2;
    auto cuenta_actual = cuenta();
    auto reanclar = [&](uint32_t c) {
        uint64_t cpc = ciclos_por_cuenta();
        if ((ctrla_ & 2) && cpc) origen_ = t - std::min<uint64_t>(t, (uint64_t)c * cpc);
        else origen_ = c;
    };
    switch (r) {
    case 0x00: {
        if (t < ocupado_hasta_) e_.aviso_sincronizacion("TCC0.CTRLA");
        if (v & m & 1) {
            reiniciar(TipoReset::sistema);  // SWRST
            ocupado_hasta_ = t + 6;
            e_.tcc0_periodo(per_);
            return;
        }
        uint32_t nuevo = (ctrla_ & ~m) | (v & m);
        if (habilitado && ((nuevo ^ ctrla_) & ~2u)) { e_.escritura_protegida(); nuevo = (ctrla_ & ~2u) | (nuevo & 2u); }
        if ((nuevo >> 5) & 3) e_.parar("TCC0 dithering resolution not modelled", BASE0);
        ctrla_ = nuevo & ~1u;
        ocupado_hasta_ = t + 6;
        if (!habilitado && (nuevo & 2)) {
            reanclar((uint32_t)origen_);
        } else if (habilitado && !(nuevo & 2)) {
            origen_ = cuenta_actual;
        }
        programar();
        return;
    }
    case 0x04: case 0x05: {
        uint32_t bits = v & 0xFF;
        if (r == 0x04) { ctrlb_ &= ~(bits & 0x7); return; }  // CTRLBCLR
        if (bits & 0x5) e_.parar("TCC0 counting down or one-shot not modelled", BASE0 + r);
        ctrlb_ |= bits & 0x2;
        switch ((bits >> 5) & 7) {  // CMD
        case 1: reanclar(0); programar(); break;                              // RETRIGGER
        case 2: origen_ = cuenta_actual; ctrla_ &= ~2u; programar(); break;  // STOP
        default: break;                                                       // NONE, UPDATE, READSYNC
        }
        ocupado_hasta_ = t + 6;
        return;
    }
    case 0x08: case 0x30: return;
    case 0x0C: case 0x10: case 0x14: case 0x38: case 0x64:
        if (v & m) e_.parar("TCC0 faults, output matrix and patterns not modelled", BASE0 + r);
        return;
    case 0x18: drvctrl_ = v; return;
    case 0x1E: dbgctrl_ = v & 0xFF; return;
    case 0x20:
        if (v & m) e_.parar("TCC0 events not modelled", BASE0 + r);
        return;
    case 0x24: intenset_ &= ~(v & m); return;
    case 0x28:
        if (v & m & ~0x00010001u) e_.parar("TCC0 interrupt other than overflow and match 0 not modelled", BASE0 + r);
        intenset_ |= v & m;
        return;
    case 0x2C: intflag_ &= ~(v & m); return;
    case 0x34:
        if (t < ocupado_hasta_) e_.aviso_sincronizacion("TCC0.COUNT");
        reanclar((v & m) & 0xFFFFFF);
        programar();
        ocupado_hasta_ = t + 6;
        return;
    case 0x3C: case 0x68: {
        uint32_t w = (wave_ & ~m) | (v & m);
        if ((w & 7) > 2) e_.parar("TCC0 waveform other than NFRQ, MFRQ and NPWM not modelled", BASE0 + r);
        wave_ = w;
        programar();
        return;
    }
    case 0x40:
        if (t < ocupado_hasta_) e_.aviso_sincronizacion("TCC0.PER");
        per_ = ((per_ & ~m) | (v & m)) & 0xFFFFFF;
        reanclar(cuenta_actual);
        programar();
        ocupado_hasta_ = t + 6;
        e_.tcc0_periodo(per_);
        return;
    case 0x6C:
        perb_ = ((perb_ & ~m) | (v & m)) & 0xFFFFFF;
        perb_valido_ = true;
        if (!habilitado) { per_ = perb_; perb_valido_ = false; e_.tcc0_periodo(per_); }
        return;
    case 0x44: case 0x48: case 0x4C: case 0x50: case 0x70: case 0x74: case 0x78: case 0x7C: {
        int i = (int)(((r >= 0x70 ? r - 0x70 : r - 0x44)) / 4);
        if (r < 0x70 && t < ocupado_hasta_) e_.aviso_sincronizacion("TCC0.CC");
        cc_[i] = ((cc_[i] & ~m) | (v & m)) & 0xFFFFFF;
        if (i == 0) { reanclar(cuenta_actual); programar(); }
        ocupado_hasta_ = t + 6;
        return;
    }
    default: break;
    }
    e_.parar("write to an unmodelled TCC0 register", BASE0 + r);
}

}  // namespace samd21
