#include "sercom_usart.h"

#include <cmath>

#include "sercom.h"

namespace samd21 {

uint32_t baudios_usart(double fref, int sampr, uint32_t baud)
{
    if (fref <= 0) return 0;
    double f = 0;
    switch (sampr) {
    // Arithmetic: f = fref / S * (1 - BAUD / 65536), S samples a bit.
    case 0: f = fref / 16.0 * (1.0 - baud / 65536.0); break;
    case 2: f = fref / 8.0 * (1.0 - baud / 65536.0); break;
    case 4: f = fref / 3.0 * (1.0 - baud / 65536.0); break;
    // Fractional: f = fref / (S * (BAUD.BAUD + BAUD.FP / 8)).
    case 1: case 3: {
        double ent = (double)(baud & 0x1FFF) + (double)((baud >> 13) & 7) / 8.0;
        f = ent > 0 ? fref / ((sampr == 1 ? 16.0 : 8.0) * ent) : 0;
        break;
    }
    default: f = 0;
    }
    return f > 0 ? (uint32_t)std::llround(f) : 0;
}

bool formato_8n1(uint32_t ctrla, uint32_t ctrlb)
{
    // CTRLB.CHSIZE 0 (8 bits), CTRLA.FORM 0 (no parity), CTRLB.SBMODE 0 (one stop bit).
    return (ctrlb & 7) == 0 && ((ctrla >> 24) & 0xF) == 0 && !(ctrlb & (1u << 6));
}

uint32_t Sercom::usart_baudios() const
{
    return baudios_usart(hz_nucleo(), (int)((ctrla_ >> 13) & 7), baud_);
}

bool Sercom::usart_escucha() const
{
    return (ctrla_ & 2) && modo() == MODO_USART_INTERNO && (ctrlb_ & (1u << 17));
}

bool Sercom::usart_recibir(uint8_t linea)
{
    uint8_t leido = (ctrla_ & (1u << 30)) ? linea : invertir_bits(linea);
    // Two-level receive buffer, and the shift register holding a third.
    if (rx_.size() >= 3) {
        status_ |= 4;  // BUFOVF
        error_ = true;
        return false;
    }
    rx_.push_back(leido);
    return true;
}

void Sercom::usart_dato(uint8_t byte)
{
    if (!(ctrlb_ & (1u << 16))) { perdidos_tx_++; return; }  // TXEN
    if (!tx_en_curso_) {
        dato_tx_ = byte;
        dato_tx_lleno_ = true;
        usart_evento();
    } else if (!dato_tx_lleno_) {
        dato_tx_ = byte;
        dato_tx_lleno_ = true;
    } else {
        perdidos_tx_++;  // DATA written while DRE was low: the byte is lost
    }
    txc_ = false;
}

void Sercom::usart_evento()
{
    if (!dato_tx_lleno_) {
        tx_en_curso_ = false;
        txc_ = true;
        return;
    }
    uint8_t byte = dato_tx_;
    dato_tx_lleno_ = false;
    uint32_t baudios = usart_baudios();
    if (!(ctrla_ & (1u << 30))) byte = invertir_bits(byte);  // DORD = 0: most significant bit first
    tx_en_curso_ = true;
    if (baudios == 0) {
        fin_tx_ = NUNCA;  // no clock: the shift register stands
        return;
    }
    fin_tx_ = e_.usart_transmitir(n_, byte, baudios);
}

}  // namespace samd21
