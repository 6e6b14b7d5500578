// The fuses of the NVM user row (its first 64 bits), as the chip loads them
// into its peripherals at a reset: the watchdog's CTRL, CONFIG and EWCTRL,
// BOD33's level and action, and BOOTPROT, the boot section the application
// cannot erase or write.
#ifndef SIMULADOR_SAMD21_FUSIBLES_H
#define SIMULADOR_SAMD21_FUSIBLES_H

#include <cstdint>

namespace samd21 {

struct Fusibles {
    uint8_t bootprot = 7;        // bits 2:0
    uint8_t eeprom = 7;          // bits 6:4
    uint8_t bod33_nivel = 7;     // bits 13:8
    bool bod33_activo = true;    // bit 14
    uint8_t bod33_accion = 1;    // bits 16:15: 0 none, 1 reset, 2 interrupt
    bool wdt_activo = false;     // bit 25: WDT.CTRL.ENABLE
    bool wdt_siempre = false;    // bit 26: WDT.CTRL.ALWAYSON
    uint8_t wdt_periodo = 0xB;   // bits 30:27: WDT.CONFIG.PER
    uint8_t wdt_ventana = 0xB;   // bits 34:31: WDT.CONFIG.WINDOW
    uint8_t wdt_aviso = 0xB;     // bits 38:35: WDT.EWCTRL.EWOFFSET
    bool wdt_ventana_activa = false;  // bit 39: WDT.CTRL.WEN
    bool bod33_histeresis = false;    // bit 40
    uint16_t bloqueos = 0xFFFF;       // bits 63:48: region locks, 1 unlocked

    // The watchdog's registers as a reset loads them.
    uint8_t wdt_ctrl() const
    {
        return (uint8_t)((wdt_activo ? 0x02 : 0) | (wdt_ventana_activa ? 0x04 : 0) | (wdt_siempre ? 0x80 : 0));
    }
    uint8_t wdt_config() const { return (uint8_t)((wdt_ventana << 4) | wdt_periodo); }
    uint8_t wdt_ewctrl() const { return wdt_aviso; }
    // Bytes of flash from address 0 under BOOTPROT: 0x7 none, 0x6 512 ...
    // 0x0 32 kB (the size doubles from 0x6 down).
    uint32_t bytes_protegidos() const { return bootprot >= 7 ? 0u : 512u << (6 - bootprot); }
};

Fusibles fusibles_de(uint32_t palabra0, uint32_t palabra1);

}  // namespace samd21

#endif
