// SERCOM, the serial communication interfaces: six of them, each a USART
// (internal clock) or an SPI master here. This header holds what both modes
// share: CTRLA/CTRLB with their enable protection and synchronisation, BAUD,
// the interrupt flags and enables, STATUS, and the receive buffer. The modes'
// own behaviour is in sercom_usart.cpp (the transmitter's data and shift
// registers, the receiver) and sercom_spi.cpp (the byte exchange).
#ifndef SIMULADOR_SAMD21_SERCOM_H
#define SIMULADOR_SAMD21_SERCOM_H

#include <cstdint>
#include <vector>

#include "entorno.h"
#include "gclk.h"

namespace samd21 {

// The bit order reversed (DORD chooses which end of a byte goes first).
inline uint8_t invertir_bits(uint8_t b)
{
    b = (uint8_t)((b & 0xF0) >> 4 | (b & 0x0F) << 4);
    b = (uint8_t)((b & 0xCC) >> 2 | (b & 0x33) << 2);
    return (uint8_t)((b & 0xAA) >> 1 | (b & 0x55) << 1);
}

class Sercom {
public:
    static constexpr uint32_t BASE0 = 0x42000800u, PASO = 0x400;  // SERCOMn at BASE0 + n * PASO
    static constexpr int CANTIDAD = 6;
    // CTRLA.MODE
    static constexpr uint32_t MODO_USART_INTERNO = 1, MODO_SPI_MAESTRO = 3;

    Sercom(Entorno &e, const Gclk &gclk, int n) : e_(e), gclk_(gclk), n_(n) {}
    void reiniciar(TipoReset tipo);
    uint32_t leer(uint32_t reg);
    void escribir(uint32_t reg, uint32_t valor, uint32_t mascara);

    uint32_t ctrla() const { return ctrla_; }
    uint32_t ctrlb() const { return ctrlb_; }
    bool habilitado() const { return ctrla_ & 2; }
    uint32_t modo() const { return (ctrla_ >> 2) & 7; }
    // INTFLAG as it reads (0 while disabled), and the interrupt line to the NVIC.
    uint32_t intflag() const;
    bool irq() const { return (intflag() & intenset_) != 0; }
    // The core clock from its generic clock channel.
    double hz_nucleo() const { return gclk_.hz_periferico(Gclk::ID_SERCOM0 + n_); }
    // Bytes written to DATA that never went out (disabled, transmitter off, DRE low).
    uint64_t perdidos_tx() const { return perdidos_tx_; }

    // ---- USART (sercom_usart.cpp)
    // The baud rate BAUD and CTRLA.SAMPR give with the core clock (0: none).
    uint32_t usart_baudios() const;
    // The receiver takes bytes: enabled as a USART with CTRLB.RXEN.
    bool usart_escucha() const;
    // A byte arrives on RxD, as the line carried it (first bit in bit 0):
    // false when the buffer was full (STATUS.BUFOVF).
    bool usart_recibir(uint8_t linea);
    // The shift register's byte ends (its stop bit) at this cycle.
    bool usart_tx_en_curso() const { return tx_en_curso_; }
    uint64_t usart_fin_tx() const { return fin_tx_; }
    // The shift register finished a byte (or is idle): the next one starts.
    void usart_evento();

private:
    void usart_dato(uint8_t byte);
    // ---- SPI (sercom_spi.cpp)
    void spi_dato(uint8_t byte);

    Entorno &e_;
    const Gclk &gclk_;
    int n_;
    uint32_t ctrla_ = 0, ctrlb_ = 0, baud_ = 0, intenset_ = 0, dbgctrl_ = 0, addr_ = 0;
    uint8_t rxpl_ = 0;
    uint16_t status_ = 0;
    bool txc_ = false, rxs_ = false, error_ = false;
    uint64_t ocupado_hasta_ = 0;
    // USART transmitter: the data register and the shift register.
    bool dato_tx_lleno_ = false;
    uint8_t dato_tx_ = 0;
    uint64_t fin_tx_ = 0;
    bool tx_en_curso_ = false;
    // receiver: the two-level buffer and the shift register
    std::vector<uint16_t> rx_;
    uint64_t perdidos_tx_ = 0;
};

}  // namespace samd21

#endif
