// Timer/counter for control applications (TCC0), base 0x42002000.
#ifndef PLATAFORMA_SAMD21_TCC_H
#define PLATAFORMA_SAMD21_TCC_H

#include "registro.h"

namespace samd21 {

struct Tcc {
    R32 CTRLA;           // 0x00: SWRST 0, ENABLE 1, PRESCALER 10:8
    R8 CTRLBCLR;         // 0x04
    R8 CTRLBSET;         // 0x05
    uint8_t reservado0[2];
    R32 SYNCBUSY;        // 0x08
    uint8_t reservado1[0x24 - 0x0C];
    R32 INTENCLR;        // 0x24
    R32 INTENSET;        // 0x28
    R32 INTFLAG;         // 0x2C
    R32 STATUS;          // 0x30
    R32 COUNT;           // 0x34
    R16 PATT;            // 0x38
    uint8_t reservado2[2];
    R32 WAVE;            // 0x3C
    R32 PER;             // 0x40
    R32 CC0;             // 0x44
};
static_assert(offsetof(Tcc, SYNCBUSY) == 0x08, "TCC layout");
static_assert(offsetof(Tcc, INTENSET) == 0x28, "TCC layout");
static_assert(offsetof(Tcc, WAVE) == 0x3C, "TCC layout");
static_assert(offsetof(Tcc, CC0) == 0x44, "TCC layout");

constexpr uint32_t TCC_CTRLA_SWRST = 1u << 0;
constexpr uint32_t TCC_CTRLA_ENABLE = 1u << 1;
constexpr uint32_t TCC_CTRLA_PRESCALER_POS = 8;
constexpr uint32_t TCC_CTRLA_PRESCALER_MASCARA = 7u << TCC_CTRLA_PRESCALER_POS;
constexpr uint32_t TCC_SYNCBUSY_SWRST = 1u << 0;
constexpr uint32_t TCC_SYNCBUSY_ENABLE = 1u << 1;
constexpr uint32_t TCC_SYNCBUSY_WAVE = 1u << 6;
constexpr uint32_t TCC_SYNCBUSY_PER = 1u << 7;
constexpr uint32_t TCC_SYNCBUSY_CC0 = 1u << 8;
constexpr uint32_t TCC_INT_MC0 = 1u << 16;

constexpr uint8_t IRQ_TCC0 = 15;

#define TCC0 SAMD21_PERIFERICO(samd21::Tcc, 0x42002000)

}  // namespace samd21

#endif
