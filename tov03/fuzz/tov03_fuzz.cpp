// Any bytes as a received telemetry burst: the command handler must neither
// crash nor overrun its reply buffer, and a reply always closes as a frame.
#include <cstdlib>
#include <cstring>

#include "declaraciones/declaraciones.h"
#include "plataforma/fuzz/placa_fuzz.h"
#include "plataforma/host/placa_host.h"
#include "tov03/tov03.h"
#include "waves/waves.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *datos, size_t n)
{
    placa_para_fuzz();
    if (n > TAM_TRAMA_TOV03) n = TAM_TRAMA_TOV03;
    std::memcpy(ctrama_rx_tov03, datos, n);
    ccantidad_bytes_rx_tov03 = (uint8_t)n;
    cdatos_tx_tov03 = 0;
    try {
        procesamos_trama_tov03();
    } catch (const placa::ReinicioPlaca &) {
        // A deliberate stop (a fatal card error) is a reset, not a fault.
    }
    if (ibytes_a_escribir_sd[TIPO_TOV03] > TAM_BUFFER_TOV03) std::abort();
    if (cdatos_tx_tov03 == 1) {
        size_t largo = strnlen(cbuffer_tov03, TAM_BUFFER_TOV03);
        if (largo >= TAM_BUFFER_TOV03 || largo < 7) std::abort();
        if (std::strncmp(cbuffer_tov03, "$OLA,", 5) != 0) std::abort();
        if (cbuffer_tov03[largo - 2] != '\r' || cbuffer_tov03[largo - 1] != '\n' || cbuffer_tov03[largo - 5] != '*')
            std::abort();
    }
    creset = 0;
    CTE_MODO_TRANSPARENTE = 0;
    ccalculo_checksum_nmea = 0;
    return 0;
}
