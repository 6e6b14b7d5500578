// The block device under the SD library: 512-byte blocks of the card in the
// slot. On the board these are the SPI commands of the card; on the host they
// reach the card image of plataforma/host/tarjeta_host.h.
//
// A card that was removed and put back must be started again: every call
// carries the insertion number that sd_bloques_iniciar returned, and fails
// when the card in the slot is no longer that one.
#ifndef PLATAFORMA_SD_BLOQUES_SD_H
#define PLATAFORMA_SD_BLOQUES_SD_H

#include <stdint.h>

constexpr uint32_t SD_BYTES_BLOQUE = 512;

// Starts the card: false without a card. *insercion receives the card's insertion number.
bool sd_bloques_iniciar(uint32_t *insercion);
// Size of the card in blocks (0 without a card).
uint32_t sd_bloques_cantidad(uint32_t insercion);
bool sd_bloques_leer(uint32_t insercion, uint32_t bloque, uint8_t *datos);
bool sd_bloques_escribir(uint32_t insercion, uint32_t bloque, const uint8_t *datos);
// Erased blocks read back as 0x00.
bool sd_bloques_borrar(uint32_t insercion, uint32_t primero, uint32_t ultimo);

#endif
