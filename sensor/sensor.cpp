#include "sensor.h"

#include <string.h>

#include "../declaraciones/declaraciones.h"
#include "../waves/decodificacion.h"
#include "../waves/muestras.h"

uint8_t cprocesada[TAM_TRAMA_PROCESADA];

namespace {

// CRC-16/KERMIT a byte at a time: entry n is the CRC register n after its
// eight shifts (right-shifting, polynomial 0x8408), built when the firmware
// is compiled, 512 bytes of flash.
struct TablaCrc {
    uint16_t v[256];
};

constexpr TablaCrc construir_tabla_crc()
{
    TablaCrc t{};
    for (uint32_t n = 0; n < 256; n++) {
        uint16_t c = (uint16_t)n;
        for (uint8_t b = 0; b < 8; b++) c = (c & 1) ? (uint16_t)((c >> 1) ^ 0x8408) : (uint16_t)(c >> 1);
        t.v[n] = c;
    }
    return t;
}

constexpr TablaCrc TABLA_CRC = construir_tabla_crc();
static_assert(TABLA_CRC.v[1] == 0x1189 && TABLA_CRC.v[128] == 0x8408 && TABLA_CRC.v[255] == 0x0F78,
              "CRC-16/KERMIT table");

}  // namespace

// CRC-16/KERMIT over pBuffer[iposicion_inicio] .. pBuffer[bufferSize - 1]:
// the same value as eight right shifts per byte, one table step per byte.
uint16_t calcCRC(const void *pBuffer, uint16_t bufferSize, uint16_t iposicion_inicio)
{
    const uint8_t *p = static_cast<const uint8_t *>(pBuffer);
    uint16_t crc = 0;
    for (uint32_t i = iposicion_inicio; i < bufferSize; i++)
        crc = (uint16_t)((crc >> 8) ^ TABLA_CRC.v[(uint8_t)(crc ^ p[i])]);
    return crc;
}

uint32_t ibusqueda_dato_frame(uint8_t *pctrama, uint8_t cdato, uint8_t cveces_a_encontrar, uint32_t iposicion_inicio)
{
    uint8_t cveces = 0;
    uint32_t fin = icantidad_bytes_rx_sensor;
    if (fin > TAM_TRAMA_SENSOR) fin = TAM_TRAMA_SENSOR;
    for (uint32_t i = iposicion_inicio; i < fin; i++) {
        if (pctrama[i] == cdato) {
            cveces++;
            if (cveces >= cveces_a_encontrar) return i;
        }
    }
    return icantidad_bytes_rx_sensor;
}

// Next 0xFF 0x5A pair at or after iposicion; icantidad_bytes_rx_sensor when none.
uint32_t busqueda_inicio_trama_sensor(uint32_t iposicion)
{
    uint32_t p = iposicion;
    for (;;) {
        sodaq_wdt_reset();
        uint32_t s = ibusqueda_dato_frame(ctrama_sensor_rx, 0xFF, 1, p);
        if (s >= icantidad_bytes_rx_sensor) return icantidad_bytes_rx_sensor;
        if (s + 1 >= icantidad_bytes_rx_sensor) return icantidad_bytes_rx_sensor;
        if (ctrama_sensor_rx[s + 1] == 0x5A) return s;
        p = s + 1;
    }
}

// Newer sensor firmware sends some logs with a longer payload than the fixed
// length the scan expects (the EKF Euler log has 40 bytes instead of 32). A
// frame the fixed-length check dropped is taken at the length its own length
// field gives, when that frame lies wholly inside the burst and its CRC is
// right. Returns the position of its end byte, or 0 when there is no such frame.
static uint32_t trama_por_campo_longitud(uint32_t s, uint32_t ilongitud_trama, uint32_t iultimo)
{
    if (s + 5 > iultimo) return 0;
    uint32_t n_carga = (uint32_t)ctrama_sensor_rx[s + 4] | ((uint32_t)ctrama_sensor_rx[s + 5] << 8);
    uint32_t fin = n_carga + 8;  // offset of the end byte
    if (fin <= ilongitud_trama) return 0;
    if (fin + 1 > 255) return 0;  // the decoders take the length as one byte
    if (s + fin > iultimo) return 0;
    uint32_t n = fin + 1;
    memcpy(cprocesada, &ctrama_sensor_rx[s], n);
    uint16_t crc_recibida = (uint16_t)(cprocesada[n - 2] * 256u + cprocesada[n - 3]);
    uint16_t crc_calculada = calcCRC(cprocesada, (uint16_t)(n - 3), 2);
    if (crc_calculada == 0 || crc_calculada != crc_recibida) return 0;
    ProcesarTramaBinaria(cprocesada, (uint8_t)n);
    return s + fin;
}

void procesamos_trama_rx_sensor()
{
    if (icantidad_bytes_rx_sensor > TAM_TRAMA_SENSOR) icantidad_bytes_rx_sensor = TAM_TRAMA_SENSOR;
    if (CTE_MODO_TRANSPARENTE == 1) {
        Serial.write(ctrama_sensor_rx, icantidad_bytes_rx_sensor);
        return;
    }
    if (icantidad_bytes_rx_sensor == 0) return;
    uint32_t iposicion_inicio_trama_sensor = 0;
    uint32_t iultimo = icantidad_bytes_rx_sensor - 1;
    do {
        sodaq_wdt_reset();
        uint32_t s = busqueda_inicio_trama_sensor(iposicion_inicio_trama_sensor);
        if (s >= icantidad_bytes_rx_sensor) break;
        uint8_t msgID = (s + 2 <= iultimo) ? ctrama_sensor_rx[s + 2] : 0;
        uint32_t ilongitud_trama;
        switch (msgID) {
        case SBG_ECOM_LOG_SHIP_MOTION: ilongitud_trama = FIN_TRAMA_SHIP_MOTION; break;
        case SBG_ECOM_LOG_EKF_NAV: ilongitud_trama = FIN_TRAMA_EKF_NAV; break;
        case SBG_ECOM_LOG_EKF_EULER: ilongitud_trama = FIN_TRAMA_EKF_EULER; break;
        default: ilongitud_trama = 0; break;
        }
        if (ilongitud_trama == 0) {
            iposicion_inicio_trama_sensor = s + 3;
            continue;
        }
        uint32_t resto = iultimo - s;
        uint32_t e = s + (ilongitud_trama < resto ? ilongitud_trama : resto);
        uint8_t cposicion_final_trama_procesada = (uint8_t)(e - s + 1);
        memcpy(cprocesada, &ctrama_sensor_rx[s], cposicion_final_trama_procesada);
        uint16_t icrc_frame_recibida = 0;
        uint16_t icrc_frame_calculada = 0;
        if (cposicion_final_trama_procesada > 3) {
            icrc_frame_recibida = (uint16_t)(ctrama_sensor_rx[e - 1] * 256u + ctrama_sensor_rx[e - 2]);
            icrc_frame_calculada = calcCRC(cprocesada, (uint16_t)(cposicion_final_trama_procesada - 3), 2);
        }
        if (cposicion_final_trama_procesada > 3 && icrc_frame_calculada == icrc_frame_recibida &&
            icrc_frame_calculada != 0) {
            ProcesarTramaBinaria(cprocesada, cposicion_final_trama_procesada);
            iposicion_inicio_trama_sensor = e;
        } else {
            uint32_t fin_larga = trama_por_campo_longitud(s, ilongitud_trama, iultimo);
            iposicion_inicio_trama_sensor = fin_larga != 0 ? fin_larga : s + 3;
        }
    } while (iposicion_inicio_trama_sensor < iultimo);
}
