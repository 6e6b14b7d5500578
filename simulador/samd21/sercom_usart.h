// SERCOM as a USART with the internal clock: the baud-rate arithmetic of
// BAUD under each CTRLA.SAMPR (arithmetic with 16, 8 or 3 samples a bit, or
// fractional with 16 or 8), and the frame format. The transmitter and the
// receiver are Sercom's usart_* members (sercom.h), in sercom_usart.cpp.
#ifndef SIMULADOR_SAMD21_SERCOM_USART_H
#define SIMULADOR_SAMD21_SERCOM_USART_H

#include <cstdint>

namespace samd21 {

// The baud rate a USART runs at from its core clock `fref`, rounded to the
// nearest integer (0: none).
uint32_t baudios_usart(double fref, int sampr, uint32_t baud);

// CTRLA and CTRLB set 8 data bits, no parity, one stop bit.
bool formato_8n1(uint32_t ctrla, uint32_t ctrlb);

}  // namespace samd21

#endif
