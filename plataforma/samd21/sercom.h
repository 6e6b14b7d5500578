// Serial communication interfaces (SERCOM0..5), base 0x42000800 + 0x400 * n,
// in USART mode (the serial ports) and SPI master mode (the SD card).
#ifndef PLATAFORMA_SAMD21_SERCOM_H
#define PLATAFORMA_SAMD21_SERCOM_H

#include "registro.h"

namespace samd21 {

// The register layout is the same in both modes, but for the width of BAUD.
struct Sercom {
    R32 CTRLA;           // 0x00
    R32 CTRLB;           // 0x04
    uint8_t reservado0[4];
    union {
        R16 BAUD;        // 0x0C: USART, 16 bits
        R8 BAUD_SPI;     // 0x0C: SPI, 8 bits
    };
    uint8_t reservado1[6];
    R8 INTENCLR;         // 0x14
    uint8_t reservado2;
    R8 INTENSET;         // 0x16
    uint8_t reservado3;
    R8 INTFLAG;          // 0x18
    uint8_t reservado4;
    R16 STATUS;          // 0x1A
    R32 SYNCBUSY;        // 0x1C
    uint8_t reservado5[8];
    R16 DATA;            // 0x28 (SPI: 9 bits, USART: 9 bits)
};
static_assert(offsetof(Sercom, BAUD) == 0x0C, "SERCOM layout");
static_assert(offsetof(Sercom, INTENSET) == 0x16, "SERCOM layout");
static_assert(offsetof(Sercom, INTFLAG) == 0x18, "SERCOM layout");
static_assert(offsetof(Sercom, SYNCBUSY) == 0x1C, "SERCOM layout");
static_assert(offsetof(Sercom, DATA) == 0x28, "SERCOM layout");

// CTRLA, both modes.
constexpr uint32_t SERCOM_CTRLA_SWRST = 1u << 0;
constexpr uint32_t SERCOM_CTRLA_ENABLE = 1u << 1;
constexpr uint32_t SERCOM_CTRLA_MODE_POS = 2;
constexpr uint32_t SERCOM_MODE_USART_INTERNO = 1;
constexpr uint32_t SERCOM_MODE_SPI_MAESTRO = 3;
constexpr uint32_t SERCOM_CTRLA_DORD = 1u << 30;         // USART: 1 = LSB first
// USART CTRLA.
constexpr uint32_t SERCOM_USART_CTRLA_SAMPR_POS = 13;    // 0 = 16x, arithmetic
constexpr uint32_t SERCOM_USART_CTRLA_TXPO_POS = 16;     // 0: TxD on PAD0, 1: TxD on PAD2
constexpr uint32_t SERCOM_USART_CTRLA_RXPO_POS = 20;     // RxD on PADn
// SPI CTRLA.
constexpr uint32_t SERCOM_SPI_CTRLA_DOPO_POS = 16;       // 0: DO PAD0, SCK PAD1
constexpr uint32_t SERCOM_SPI_CTRLA_DIPO_POS = 20;       // DI on PADn
// CTRLB, both modes: CHSIZE 2:0 = 0 (8 bits), RXEN; USART also TXEN.
constexpr uint32_t SERCOM_CTRLB_TXEN = 1u << 16;
constexpr uint32_t SERCOM_CTRLB_RXEN = 1u << 17;
// INTFLAG / INTENSET / INTENCLR.
constexpr uint8_t SERCOM_INT_DRE = 1u << 0;
constexpr uint8_t SERCOM_INT_TXC = 1u << 1;
constexpr uint8_t SERCOM_INT_RXC = 1u << 2;
constexpr uint8_t SERCOM_INT_ERROR = 1u << 7;
// USART STATUS: PERR 0, FERR 1, BUFOVF 2 (write 1 to clear).
constexpr uint16_t SERCOM_USART_STATUS_ERRORES = 0x0007;
constexpr uint16_t SERCOM_USART_STATUS_BUFOVF = 1u << 2;
// SYNCBUSY.
constexpr uint32_t SERCOM_SYNCBUSY_SWRST = 1u << 0;
constexpr uint32_t SERCOM_SYNCBUSY_ENABLE = 1u << 1;
constexpr uint32_t SERCOM_SYNCBUSY_CTRLB = 1u << 2;

inline Sercom &sercom(uint8_t n) { return *reinterpret_cast<Sercom *>(uintptr_t(0x42000800u + 0x400u * n)); }
// Interrupt line of SERCOMn.
constexpr uint8_t IRQ_SERCOM0 = 9;

}  // namespace samd21

#endif
