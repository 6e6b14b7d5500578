// Globals shared by the modules: the main loop's flags and buffers, the tick's
// count-downs and the internal clock, the working parameters of the store and
// the text buffers. Items the 1 ms tick changes are volatile.
#ifndef DECLARACIONES_DECLARACIONES_H
#define DECLARACIONES_DECLARACIONES_H

#include <stdint.h>

#include "../plataforma/plataforma.h"

// ---------------------------------------------------------------- sizes
#define TAM_TRAMA_SENSOR 1024
#define TAM_TRAMA_GPS 256
#define TAM_TRAMA_TOV03 128
#define TAM_BUFFER_RAW 1024
#define TAM_BUFFER_WAV 248
#define TAM_BUFFER_RES 248
#define TAM_BUFFER_TOV03 248
#define TAM_BUFFER_PROMEDIO 79

// Buffer kinds, the index of ibytes_a_escribir_sd.
#define TIPO_RAW 0
#define TIPO_WAV 1
#define TIPO_RES 2
#define TIPO_TOV03 3
#define TIPO_PROMEDIO 4

// ---------------------------------------------------------------- time banner
extern volatile uint8_t cmostramos_hora;

// ---------------------------------------------------------------- SD service
extern volatile uint8_t csegundos_retardo_gestion_sd;
extern uint8_t ctarjeta_sd_inicializada;
extern uint8_t cfecha_capturada;
extern volatile uint8_t ccreacion_nuevo_directorio;
extern uint8_t ccreacion_nuevo_fichero[3];
extern uint8_t cescritura_sd[3];
extern uint16_t ContadorNumeroFicheros;
extern uint16_t Intentos_Creacion_Directorio;
extern uint16_t Intentos_Creacion_Fichero;
extern String Sdirectorio;
extern String NOMBRE_FICHERO_RAW;
extern String NOMBRE_FICHERO_WAV;
extern String NOMBRE_FICHERO_RES;

// ---------------------------------------------------------------- motion-sensor port
extern uint8_t ctrama_sensor_rx[TAM_TRAMA_SENSOR];
extern uint32_t icantidad_bytes_rx_sensor;
extern uint8_t cbuffer_sensor_lleno;
extern volatile uint8_t ctimeout_rx_sensor;
extern uint8_t resSbgOk;

// ---------------------------------------------------------------- GPS port
extern volatile uint8_t cpeticion_nueva_hora;
extern uint8_t cgps_configurado;
// 1 when the last configuration of the receiver got no byte back from it.
extern uint8_t cgps_mudo;
extern volatile uint8_t cestado_gps;
extern uint8_t ctrama_rx_gps[TAM_TRAMA_GPS];
extern uint32_t ibytes_recibidos_trama_gps;
extern volatile uint8_t ctimeout_entre_bytes_tramas_gps;
extern uint8_t chora_gps, cminuto_gps, csegundo_gps, cdia_gps, cmes_gps, cano_gps;
extern uint8_t cextraigo_gps;

// ---------------------------------------------------------------- telemetry link
extern uint8_t cdatos_tx_tov03;
extern uint8_t ctrama_rx_tov03[TAM_TRAMA_TOV03];
extern uint8_t ccantidad_bytes_rx_tov03;
extern volatile uint8_t ctimeout_rx_tov03;
extern uint8_t cextraigo_tov03;

// ---------------------------------------------------------------- pending actions
extern volatile uint8_t cRevision_Resets_24h;
extern uint8_t creset;
// The day change leaves the store write of the file counter to the main loop,
// so that the parameter store never has two writers at once.
extern volatile uint8_t cguardar_contador_ficheros_dia;

// ---------------------------------------------------------------- tick
extern volatile uint8_t cacciones_cada_10milisegundos;
extern volatile uint8_t cacciones_cada_100milisegundos;
extern volatile uint8_t cacciones_cada_segundo;
extern volatile uint8_t cretardo_en_milisegundos;
extern volatile uint8_t ctime_out_respuesta_gps_en_10_miliseg;
extern volatile uint8_t cretardo_tiempo;
extern volatile uint8_t ctimeout_reset_general;
extern volatile uint8_t ctimeout_salir_bucle;
extern volatile int32_t CONT_TIEMPO_MICRO_ACUMULADO;
extern volatile uint8_t cnivel_jumper;
extern volatile uint8_t cseguridad_jumper_high;
extern volatile uint8_t cseguridad_jumper_low;
extern volatile uint8_t cdebug_sensor;
extern uint8_t cconfiguracion_timer_tcc0_primera_vez;

// ---------------------------------------------------------------- internal clock
extern volatile uint8_t csegundo_utc, cminuto_utc, chora_utc, cdia_utc, cmes_utc, cano_utc;
extern const uint8_t cmeses[12];
extern volatile uint8_t choras_sin_sincronizacion_gps;

// ---------------------------------------------------------------- working parameters
extern uint8_t choras_sincronizacion_gps;
extern int32_t CTE_PROCESAR_OLA_ALTURA_MINIMA;
extern int32_t CTE_PROCESAR_OLA_ALTURA_MAXIMA;
extern uint16_t CTE_PROCESAR_OLA_PERIODO_MINIMO;
extern uint16_t CTE_PROCESAR_OLA_PERIODO_MAXIMO;
extern int32_t CTE_INTERVALO_PROMEDIO;
extern uint8_t cfrecuencia_muestreo;
extern uint8_t csensor_con_gps;
extern uint8_t cg_impacto_leve;
extern uint8_t cg_impacto_medio;
extern uint8_t cg_impacto_grave;
extern uint32_t icanales_activados_sensor;
extern uint8_t CTE_FACTOR_CORRECCION_DIRECCION_STANDAR;
extern uint8_t CTE_METODO_DIRECCION;
extern uint8_t CTE_PORCENTAJE_FULL_SD;
extern uint16_t REINICIOS_24H;
extern uint8_t REINICIOS_24H_DIA;
extern uint8_t CTE_PERMITIR_ESCRITURA_SD;
extern uint8_t CTE_PERMITIR_ESCRITURA_SD_EEPROM;
extern uint16_t CTE_NUMERO_MAXIMO_FICHEROS;
extern uint8_t CTE_AJUSTE_RELOJ;
extern int32_t CTE_VELOCIDAD_RELOJ;
extern uint32_t CTE_BAUDRATE_TOV;

// ---------------------------------------------------------------- trace switches
extern uint8_t mVisualizar_InfoExtra;

// ---------------------------------------------------------------- text buffers
extern char cbuffer_raw[TAM_BUFFER_RAW];
extern char cbuffer_wav[TAM_BUFFER_WAV];
extern char cbuffer_res[TAM_BUFFER_RES];
extern char cbuffer_tov03[TAM_BUFFER_TOV03];
extern char cbuffer_promedio[TAM_BUFFER_PROMEDIO];
extern uint32_t ibytes_a_escribir_sd[5];
extern uint8_t ccalculo_checksum_nmea;
extern uint8_t cchecksum_nmea_tov03;
extern const uint32_t lvalores_decimales[7];
extern const uint32_t lvalores_hexadecimales[8];
extern const char cvalores_ascii[17];

#endif
