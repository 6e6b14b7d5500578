// I/O pin controller (PORT), base 0x41004400, one group of registers per
// port (PA, PB) every 0x80 bytes.
#ifndef PLATAFORMA_SAMD21_PORT_H
#define PLATAFORMA_SAMD21_PORT_H

#include "registro.h"

namespace samd21 {

struct PortGrupo {
    R32 DIR;             // 0x00
    R32 DIRCLR;          // 0x04
    R32 DIRSET;          // 0x08
    R32 DIRTGL;          // 0x0C
    R32 OUT;             // 0x10
    R32 OUTCLR;          // 0x14
    R32 OUTSET;          // 0x18
    R32 OUTTGL;          // 0x1C
    R32 IN;              // 0x20
    R32 CTRL;            // 0x24
    R32 WRCONFIG;        // 0x28
    uint8_t reservado0[4];
    R8 PMUX[16];         // 0x30: even pin in bits 3:0, odd pin in bits 7:4
    R8 PINCFG[32];       // 0x40: PMUXEN bit 0, INEN bit 1, PULLEN bit 2
    uint8_t reservado1[32];
};
static_assert(offsetof(PortGrupo, IN) == 0x20, "PORT layout");
static_assert(offsetof(PortGrupo, PMUX) == 0x30, "PORT layout");
static_assert(offsetof(PortGrupo, PINCFG) == 0x40, "PORT layout");
static_assert(sizeof(PortGrupo) == 0x80, "PORT layout");

constexpr uint8_t PORT_PINCFG_PMUXEN = 1u << 0;
constexpr uint8_t PORT_PINCFG_INEN = 1u << 1;
constexpr uint8_t PORT_PINCFG_PULLEN = 1u << 2;

inline PortGrupo &port_grupo(uint8_t grupo)
{
    return reinterpret_cast<PortGrupo *>(uintptr_t(0x41004400))[grupo];
}

}  // namespace samd21

#endif
