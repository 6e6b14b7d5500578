// Any bytes as a burst from the motion sensor: the scan, the log decoding,
// the sample window and the wave analysis behind it must take them safely.
#include <cstring>

#include "declaraciones/declaraciones.h"
#include "plataforma/fuzz/placa_fuzz.h"
#include "plataforma/host/placa_host.h"
#include "sensor/sensor.h"
#include "waves/waves.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *datos, size_t n)
{
    placa_para_fuzz();
    if (n == 0) return 0;
    // The first byte picks the switches that change what the decoder prints.
    cdebug_sensor = datos[0] & 1;
    CTE_USO_APP_TOV03 = (datos[0] >> 1) & 1;
    mVisualizar_InfoExtra = (datos[0] >> 2) & 1;
    CTE_AJUSTE_RELOJ = (datos[0] >> 3) & 1;
    datos++;
    n--;
    if (n > TAM_TRAMA_SENSOR) n = TAM_TRAMA_SENSOR;
    std::memcpy(ctrama_sensor_rx, datos, n);
    icantidad_bytes_rx_sensor = (uint32_t)n;
    try {
        procesamos_trama_rx_sensor();
    } catch (const placa::ReinicioPlaca &) {
        // The no-wave count-down or a deliberate stop: a reset, not a fault.
    }
    CTE_MODO_TRANSPARENTE = 0;
    return 0;
}
