#include "declaraciones.h"

volatile uint8_t cmostramos_hora = 1;

volatile uint8_t csegundos_retardo_gestion_sd = 0;
uint8_t ctarjeta_sd_inicializada = 0;
uint8_t cfecha_capturada = 0;
volatile uint8_t ccreacion_nuevo_directorio = 0;
uint8_t ccreacion_nuevo_fichero[3] = {0, 0, 0};
uint8_t cescritura_sd[3] = {0, 0, 0};
uint16_t ContadorNumeroFicheros = 0;
uint16_t Intentos_Creacion_Directorio = 0;
uint16_t Intentos_Creacion_Fichero = 0;
String Sdirectorio;
String NOMBRE_FICHERO_RAW;
String NOMBRE_FICHERO_WAV;
String NOMBRE_FICHERO_RES;

uint8_t ctrama_sensor_rx[TAM_TRAMA_SENSOR];
uint32_t icantidad_bytes_rx_sensor = 0;
uint8_t cbuffer_sensor_lleno = 0;
volatile uint8_t ctimeout_rx_sensor = 0;
uint8_t resSbgOk = 0;

volatile uint8_t cpeticion_nueva_hora = 1;
uint8_t cgps_configurado = 0;
uint8_t cgps_mudo = 0;
volatile uint8_t cestado_gps = 1;
uint8_t ctrama_rx_gps[TAM_TRAMA_GPS];
uint32_t ibytes_recibidos_trama_gps = 0;
volatile uint8_t ctimeout_entre_bytes_tramas_gps = 0;
uint8_t chora_gps = 0, cminuto_gps = 0, csegundo_gps = 0, cdia_gps = 0, cmes_gps = 0, cano_gps = 0;
uint8_t cextraigo_gps = 0;

uint8_t cdatos_tx_tov03 = 0;
uint8_t ctrama_rx_tov03[TAM_TRAMA_TOV03];
uint8_t ccantidad_bytes_rx_tov03 = 0;
volatile uint8_t ctimeout_rx_tov03 = 0;
uint8_t cextraigo_tov03 = 0;

volatile uint8_t cRevision_Resets_24h = 0;
uint8_t creset = 0;
volatile uint8_t cguardar_contador_ficheros_dia = 0;

volatile uint8_t cacciones_cada_10milisegundos = 0;
volatile uint8_t cacciones_cada_100milisegundos = 0;
volatile uint8_t cacciones_cada_segundo = 0;
volatile uint8_t cretardo_en_milisegundos = 0;
volatile uint8_t ctime_out_respuesta_gps_en_10_miliseg = 0;
volatile uint8_t cretardo_tiempo = 0;
volatile uint8_t ctimeout_reset_general = 0;
volatile uint8_t ctimeout_salir_bucle = 0;
volatile int32_t CONT_TIEMPO_MICRO_ACUMULADO = -1;
volatile uint8_t cnivel_jumper = 1;
volatile uint8_t cseguridad_jumper_high = 0;
volatile uint8_t cseguridad_jumper_low = 0;
volatile uint8_t cdebug_sensor = 0;
uint8_t cconfiguracion_timer_tcc0_primera_vez = 1;

volatile uint8_t csegundo_utc = 0, cminuto_utc = 0, chora_utc = 0, cdia_utc = 0, cmes_utc = 0, cano_utc = 0;
const uint8_t cmeses[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
volatile uint8_t choras_sin_sincronizacion_gps = 0;

// Power-up values: the factory defaults, until the store is loaded.
uint8_t choras_sincronizacion_gps = 4;
int32_t CTE_PROCESAR_OLA_ALTURA_MINIMA = 0;
int32_t CTE_PROCESAR_OLA_ALTURA_MAXIMA = 3000;
uint16_t CTE_PROCESAR_OLA_PERIODO_MINIMO = 3;
uint16_t CTE_PROCESAR_OLA_PERIODO_MAXIMO = 90;
int32_t CTE_INTERVALO_PROMEDIO = 20;
uint8_t cfrecuencia_muestreo = 1;
uint8_t csensor_con_gps = 0;
uint8_t cg_impacto_leve = 1;
uint8_t cg_impacto_medio = 2;
uint8_t cg_impacto_grave = 3;
uint32_t icanales_activados_sensor = 65535;
uint8_t CTE_FACTOR_CORRECCION_DIRECCION_STANDAR = 1;
uint8_t CTE_METODO_DIRECCION = 0;
uint8_t CTE_PORCENTAJE_FULL_SD = 255;
uint16_t REINICIOS_24H = 0;
uint8_t REINICIOS_24H_DIA = 0;
uint8_t CTE_PERMITIR_ESCRITURA_SD = 1;
uint8_t CTE_PERMITIR_ESCRITURA_SD_EEPROM = 1;
uint16_t CTE_NUMERO_MAXIMO_FICHEROS = 100;
uint8_t CTE_AJUSTE_RELOJ = 1;
int32_t CTE_VELOCIDAD_RELOJ = 48000;
uint32_t CTE_BAUDRATE_TOV = 38400;

uint8_t mVisualizar_InfoExtra = 0;

char cbuffer_raw[TAM_BUFFER_RAW];
char cbuffer_wav[TAM_BUFFER_WAV];
char cbuffer_res[TAM_BUFFER_RES];
char cbuffer_tov03[TAM_BUFFER_TOV03];
char cbuffer_promedio[TAM_BUFFER_PROMEDIO];
uint32_t ibytes_a_escribir_sd[5] = {0, 0, 0, 0, 0};
uint8_t ccalculo_checksum_nmea = 0;
uint8_t cchecksum_nmea_tov03 = 0;
const uint32_t lvalores_decimales[7] = {1, 10, 100, 1000, 10000, 100000, 1000000};
const uint32_t lvalores_hexadecimales[8] = {0x1, 0x10, 0x100, 0x1000, 0x10000, 0x100000, 0x1000000, 0x10000000};
const char cvalores_ascii[17] = "0123456789ABCDEF";
