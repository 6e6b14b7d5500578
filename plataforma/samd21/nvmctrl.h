// Non-volatile memory controller (NVMCTRL), base 0x41004000.
#ifndef PLATAFORMA_SAMD21_NVMCTRL_H
#define PLATAFORMA_SAMD21_NVMCTRL_H

#include "registro.h"

namespace samd21 {

struct Nvmctrl {
    R16 CTRLA;           // 0x00: CMD 6:0, CMDEX 15:8
    uint8_t reservado0[2];
    R32 CTRLB;           // 0x04: RWS 4:1, MANW 7, CACHEDIS 18
    R32 PARAM;           // 0x08
    R8 INTENCLR;         // 0x0C
    uint8_t reservado1[3];
    R8 INTENSET;         // 0x10
    uint8_t reservado2[3];
    R8 INTFLAG;          // 0x14: READY bit 0, ERROR bit 1
    uint8_t reservado3[3];
    R16 STATUS;          // 0x18: PRM 0, LOAD 1, PROGE 2, LOCKE 3, NVME 4, SB 8
    uint8_t reservado4[2];
    R32 ADDR;            // 0x1C: 16-bit word address of the command
};
static_assert(offsetof(Nvmctrl, CTRLB) == 0x04, "NVMCTRL layout");
static_assert(offsetof(Nvmctrl, INTFLAG) == 0x14, "NVMCTRL layout");
static_assert(offsetof(Nvmctrl, STATUS) == 0x18, "NVMCTRL layout");
static_assert(offsetof(Nvmctrl, ADDR) == 0x1C, "NVMCTRL layout");

constexpr uint32_t NVMCTRL_CTRLB_RWS_POS = 1;
constexpr uint32_t NVMCTRL_CTRLB_MANW = 1u << 7;
constexpr uint8_t NVMCTRL_INTFLAG_READY = 1u << 0;
constexpr uint8_t NVMCTRL_INTFLAG_ERROR = 1u << 1;
constexpr uint16_t NVMCTRL_STATUS_ERRORES = 0x001C;   // PROGE, LOCKE, NVME (write 1 to clear)
constexpr uint16_t NVMCTRL_CMDEX = 0xA500;
constexpr uint16_t NVMCTRL_CMD_ER = 0x02;    // erase row
constexpr uint16_t NVMCTRL_CMD_WP = 0x04;    // write page
constexpr uint16_t NVMCTRL_CMD_PBC = 0x44;   // page buffer clear

constexpr uint32_t NVM_BYTES_PAGINA = 64;
constexpr uint32_t NVM_BYTES_FILA = 256;
constexpr uintptr_t NVM_FILA_USUARIO = 0x00804000;

#define NVMCTRL SAMD21_PERIFERICO(samd21::Nvmctrl, 0x41004000)

}  // namespace samd21

#endif
