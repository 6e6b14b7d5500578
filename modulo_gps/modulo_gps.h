// GPS receiver: configuration of the u-blox receiver on Serial3, and parsing of
// its NMEA bursts into time, date, quality and position.
#ifndef MODULO_GPS_MODULO_GPS_H
#define MODULO_GPS_MODULO_GPS_H

#include <stdint.h>

// ---------------------------------------------------------------- receiver fields
// Satellites in use (GGA).
extern uint8_t csatelites;
// Position of the last GGA; hemisphere 'N'/'S', 'E'/'W', or 0 when absent.
extern uint8_t cgrados_latitud_gps, cminutos_latitud_gps;
extern uint32_t idiez_milesimas_minutos_latitud_gps;
extern uint8_t cnorte_sur_gps;
extern uint8_t cgrados_longitud_gps, cminutos_longitud_gps;
extern uint32_t idiez_milesimas_minutos_longitud_gps;
extern uint8_t ceste_oeste_gps;
// Dilutions of precision, integer part, 99 also for no value (GSA).
extern uint8_t cpdop, chdop, cvdop;

// ---------------------------------------------------------------- position in use
// Taken over at each accepted fix; the hemisphere characters are always a
// letter (they keep the last known one when a fix came without position).
extern uint8_t cgrados_latitud, cminutos_latitud;
extern uint32_t idiez_milesimas_minutos_latitud;
extern uint8_t cnorte_sur;
extern uint8_t cgrados_longitud, cminutos_longitud;
extern uint32_t idiez_milesimas_minutos_longitud;
extern uint8_t ceste_oeste;

// Accepted fixes since start-up (the daily review sets it to 2 at a new day).
extern uint8_t CONT_TRAMAS_GPS;

// Number of bytes actually held in the buffer that the field helpers below
// read: they never look at a position at or beyond it. The burst processing
// sets it to the bytes of the GPS burst; any other caller (the command parser
// of the telemetry link) sets it to the count of its own buffer first.
extern uint32_t ibytes_trama_nmea;

// ---------------------------------------------------------------- configuration
void rutina_configuracion_gps();
// One CFG-MSG (class in bits 15..8, id in bits 7..0 of itipo_trama) repeated
// until acknowledged, at most 20 times.
void envio_comando_a_gps(uint32_t itipo_trama, uint8_t ccada_segundos);
// Drops pending input, then writes the text and CR LF on the GPS port.
void envio_frame_a_gps(const char *pframe);

// ---------------------------------------------------------------- field helpers
uint8_t desconversion_ascii(uint8_t c);
uint32_t ibusqueda_dato_gps(char *pctrama, uint8_t cdato, uint8_t cveces_a_encontrar, uint32_t iposicion);
uint32_t busqueda_campo(uint8_t ccampo_buscado, char *pctrama, uint32_t iposicion_inicial, uint32_t iposicion_final);
uint32_t conversion_ascii_decimal(uint32_t iposicion_mas_significativa, uint8_t ccantidad, char *pctrama);
uint32_t extraccion_dato_nmea(uint8_t ccampo, char *pctrama, uint32_t ini, uint32_t fin, uint8_t *pcvacio);
uint8_t comprobacion_checksum_nmea(char *pctrama, uint32_t iposicion_inicio, uint32_t iposicion_final);

// Processes the ibytes_recibidos_trama_gps bytes of one burst in ctrama_rx_gps.
void procesamos_trama_rx_gps();

#endif
