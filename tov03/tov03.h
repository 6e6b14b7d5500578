// Remote command link: "$TOV03" frames and their replies.
#ifndef TOV03_TOV03_H
#define TOV03_TOV03_H

#include <stdint.h>

// Processes the ccantidad_bytes_rx_tov03 bytes in ctrama_rx_tov03.
void procesamos_trama_tov03();

#endif
