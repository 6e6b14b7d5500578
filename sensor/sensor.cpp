#include "sensor.h"

#include "../declaraciones/declaraciones.h"

// The sensor burst is not decoded yet: it is received and left alone.
void procesamos_trama_rx_sensor() {}
