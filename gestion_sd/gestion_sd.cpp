#include "gestion_sd.h"

#include "../declaraciones/declaraciones.h"

// Not built yet: there is no card; nothing is started, created or written.
void inicializacion_sd() {}
void creacion_nuevo_directorio() {}
void creacion_nuevo_fichero(uint8_t ctipo) { (void)ctipo; }
void cierre_fichero_intervalo(uint8_t ctipo) { (void)ctipo; }
void escritura_registro_fichero(uint8_t ctipo) { (void)ctipo; }
