#include "sercom.h"

namespace samd21 {

void Sercom::reiniciar(TipoReset)
{
    uint64_t perdidos = perdidos_tx_;
    ctrla_ = ctrlb_ = baud_ = intenset_ = dbgctrl_ = addr_ = 0;
    rxpl_ = 0;
    status_ = 0;
    txc_ = rxs_ = error_ = false;
    ocupado_hasta_ = 0;
    dato_tx_lleno_ = false;
    dato_tx_ = 0;
    fin_tx_ = 0;
    tx_en_curso_ = false;
    rx_.clear();
    perdidos_tx_ = perdidos;
}

uint32_t Sercom::intflag() const
{
    if (!(ctrla_ & 2)) return 0;
    // DRE, TXC, RXC, RXS, ERROR
    return (dato_tx_lleno_ ? 0u : 1u) | (txc_ ? 2u : 0u) | (rx_.empty() ? 0u : 4u) | (rxs_ ? 8u : 0u) |
           (error_ ? 0x80u : 0u);
}

uint32_t Sercom::leer(uint32_t r)
{
    switch (r) {
    case 0x00: return ctrla_;
    case 0x04: return ctrlb_;
    case 0x0C: return baud_;
    case 0x0E: return rxpl_;
    case 0x14: case 0x16: return intenset_;
    case 0x18: return intflag();
    case 0x1A: return status_;
    case 0x1C: return e_.ahora() < ocupado_hasta_ ? (ctrla_ & 1 ? 1u : 2u) : 0u;  // SWRST, ENABLE
    case 0x24: return addr_;
    case 0x28: {
        if (rx_.empty()) return 0;
        uint16_t b = rx_.front();
        rx_.erase(rx_.begin());
        return b;
    }
    case 0x30: return dbgctrl_;
    default: break;
    }
    e_.parar("read of an unmodelled SERCOM register", BASE0 + PASO * n_ + r);
}

void Sercom::escribir(uint32_t r, uint32_t v, uint32_t m)
{
    uint64_t t = e_.ahora();
    bool habilitado = ctrla_ & 2;
    auto protegido = [&](uint32_t &reg) {
        if (habilitado) { e_.escritura_protegida(); return; }  // enable-protected: ignored while enabled
        reg = (reg & ~m) | (v & m);
    };
    switch (r) {
    case 0x00: {
        if (t < ocupado_hasta_ && ((v & m & 3) || habilitado)) e_.aviso_sincronizacion("SERCOM.CTRLA");
        if (v & 1) {
            reiniciar(TipoReset::sistema);  // SWRST: every register to its reset value
            ocupado_hasta_ = t + 6;
            ctrla_ = 1;
            return;
        }
        if (habilitado) {
            // Only ENABLE may change while enabled.
            if ((v & m & ~2u) != (ctrla_ & m & ~2u)) e_.escritura_protegida();
            ctrla_ = (ctrla_ & ~2u) | (v & 2u);
        } else {
            ctrla_ = (ctrla_ & ~m) | (v & m);
        }
        ctrla_ &= ~1u;
        if ((ctrla_ & 2) && !habilitado) {
            uint32_t modo = (ctrla_ >> 2) & 7;
            if (modo != MODO_USART_INTERNO && modo != MODO_SPI_MAESTRO)
                e_.parar("SERCOM mode " + std::to_string(modo) + " not modelled (USART with internal clock, SPI master)",
                         BASE0 + PASO * n_);
            if (hz_nucleo() <= 0) {
                // No core clock: the enable never synchronises, as on the chip.
                ocupado_hasta_ = NUNCA;
                e_.aviso("SERCOM" + std::to_string(n_) + " enabled without its GCLK core clock");
                return;
            }
        }
        // Only ENABLE (and SWRST) are write-synchronised in CTRLA.
        if ((ctrla_ & 2) != (habilitado ? 2u : 0u)) ocupado_hasta_ = t + 6;
        return;
    }
    case 0x04:
        if (habilitado && t < ocupado_hasta_) e_.aviso_sincronizacion("SERCOM.CTRLB");
        if (habilitado) {
            // RXEN may change while enabled (synchronised); the rest is protected.
            if ((v & m & ~(1u << 17)) != (ctrlb_ & m & ~(1u << 17))) e_.escritura_protegida();
            ctrlb_ = (ctrlb_ & ~(1u << 17)) | (v & (1u << 17));
            ocupado_hasta_ = t + 6;
        } else {
            ctrlb_ = (ctrlb_ & ~m) | (v & m);
        }
        return;
    case 0x0C: protegido(baud_); baud_ &= 0xFFFF; return;
    case 0x0E: if (!habilitado) rxpl_ = (uint8_t)v; return;
    case 0x14: intenset_ &= ~v; return;
    case 0x16:
        if (v & ~0x87u) e_.parar("SERCOM interrupt not modelled", BASE0 + PASO * n_ + r);
        intenset_ |= v;
        return;
    case 0x18:
        if (v & 2) txc_ = false;
        if (v & 8) rxs_ = false;
        if (v & 0x80) error_ = false;
        return;
    case 0x1A: status_ &= (uint16_t)~(v & 0x37); return;
    case 0x1C: return;
    case 0x24: addr_ = v; return;
    case 0x28:
        if (!habilitado) { perdidos_tx_++; return; }
        if (modo() == MODO_SPI_MAESTRO) spi_dato((uint8_t)v);
        else usart_dato((uint8_t)v);
        return;
    case 0x30: dbgctrl_ = v & 1; return;
    default: break;
    }
    e_.parar("write to an unmodelled SERCOM register", BASE0 + PASO * n_ + r);
}

}  // namespace samd21
