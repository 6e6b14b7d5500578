// Hand-built sbgECom frames and a fresh decoding state for the tests.
#ifndef SENSOR_TESTS_TRAMAS_H
#define SENSOR_TESTS_TRAMAS_H

#include <stdint.h>

#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

void poner_u32(Bytes &carga, size_t offset, uint32_t valor);
void poner_float(Bytes &carga, size_t offset, float valor);
// Sync bytes, identifier, class, length field, payload, CRC and end byte.
Bytes trama(uint8_t id, const Bytes &carga, uint8_t clase = 0, uint8_t fin = 0x33);
Bytes ship_motion(uint32_t t, float heave_m);
Bytes ekf_nav(uint32_t t, float vn, float ve, uint32_t estado = 0);
Bytes ekf_euler(uint32_t t, float yaw_rad, size_t carga = 32);
Bytes unir(std::initializer_list<Bytes> partes);
std::string texto(const Bytes &b);

// Puts the burst into the receive buffer and scans it.
void escanear(const Bytes &rafaga);
// Start-up state of the decoding, the window and the raw record.
void estado_inicial_muestras();

#endif
