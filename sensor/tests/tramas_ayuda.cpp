#include "tramas.h"

#include <string.h>

#include "declaraciones/declaraciones.h"
#include "sensor/sensor.h"
#include "waves/muestras.h"

void poner_u32(Bytes &carga, size_t offset, uint32_t valor)
{
    for (int i = 0; i < 4; i++) carga[offset + i] = (uint8_t)(valor >> (8 * i));
}

void poner_float(Bytes &carga, size_t offset, float valor)
{
    uint32_t bits;
    memcpy(&bits, &valor, 4);
    poner_u32(carga, offset, bits);
}

Bytes trama(uint8_t id, const Bytes &carga, uint8_t clase, uint8_t fin)
{
    Bytes t = {0xFF, 0x5A, id, clase, (uint8_t)(carga.size() & 0xFF), (uint8_t)(carga.size() >> 8)};
    t.insert(t.end(), carga.begin(), carga.end());
    uint16_t crc = calcCRC(t.data(), (uint16_t)t.size(), 2);
    t.push_back((uint8_t)(crc & 0xFF));
    t.push_back((uint8_t)(crc >> 8));
    t.push_back(fin);
    return t;
}

Bytes ship_motion(uint32_t t, float heave_m)
{
    Bytes c(46, 0);
    poner_u32(c, 0, t);
    poner_float(c, 16, heave_m);
    return trama(9, c);
}

Bytes ekf_nav(uint32_t t, float vn, float ve, uint32_t estado)
{
    Bytes c(72, 0);
    poner_u32(c, 0, t);
    poner_float(c, 4, vn);
    poner_float(c, 8, ve);
    poner_u32(c, 68, estado);
    return trama(8, c);
}

Bytes ekf_euler(uint32_t t, float yaw_rad, size_t carga)
{
    Bytes c(carga, 0);
    poner_u32(c, 0, t);
    poner_float(c, 12, yaw_rad);
    return trama(6, c);
}

Bytes unir(std::initializer_list<Bytes> partes)
{
    Bytes r;
    for (const Bytes &p : partes) r.insert(r.end(), p.begin(), p.end());
    return r;
}

std::string texto(const Bytes &b) { return std::string(b.begin(), b.end()); }

void escanear(const Bytes &rafaga)
{
    size_t n = rafaga.size() < TAM_TRAMA_SENSOR ? rafaga.size() : TAM_TRAMA_SENSOR;
    memcpy(ctrama_sensor_rx, rafaga.data(), n);
    icantidad_bytes_rx_sensor = (uint32_t)n;
    procesamos_trama_rx_sensor();
}

#define VACIAR(v)   \
    v##_0 = 0;      \
    v##_1 = 0;      \
    v##_2 = 0;      \
    v##_3 = 0;      \
    v##_4 = 0.0f;   \
    v##_5 = 0.0f

void estado_inicial_muestras()
{
    VACIAR(TernaDatos_pos1);
    VACIAR(TernaDatos_pos2);
    VACIAR(TernaDatos_pos3);
    vIniOla_0 = -1;
    TernaDatos0 = 0;
    TernaDatos1 = 0;
    TernaDatos2 = TernaDatos3 = 0.0f;
    Inicializar_TernaTiempos();
    cventana_completa = 0;
    contPtosOlaActual = 0;
    mFlagHeading = mFlagAlign = 0;
    mFlagHeading_Pto = mFlagAlign_Pto = 0;
    TIEMPO_INI = TIEMPO_FIN = 0;
    TENGO_HORA_VALIDA = 0;
    ContNumPtosOla = 0;
    CTE_USO_APP_TOV03 = 0;
    CTE_MODO_TRANSPARENTE = 0;
    CTE_AJUSTE_RELOJ = 0;
    cdebug_sensor = 0;
    ccreacion_nuevo_fichero[0] = 0;
    cescritura_sd[0] = 0;
    for (auto &p : ibytes_a_escribir_sd) p = 0;
    icantidad_bytes_rx_sensor = 0;
    // A clock never set, as at power-on.
    csegundo_utc = cminuto_utc = chora_utc = cdia_utc = cmes_utc = cano_utc = 0;
}
