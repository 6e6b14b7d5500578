#include "mundo.h"

namespace mundo {

uint8_t byte_recibido(uint8_t byte, uint32_t baudios_emisor, uint32_t baudios_receptor)
{
    if (baudios_emisor == baudios_receptor) return byte;
    double r = (double)baudios_emisor / (double)baudios_receptor;
    if (r > 0.98 && r < 1.02) return byte;
    // A receiver sampling at the wrong rate reads the bit pattern stretched or
    // squeezed; any fixed scrambling that loses the byte models it well enough.
    uint32_t h = byte * 2654435761u ^ (baudios_emisor * 40503u) ^ baudios_receptor;
    return (uint8_t)(h >> 13);
}

}  // namespace mundo
