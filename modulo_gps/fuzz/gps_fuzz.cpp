// Any bytes as a burst from the GPS receiver: the NMEA parsing, the
// acceptance rule and the capture must take them safely, and a "$GPS," record
// always closes as a whole frame.
#include <cstdlib>
#include <cstring>

#include "declaraciones/declaraciones.h"
#include "modulo_gps/modulo_gps.h"
#include "plataforma/fuzz/placa_fuzz.h"
#include "plataforma/host/placa_host.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *datos, size_t n)
{
    placa_para_fuzz();
    if (n == 0) return 0;
    cextraigo_gps = datos[0] & 1;
    CTE_AJUSTE_RELOJ = (datos[0] >> 1) & 1;
    datos++;
    n--;
    if (n > TAM_TRAMA_GPS) n = TAM_TRAMA_GPS;
    std::memset(ctrama_rx_gps, 0, sizeof ctrama_rx_gps);
    std::memcpy(ctrama_rx_gps, datos, n);
    ibytes_recibidos_trama_gps = (uint32_t)n;
    cpeticion_nueva_hora = 1;
    cdatos_tx_tov03 = 0;
    procesamos_trama_rx_gps();
    if (ibytes_a_escribir_sd[TIPO_TOV03] > TAM_BUFFER_TOV03) std::abort();
    if (cdatos_tx_tov03 == 1 && std::strncmp(cbuffer_tov03, "$GPS,", 5) == 0) {
        size_t largo = strnlen(cbuffer_tov03, TAM_BUFFER_TOV03);
        if (largo >= TAM_BUFFER_TOV03 || largo < 7 || cbuffer_tov03[largo - 5] != '*' ||
            cbuffer_tov03[largo - 2] != '\r' || cbuffer_tov03[largo - 1] != '\n')
            std::abort();
        // Every character of a whole record is printable.
        for (size_t i = 0; i + 2 < largo; i++)
            if ((unsigned char)cbuffer_tov03[i] < 32) std::abort();
    }
    return 0;
}
