// The layout a new card comes with: a master boot record with one primary
// partition and a FAT16 file system (standard capacity) or FAT32 (high
// capacity, above 2 GB), aligned as the card makers do it.
#ifndef PLATAFORMA_SD_FORMATO_NUEVO_H
#define PLATAFORMA_SD_FORMATO_NUEVO_H

#include <stdint.h>

typedef bool (*EscribirBloqueSd)(void *contexto, uint32_t bloque, const uint8_t *datos);

// Writes the boot record, the boot sector(s), FSInfo and the first FAT blocks
// of both FATs. The card must be erased (all zero) before: the rest of the
// FATs and the root directory are left as they are.
// bloques_por_cluster 0 chooses it from the size; a smaller value makes test
// volumes with more clusters. False when the size does not fit the type.
bool sd_formatear_tarjeta_nueva(uint32_t bloques, bool alta_capacidad, uint8_t bloques_por_cluster,
                                uint32_t numero_serie, EscribirBloqueSd escribir, void *contexto);

#endif
