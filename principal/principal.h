// Start-up, main loop, the 1 ms tick and the internal clock.
#ifndef PRINCIPAL_PRINCIPAL_H
#define PRINCIPAL_PRINCIPAL_H

#include <stdint.h>

void configureTCC0(uint16_t match, uint32_t ipreescaler);
void interrupcion_timer_cada_miliseg();
void refrescamos_reloj_interno();
void retardo_milisegundos(uint8_t ctiempo);
void retardo_tiempo(uint8_t ctiempo);

// The NVM user row's fuses (see principal.cpp): the first word as the
// firmware wants it from the word the row holds, and the check at start-up
// that rewrites the row when it differs.
uint32_t fusibles_deseados_palabra0(uint32_t actual);
void revision_fila_usuario_nvm();

// Steps of one pass of the main loop, in their order.
void configuracion_pines_bucle();
void mostrar_hora_si_toca();
void servicio_sd();
void recepcion_sensor();
void servicio_gps();
void servicio_telemetria();
// Sends the text waiting for the telemetry link at once (see principal.cpp).
void envio_texto_pendiente_tov03();

#endif
