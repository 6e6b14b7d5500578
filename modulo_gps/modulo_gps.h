// GPS receiver: configuration and NMEA parsing.
#ifndef MODULO_GPS_MODULO_GPS_H
#define MODULO_GPS_MODULO_GPS_H

#include <stdint.h>

void rutina_configuracion_gps();
// Processes the ibytes_recibidos_trama_gps bytes of one burst in ctrama_rx_gps.
void procesamos_trama_rx_gps();

#endif
