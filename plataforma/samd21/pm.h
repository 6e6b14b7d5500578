// Power manager (PM), base 0x40000400: bus clock masks and the reset cause.
#ifndef PLATAFORMA_SAMD21_PM_H
#define PLATAFORMA_SAMD21_PM_H

#include "registro.h"

namespace samd21 {

struct Pm {
    R8 CTRL;             // 0x00
    R8 SLEEP;            // 0x01: IDLE field 1:0
    uint8_t reservado0[6];
    R8 CPUSEL;           // 0x08
    R8 APBASEL;          // 0x09
    R8 APBBSEL;          // 0x0A
    R8 APBCSEL;          // 0x0B
    uint8_t reservado1[8];
    R32 AHBMASK;         // 0x14
    R32 APBAMASK;        // 0x18
    R32 APBBMASK;        // 0x1C
    R32 APBCMASK;        // 0x20
    uint8_t reservado2[20];
    R8 RCAUSE;           // 0x38
};
static_assert(offsetof(Pm, APBCMASK) == 0x20, "PM layout");
static_assert(offsetof(Pm, RCAUSE) == 0x38, "PM layout");

constexpr uint32_t PM_APBCMASK_SERCOM0 = 1u << 2;   // SERCOMn is bit 2 + n
constexpr uint32_t PM_APBCMASK_TCC0 = 1u << 8;

#define PM SAMD21_PERIFERICO(samd21::Pm, 0x40000400)

}  // namespace samd21

#endif
