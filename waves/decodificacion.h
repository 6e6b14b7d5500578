// Decoding of the sensor's three logs and assembly of the samples.
#ifndef WAVES_DECODIFICACION_H
#define WAVES_DECODIFICACION_H

#include <stdint.h>

#define DATA_START 6
#define SBG_ECOM_CLASS_LOG_ECOM_0 0

void ProcesarTramaBinaria(uint8_t *trama, uint8_t clongitud_trama);
uint8_t ProcesarTramaShipMotion(uint8_t *trama, int32_t *TimeStampOut, float *HeaveOut, uint8_t clongitud_trama);
uint8_t ProcesarTrama_Navegacion_Posicion_Velocidad(uint8_t *trama, int32_t *TimeStampOut, float *VNorte,
                                                    float *VEste, uint8_t clongitud_trama);
uint8_t ProcesarTrama_AngulosEuler(uint8_t *trama, int32_t *TimeStampOut, float *Yawout, uint8_t clongitud_trama);

// Heave in centimetres rounded away from zero; 0 for not-a-number, and held
// within the 16-bit range.
int16_t redondeo_heave(float fheave);
// Yaw in degrees rounded half away from zero; 0 for not-a-number.
uint16_t redondeo_yaw(float fyaw);

#endif
