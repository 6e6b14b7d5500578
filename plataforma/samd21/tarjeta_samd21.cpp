// The SD card's block device (plataforma/sd/bloques_sd.h) on the chip.
#include "../sd/bloques_sd.h"

bool sd_bloques_iniciar(uint32_t *insercion)
{
    *insercion = 0;
    return false;
}
uint32_t sd_bloques_cantidad(uint32_t) { return 0; }
bool sd_bloques_leer(uint32_t, uint32_t, uint8_t *) { return false; }
bool sd_bloques_escribir(uint32_t, uint32_t, const uint8_t *) { return false; }
bool sd_bloques_borrar(uint32_t, uint32_t, uint32_t) { return false; }
