#include "modulo_gps.h"

#include "../declaraciones/declaraciones.h"

// Not built yet: the receiver is not configured and its bursts are not parsed.
void rutina_configuracion_gps() {}
void procesamos_trama_rx_gps() {}
