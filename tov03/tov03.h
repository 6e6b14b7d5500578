// Remote command link: "$TOV03" frames and their "$OLA," replies.
#ifndef TOV03_TOV03_H
#define TOV03_TOV03_H

#include <stdint.h>

// Bytes of the last sensor burst returned by command 3.
#define CTD_TAM_DATOS_SBG 75

extern const char m_trama_tov03[7];
// Arming counter of the parameter-image erase (commands 30 and 31).
extern uint8_t borrar_eeprom;

// Processes the ccantidad_bytes_rx_tov03 bytes in ctrama_rx_tov03.
void procesamos_trama_tov03();

#endif
