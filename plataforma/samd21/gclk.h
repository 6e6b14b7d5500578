// Generic clock controller (GCLK), base 0x40000C00.
#ifndef PLATAFORMA_SAMD21_GCLK_H
#define PLATAFORMA_SAMD21_GCLK_H

#include "registro.h"

namespace samd21 {

struct Gclk {
    R8 CTRL;             // 0x00
    R8 STATUS;           // 0x01: SYNCBUSY bit 7
    R16 CLKCTRL;         // 0x02: ID 5:0, GEN 11:8, CLKEN 14
    R32 GENCTRL;         // 0x04: ID 3:0, SRC 12:8, GENEN 16, IDC 17, DIVSEL 20
    R32 GENDIV;          // 0x08: ID 3:0, DIV 23:8
};
static_assert(offsetof(Gclk, CLKCTRL) == 0x02, "GCLK layout");
static_assert(offsetof(Gclk, GENDIV) == 0x08, "GCLK layout");

constexpr uint8_t GCLK_STATUS_SYNCBUSY = 1u << 7;
constexpr uint16_t GCLK_CLKCTRL_CLKEN = 1u << 14;
constexpr uint32_t GCLK_CLKCTRL_GEN_POS = 8;
constexpr uint32_t GCLK_GENCTRL_SRC_POS = 8;
constexpr uint32_t GCLK_GENCTRL_GENEN = 1u << 16;
constexpr uint32_t GCLK_GENCTRL_IDC = 1u << 17;
constexpr uint32_t GCLK_GENCTRL_DIVSEL = 1u << 20;
constexpr uint32_t GCLK_GENDIV_DIV_POS = 8;

// Clock sources of a generator.
constexpr uint32_t GCLK_SRC_OSCULP32K = 3;
constexpr uint32_t GCLK_SRC_DFLL48M = 7;

// Peripheral channels (CLKCTRL.ID).
constexpr uint16_t GCLK_ID_WDT = 0x03;
constexpr uint16_t GCLK_ID_SERCOM0_CORE = 0x14;   // SERCOMn core is 0x14 + n
constexpr uint16_t GCLK_ID_TCC0_TCC1 = 0x1A;

#define GCLK SAMD21_PERIFERICO(samd21::Gclk, 0x40000C00)

}  // namespace samd21

#endif
