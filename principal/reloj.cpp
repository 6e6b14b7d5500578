// The 1 ms tick: count-downs, status pins, debug jumper and the internal clock.
#include "../declaraciones/declaraciones.h"
#include "../waves/waves.h"
#include "principal.h"

#define PIN_ESTADO_GPS 17
#define PIN_LATIDO 32
#define PIN_JUMPER_DEBUG 28

#define DESCONTAR(x) \
    do {             \
        if ((x) != 0) (x) = (x) - 1; \
    } while (0)

void configureTCC0(uint16_t match, uint32_t ipreescaler)
{
    nvic_tcc0_desactivar();
    if (cconfiguracion_timer_tcc0_primera_vez == 1) {
        cconfiguracion_timer_tcc0_primera_vez = 0;
        // Generic clock generator 0 (48 MHz) to the TCC0/TCC1 peripheral clock.
        gclk_tcc0_conectar(0x401A);
    }
    tcc0_desactivar();
    tcc0_reset_software();
    uint8_t campo;
    switch (ipreescaler) {
    case 2: campo = 1; break;
    case 4: campo = 2; break;
    case 8: campo = 3; break;
    case 64: campo = 5; break;
    case 256: campo = 6; break;
    case 1024: campo = 7; break;
    default: campo = 0; break;
    }
    tcc0_prescaler(campo);
    tcc0_forma_onda_normal();
    tcc0_periodo(match);
    tcc0_comparacion0(match);
    tcc0_interrupcion_mc0_habilitar();
    nvic_tcc0_activar(0);
    tcc0_habilitar();
}

extern "C" void TCC0_Handler(void)
{
    if (tcc0_flag_mc0()) {
        tcc0_borrar_flag_mc0();
        interrupcion_timer_cada_miliseg();
    }
}

static void muestreo_jumper()
{
    if (digitalRead(PIN_JUMPER_DEBUG) == 1) {
        cseguridad_jumper_low = 0;
        if (cnivel_jumper == 0) {
            cseguridad_jumper_high = cseguridad_jumper_high + 1;
            if (cseguridad_jumper_high > 9) {
                cnivel_jumper = 1;
                cseguridad_jumper_high = 0;
                cdebug_sensor = 0;
            }
        }
    } else {
        cseguridad_jumper_high = 0;
        if (cnivel_jumper == 1) {
            cseguridad_jumper_low = cseguridad_jumper_low + 1;
            if (cseguridad_jumper_low > 9) {
                cnivel_jumper = 0;
                cseguridad_jumper_low = 0;
                cdebug_sensor = 1;
            }
        }
    }
}

void interrupcion_timer_cada_miliseg()
{
    DESCONTAR(cretardo_en_milisegundos);
    DESCONTAR(ctimeout_rx_tov03);
    DESCONTAR(ctimeout_entre_bytes_tramas_gps);
    DESCONTAR(ctimeout_rx_sensor);

    uint8_t c = cacciones_cada_10milisegundos + 1;
    if (c <= 9) {
        cacciones_cada_10milisegundos = c;
        return;
    }
    cacciones_cada_10milisegundos = 0;
    digitalWrite(PIN_ESTADO_GPS, cestado_gps != 0 ? HIGH : LOW);
    DESCONTAR(ctime_out_respuesta_gps_en_10_miliseg);

    c = cacciones_cada_100milisegundos + 1;
    if (c <= 9) {
        cacciones_cada_100milisegundos = c;
        return;
    }
    cacciones_cada_100milisegundos = 0;
    if (CTE_AJUSTE_RELOJ == 1 && CONT_TIEMPO_MICRO_ACUMULADO >= 0)
        CONT_TIEMPO_MICRO_ACUMULADO = CONT_TIEMPO_MICRO_ACUMULADO + 1;
    DESCONTAR(cretardo_tiempo);
    muestreo_jumper();
    digitalWrite(PIN_LATIDO, HIGH);

    c = cacciones_cada_segundo + 1;
    if (c <= 9) {
        cacciones_cada_segundo = c;
        return;
    }
    cacciones_cada_segundo = 0;
    digitalWrite(PIN_LATIDO, LOW);
    DESCONTAR(csegundos_retardo_gestion_sd);
    uint8_t s = csegundo_utc + 1;
    if (s >= 60) {
        csegundo_utc = 0;
        refrescamos_reloj_interno();
        cmostramos_hora = 1;
    } else {
        csegundo_utc = s;
    }
    if (ctimeout_reset_general != 0) {
        ctimeout_reset_general = ctimeout_reset_general - 1;
        Serial1.print((unsigned int)ctimeout_reset_general);
        Serial1.print(",");
        if (ctimeout_reset_general == 0) {
            Serial1.println("RESET GENERAL POR FALTA DE OLAS (LOOP)");
            esperar_reset_por_watchdog();
        }
    }
    DESCONTAR(ctimeout_salir_bucle);
}

void refrescamos_reloj_interno()
{
    uint8_t m = cminuto_utc + 1;
    if (m <= 59) {
        cminuto_utc = m;
    } else {
        cminuto_utc = 0;
        chora_utc = chora_utc + 1;
        choras_sin_sincronizacion_gps = choras_sin_sincronizacion_gps + 1;
        if (choras_sin_sincronizacion_gps >= choras_sincronizacion_gps) {
            cpeticion_nueva_hora = 1;
            choras_sin_sincronizacion_gps = 0;
        }
    }
    if (chora_utc <= 23) return;

    chora_utc = chora_utc - 24;
    cdia_utc = cdia_utc + 1;
    uint8_t dias_mes = (cmes_utc >= 1 && cmes_utc <= 12) ? cmeses[cmes_utc - 1] : 0;
    if (cdia_utc > dias_mes) {
        if (cdia_utc == 29 && cmes_utc == 2 && (cano_utc % 4) == 0) {
            // leap day: 29 February stays
        } else if (cdia_utc == 29 && cmes_utc == 2) {
            cdia_utc = 1;
            cmes_utc = 3;
        } else {
            cdia_utc = 1;
            cmes_utc = cmes_utc + 1;
            if (cmes_utc > 12) {
                cmes_utc = 1;
                cano_utc = cano_utc + 1;
            }
        }
    }
    Serial1.print("Nuevo Directorio");
    // The store write of the file counter is left to the main loop.
    cguardar_contador_ficheros_dia = 1;
    ContadorNumeroFicheros = 0;
    cRevision_Resets_24h = 1;
    CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET = 1;
    if (CTE_PERMITIR_ESCRITURA_SD_EEPROM == 1) {
        Intentos_Creacion_Directorio = 0;
        Intentos_Creacion_Fichero = 0;
        ccreacion_nuevo_directorio = 1;
    }
}

void retardo_milisegundos(uint8_t ctiempo)
{
    if (ctiempo == 0) ctiempo = 1;
    cretardo_en_milisegundos = ctiempo;
    while (cretardo_en_milisegundos != 0) sodaq_wdt_reset();
}

void retardo_tiempo(uint8_t ctiempo)
{
    if (ctiempo == 0) ctiempo = 1;
    cretardo_tiempo = ctiempo;
    while (cretardo_tiempo != 0) sodaq_wdt_reset();
}
