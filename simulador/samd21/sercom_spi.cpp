#include "sercom_spi.h"

#include "sercom.h"

namespace samd21 {

void Sercom::spi_dato(uint8_t byte)
{
    bool lsb = ctrla_ & (1u << 30);  // DORD
    uint8_t salida = lsb ? invertir_bits(byte) : byte;
    uint8_t entrada = e_.spi_intercambiar(n_, ctrla_, salida);
    if (lsb) entrada = invertir_bits(entrada);
    if (ctrlb_ & (1u << 17)) {  // RXEN
        if (rx_.size() >= 2) {
            status_ |= 4;  // BUFOVF
            error_ = true;
        } else {
            rx_.push_back(entrada);
        }
    }
    txc_ = true;
}

}  // namespace samd21
