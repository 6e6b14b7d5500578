// The flash-emulated EEPROM on the chip: the copies of eeprom_copias.h in the
// four rows reserved at the end of flash (0x3FC00..0x3FFFF), programmed
// through the NVM controller's page buffer.
//
// While the flash is erased or programmed the CPU stalls on every fetch from
// flash, interrupts included: a commit (one row erase and three page writes)
// holds the board for a few milliseconds. The whole commit runs with
// interrupts off, so a commit of the tick cannot interleave with one of the
// main loop.
#include "../plataforma.h"
#include "eeprom_copias.h"
#include "nvic.h"
#include "nvmctrl.h"

using namespace samd21;

extern "C" uint8_t __EepromStart[];   // from the linker script
extern "C" uint8_t __EepromEnd[];

namespace {

void esperar_listo()
{
    while (!(NVMCTRL.INTFLAG & NVMCTRL_INTFLAG_READY)) {}
}

bool sin_error()
{
    bool ok = !(NVMCTRL.INTFLAG & NVMCTRL_INTFLAG_ERROR) && !(NVMCTRL.STATUS & NVMCTRL_STATUS_ERRORES);
    NVMCTRL.STATUS = NVMCTRL_STATUS_ERRORES;
    NVMCTRL.INTFLAG = NVMCTRL_INTFLAG_ERROR;
    return ok;
}

void orden(uint16_t comando, uintptr_t direccion)
{
    esperar_listo();
    NVMCTRL.STATUS = NVMCTRL_STATUS_ERRORES;
    NVMCTRL.INTFLAG = NVMCTRL_INTFLAG_ERROR;
    NVMCTRL.ADDR = (uint32_t)(direccion / 2u);   // 16-bit word address
    NVMCTRL.CTRLA = (uint16_t)(NVMCTRL_CMDEX | comando);
    esperar_listo();
}

class FlashChip : public FlashEeprom {
public:
    void leer(uint32_t desplazamiento, uint8_t *datos, size_t bytes) override
    {
        const volatile uint8_t *p = __EepromStart + desplazamiento;
        for (size_t i = 0; i < bytes; i++) datos[i] = p[i];
    }
    bool borrar_fila(uint32_t desplazamiento) override
    {
        orden(NVMCTRL_CMD_ER, (uintptr_t)(__EepromStart + desplazamiento));
        return sin_error();
    }
    bool escribir_pagina(uint32_t desplazamiento, const uint8_t *pagina) override
    {
        uintptr_t direccion = (uintptr_t)(__EepromStart + desplazamiento);
        orden(NVMCTRL_CMD_PBC, direccion);
        // The page buffer takes 32-bit writes at the page's own addresses.
        volatile uint32_t *destino = reinterpret_cast<volatile uint32_t *>(direccion);
        for (uint32_t i = 0; i < NVM_BYTES_PAGINA / 4; i++)
            destino[i] = (uint32_t)pagina[4 * i] | ((uint32_t)pagina[4 * i + 1] << 8) |
                         ((uint32_t)pagina[4 * i + 2] << 16) | ((uint32_t)pagina[4 * i + 3] << 24);
        orden(NVMCTRL_CMD_WP, direccion);
        return sin_error();
    }
};

FlashChip g_flash;
CopiasEeprom g_copias(g_flash, 4);
bool g_cargada = false;

void cargar()
{
    if (g_cargada) return;
    uint32_t p = primask_desactivar();
    if (!g_cargada) {
        g_copias.cargar();
        g_cargada = true;
    }
    primask_restaurar(p);
}

}  // namespace

EEPROMClass EEPROM;

uint8_t EEPROMClass::read(int direccion)
{
    cargar();
    return g_copias.leer(direccion);
}

void EEPROMClass::write(int direccion, uint8_t valor)
{
    cargar();
    g_copias.escribir(direccion, valor);
}

void EEPROMClass::commit()
{
    cargar();
    uint32_t p = primask_desactivar();
    g_copias.confirmar();
    primask_restaurar(p);
}

int EEPROMClass::length() const { return (int)CopiasEeprom::BYTES_IMAGEN; }

bool EEPROMClass::isValid()
{
    cargar();
    bool valida = g_copias.valida();
    Serial1.print("IsValid.  Inizializada: ");
    Serial1.println(valida ? 1 : 0);
    return valida;
}
