// Motion-sensor frames: burst scan, length and CRC checks.
#ifndef SENSOR_SENSOR_H
#define SENSOR_SENSOR_H

#include <stdint.h>

// Log identifiers of class 0 that the buoy uses.
#define SBG_ECOM_LOG_EKF_EULER 6
#define SBG_ECOM_LOG_EKF_NAV 8
#define SBG_ECOM_LOG_SHIP_MOTION 9

// Offset of the end byte of each log's frame (frame length - 1).
#define FIN_TRAMA_SHIP_MOTION 54
#define FIN_TRAMA_EKF_NAV 80
#define FIN_TRAMA_EKF_EULER 40

#define TAM_TRAMA_PROCESADA 256

extern uint8_t cprocesada[TAM_TRAMA_PROCESADA];

uint16_t calcCRC(const void *pBuffer, uint16_t bufferSize, uint16_t iposicion_inicio);
uint32_t ibusqueda_dato_frame(uint8_t *pctrama, uint8_t cdato, uint8_t cveces_a_encontrar, uint32_t iposicion_inicio);
uint32_t busqueda_inicio_trama_sensor(uint32_t iposicion);
void procesamos_trama_rx_sensor();

#endif
