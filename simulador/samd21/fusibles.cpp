#include "fusibles.h"

namespace samd21 {

Fusibles fusibles_de(uint32_t p0, uint32_t p1)
{
    uint64_t f = (uint64_t)p1 << 32 | p0;
    auto campo = [f](int desde, int bits) { return (uint32_t)((f >> desde) & ((1ull << bits) - 1)); };
    Fusibles r;
    r.bootprot = (uint8_t)campo(0, 3);
    r.eeprom = (uint8_t)campo(4, 3);
    r.bod33_nivel = (uint8_t)campo(8, 6);
    r.bod33_activo = campo(14, 1);
    r.bod33_accion = (uint8_t)campo(15, 2);
    r.wdt_activo = campo(25, 1);
    r.wdt_siempre = campo(26, 1);
    r.wdt_periodo = (uint8_t)campo(27, 4);
    r.wdt_ventana = (uint8_t)campo(31, 4);
    r.wdt_aviso = (uint8_t)campo(35, 4);
    r.wdt_ventana_activa = campo(39, 1);
    r.bod33_histeresis = campo(40, 1);
    r.bloqueos = (uint16_t)campo(48, 16);
    return r;
}

}  // namespace samd21
