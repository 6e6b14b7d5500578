// SERCOM as an SPI master: a byte written to DATA goes out on the data-out
// pad while one comes in on the data-in pad, at once; CTRLA.DORD chooses the
// bit order and CTRLB.RXEN whether the received byte enters the buffer. The
// exchange is Sercom's spi_dato (sercom.h), in sercom_spi.cpp; what drives the
// data-in pad is the board's (the card, through Entorno::spi_intercambiar).
#ifndef SIMULADOR_SAMD21_SERCOM_SPI_H
#define SIMULADOR_SAMD21_SERCOM_SPI_H

#include <cstdint>

namespace samd21 {

// CTRLA's pad choice of the data out (DOPO: 0 puts MOSI on PAD0, SCK on
// PAD1) and of the data in (DIPO: the pad of MISO).
inline int spi_dopo(uint32_t ctrla) { return (int)((ctrla >> 16) & 3); }
inline int spi_dipo(uint32_t ctrla) { return (int)((ctrla >> 20) & 3); }
// SPI mode 0: CPOL = 0 and CPHA = 0, the mode an SD card answers in.
inline bool spi_modo0(uint32_t ctrla) { return !(ctrla & (3u << 28)); }

}  // namespace samd21

#endif
