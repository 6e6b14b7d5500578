// Command frames from the telemetry unit: "$TOV03,group[,field...]*HH". Each
// accepted frame is answered with one "$OLA,GG,body*HH" frame, composed here
// in cbuffer_tov03 and sent by the main loop in its next pass.
#include "tov03.h"

#include "../comunicaciones_pc/comunicaciones_pc.h"
#include "../declaraciones/declaraciones.h"
#include "../formateo_sd/formateo_sd.h"
#include "../gestion_sd/gestion_sd.h"
#include "../modulo_gps/modulo_gps.h"
#include "../principal/principal.h"
#include "../virtual_e2prom/virtual_e2prom.h"
#include "../waves/waves.h"

const char m_trama_tov03[7] = "$TOV03";
uint8_t borrar_eeprom = 0;

#define ACUSE "01"
#define RECHAZO "33"
#define TAM_IMAGEN_VOLCADA 33
#define TABULADORES_14 "\t\t\t\t\t\t\t\t\t\t\t\t\t\t"

static char *const trama = (char *)ctrama_rx_tov03;

// Index of the frame's "*" within what was received, or the count without one.
static uint32_t posicion_asterisco()
{
    for (uint32_t i = 0; i < ccantidad_bytes_rx_tov03; i++)
        if (trama[i] == '*') return i;
    return ccantidad_bytes_rx_tov03;
}

// A field is present when it has characters before the frame's "*"; an empty
// field (two separators in a row) and a field beyond the "*" are absent.
static uint8_t campo(uint8_t numero, uint32_t *valor)
{
    uint32_t fin = ccantidad_bytes_rx_tov03;
    // The field helpers read no further than the bytes received.
    ibytes_trama_nmea = fin;
    uint32_t asterisco = posicion_asterisco();
    uint32_t inicio = busqueda_campo(numero, trama, 0, fin);
    if (inicio >= asterisco || inicio >= fin) return 0;
    uint8_t vacio = 1;
    uint32_t v = extraccion_dato_nmea(numero, trama, 0, fin, &vacio);
    if (vacio != 0) return 0;
    *valor = v;
    return 1;
}

static void texto(const char *t) { insertamos_mensaje_buffer(cbuffer_tov03, t, TIPO_TOV03); }
static void numero(uint32_t v, uint8_t cifras, char final) { insertamos_variable_buffer(cbuffer_tov03, v, cifras, final, TIPO_TOV03); }
static void hexadecimal(uint8_t v) { insertamos_variable_hex_buffer(cbuffer_tov03, v, 2, ' ', TIPO_TOV03); }

// "01," and the command number, as the bodies that carry a value start.
static void cabecera_comando(uint8_t comando)
{
    texto("01,");
    numero(comando, comando <= 9 ? 1 : 2, ',');
}

static void cerrar_respuesta()
{
    ccalculo_checksum_nmea = 0;
    inserto_caracter_buffer(cbuffer_tov03, '*', TIPO_TOV03);
    insertamos_variable_hex_buffer(cbuffer_tov03, cchecksum_nmea_tov03, 2, FIN_LINEA, TIPO_TOV03);
    uint32_t fin = ibytes_a_escribir_sd[TIPO_TOV03];
    cbuffer_tov03[fin < TAM_BUFFER_TOV03 ? fin : TAM_BUFFER_TOV03 - 1] = '\0';
    cdatos_tx_tov03 = 1;
}

static void imprimir_respuesta_en_consola()
{
    for (uint32_t i = 0; i < ibytes_a_escribir_sd[TIPO_TOV03]; i++) Serial1.write((uint8_t)cbuffer_tov03[i]);
}

static void traza_recepcion()
{
    linea();
    Serial1.print("TOV03 RX => (");
    Serial1.print((unsigned int)ccantidad_bytes_rx_tov03);
    Serial1.println(") ");
    for (uint32_t i = 0; i < ccantidad_bytes_rx_tov03; i++) {
        uint8_t c = ctrama_rx_tov03[i];
        Serial1.write(c == 13 ? (uint8_t)'d' : c == 10 ? (uint8_t)'a' : c);
    }
    linea();
}

// Characters that still fit before the reply's "*", checksum, CR LF and NUL.
static uint32_t espacio_en_respuesta()
{
    uint32_t usados = ibytes_a_escribir_sd[TIPO_TOV03];
    uint32_t reservados = 1 + 2 + 2 + 1;
    return usados + reservados >= TAM_BUFFER_TOV03 ? 0 : TAM_BUFFER_TOV03 - reservados - usados;
}

static void formatear_tarjeta(uint8_t comando)
{
    resSdOk = 2;
    grabacion_parametros_por_defecto_secundarios_al_inicializar_SD(comando);
    ccreacion_nuevo_directorio = 0;
    ccreacion_nuevo_fichero[0] = ccreacion_nuevo_fichero[1] = ccreacion_nuevo_fichero[2] = 0;
    CTE_BORRAR_SD = comando == 14 ? 1 : 0;
    Formatear_SD();
    ctarjeta_sd_inicializada = 0;
}

static void deriva_reloj()
{
    Serial1.print("TIEMPO RESTA = ");
    Serial1.println((long)Tiempo_Resta);
    texto(Tiempo_Resta < 0 ? "0," : "1,");
    int64_t segundos = Tiempo_Resta < 0 ? -(int64_t)Tiempo_Resta : (int64_t)Tiempo_Resta;
    // The cap counts whole minutes: up to 250 min 59 s the three digits of
    // the minutes and the two of the seconds still give the exact drift.
    if (segundos / 60 > 250) {
        texto("250");
        return;
    }
    uint32_t minutos = (uint32_t)(segundos / 60);
    numero(minutos, 3, FIN_NADA);
    numero((uint32_t)(segundos - 60 * (int64_t)minutos), 2, FIN_NADA);
}

// Group 1: queries and actions. Returns 0 for a command without a reply.
static uint8_t grupo_1()
{
    uint32_t valor = 0;
    campo(2, &valor);
    uint8_t comando = (uint8_t)valor;
    if (comando < 1 || comando > 31 || (comando >= 24 && comando <= 29)) return 0;
    switch (comando) {
    case 1:
        if (cpeticion_nueva_hora == 0) {
            cpeticion_nueva_hora = 1;
            texto(ACUSE);
        } else {
            texto("02");
        }
        break;
    case 2:
        creset = 1;
        texto(ACUSE);
        break;
    case 3:
        cabecera_comando(3);
        for (uint32_t i = 0; i < CTD_TAM_DATOS_SBG; i++) hexadecimal(ctrama_sensor_rx[i]);
        break;
    case 4:
        if (ctam_trama_promedio == CTE_TAM_TRAMA_RES) {
            cabecera_comando(4);
            for (uint32_t i = 0; i < ctam_trama_promedio && i < TAM_BUFFER_PROMEDIO; i++)
                inserto_caracter_buffer(cbuffer_tov03, cbuffer_promedio[i], TIPO_TOV03);
        } else {
            texto(ACUSE);
        }
        break;
    case 5: cabecera_comando(5); numero(lectura_variable_contador_reinicios(), 5, FIN_NADA); break;
    case 6: cabecera_comando(6); numero(lectura_variable_porcentaje_SD(), 3, FIN_NADA); break;
    case 7: {
        uint32_t largo = ibytes_a_escribir_sd[TIPO_RAW];
        if (largo > TAM_BUFFER_RAW) largo = TAM_BUFFER_RAW;
        Serial1.print("LongRAW=");
        Serial1.println((unsigned long)largo);
        for (uint32_t i = 0; i < largo; i++) Serial1.write((uint8_t)cbuffer_raw[i]);
        linea();
        if (largo == 0) {
            texto(ACUSE);
            break;
        }
        cabecera_comando(7);
        // Without its line end; a record too long for the reply is cut so
        // that the frame still closes with its checksum.
        uint32_t copiar = largo >= 2 ? largo - 2 : 0;
        if (copiar > espacio_en_respuesta()) copiar = espacio_en_respuesta();
        for (uint32_t i = 0; i < copiar; i++) inserto_caracter_buffer(cbuffer_tov03, cbuffer_raw[i], TIPO_TOV03);
        break;
    }
    case 8:
        cabecera_comando(8);
        numero(cdia_utc, 2, ',');
        numero(cmes_utc, 2, ',');
        numero(cano_utc, 2, ',');
        numero(chora_utc, 2, ',');
        numero(cminuto_utc, 2, ',');
        numero(lectura_variable_porcentaje_SD(), 3, ',');
        numero(lectura_variable_contador_reinicios(), 5, ',');
        numero(dd_ola, 2, ',');
        numero(mm_ola, 2, ',');
        numero(yy_ola, 2, ',');
        numero(HH_ola, 2, ',');
        numero(MM_ola, 2, ',');
        numero(resSbgOk, 1, ',');
        numero(resSdOk, 1, FIN_NADA);
        break;
    case 9: cabecera_comando(9); numero(CTE_PERMITIR_ESCRITURA_SD_EEPROM, 3, FIN_NADA); break;
    case 10: cabecera_comando(10); numero(CTE_PERMITIR_ESCRITURA_SD, 3, FIN_NADA); break;
    case 11: cabecera_comando(11); numero(lectura_variable_contador_Ficheros(), 5, FIN_NADA); break;
    case 12: cabecera_comando(12); numero(lectura_variable_Tope_Maximo_Ficheros(), 5, FIN_NADA); break;
    case 13:
        formatear_tarjeta(13);
        cabecera_comando(13);
        break;
    case 14:
        formatear_tarjeta(14);
        cabecera_comando(14);
        break;
    case 15: cabecera_comando(15); numero(CTE_AJUSTE_RELOJ, 3, FIN_NADA); break;
    case 16: cabecera_comando(16); numero((uint32_t)CTE_VELOCIDAD_RELOJ, 5, FIN_NADA); break;
    case 17:
        cabecera_comando(17);
        deriva_reloj();
        break;
    case 18: cabecera_comando(18); numero(CTE_USO_APP_TOV03, 1, FIN_NADA); break;
    case 19: cabecera_comando(19); numero(lectura_variable_Baudrate_TOV(), 1, FIN_NADA); break;
    case 20: cabecera_comando(20); numero(cdebug_sensor, 1, FIN_NADA); break;
    case 21: cabecera_comando(21); numero(CTE_MODO_TRANSPARENTE, 1, FIN_NADA); break;
    case 22:
        cabecera_comando(22);
        for (int i = 0; i < TAM_IMAGEN_VOLCADA; i++) hexadecimal(EEPROM.read(i));
        break;
    case 23:
        grabacion_parametros_por_defecto_secundarios_al_inicializar_SD(23);
        texto("01,23");
        break;
    case 30:
        borrar_eeprom = borrar_eeprom == 0 ? 1 : 0;
        cabecera_comando(30);
        numero(borrar_eeprom, 1, FIN_NADA);
        break;
    case 31:
        if (borrar_eeprom != 0) {
            borrar_eeprom++;
            if (borrar_eeprom >= 4) {
                borrar_eeprom = 0;
                for (int i = 0; i < TAM_IMAGEN_VOLCADA; i++) EEPROM.write(i, 255);
                EEPROM.commit();
            }
        }
        cabecera_comando(31);
        numero(borrar_eeprom, 1, FIN_NADA);
        break;
    default:
        return 0;
    }
    return 1;
}

static void lectura_ajustes()
{
    numero(choras_sincronizacion_gps, 2, ',');
    numero(CTE_FACTOR_CORRECCION_DIRECCION_STANDAR, 1, ',');
    numero(CTE_METODO_DIRECCION, 1, ',');
    numero((uint32_t)CTE_PROCESAR_OLA_ALTURA_MINIMA, 5, ',');
    numero((uint32_t)CTE_PROCESAR_OLA_ALTURA_MAXIMA, 5, ',');
    numero(CTE_PROCESAR_OLA_PERIODO_MINIMO % 100, 2, ',');
    numero(CTE_PROCESAR_OLA_PERIODO_MAXIMO % 100, 2, ',');
    numero((uint32_t)CTE_INTERVALO_PROMEDIO, 2, ',');
    numero(cfrecuencia_muestreo, 1, ',');
    numero(csensor_con_gps, 1, ',');
    numero(cg_impacto_leve, 3, ',');
    numero(cg_impacto_medio, 3, ',');
    numero(cg_impacto_grave, 3, ',');
    numero(icanales_activados_sensor, 5, FIN_NADA);
}

static uint8_t intervalo_aceptado(uint32_t v)
{
    return v == 0 || v == 1 || v == 2 || v == 3 || v == 4 || v == 10 || v == 15 || v == 20 || v == 30 || v == 60;
}

static void escritura_ajustes()
{
    uint32_t v;
    if (campo(2, &v) && v >= 1 && v <= 24) choras_sincronizacion_gps = (uint8_t)v;
    if (campo(3, &v) && v <= 1) CTE_FACTOR_CORRECCION_DIRECCION_STANDAR = (uint8_t)v;
    CTE_METODO_DIRECCION = 0;
    if (campo(5, &v)) CTE_PROCESAR_OLA_ALTURA_MINIMA = (int32_t)v;
    if (campo(6, &v)) CTE_PROCESAR_OLA_ALTURA_MAXIMA = (int32_t)v;
    if (campo(7, &v)) CTE_PROCESAR_OLA_PERIODO_MINIMO = (uint16_t)v;
    if (campo(8, &v)) CTE_PROCESAR_OLA_PERIODO_MAXIMO = (uint16_t)v;
    if (campo(9, &v) && intervalo_aceptado(v)) CTE_INTERVALO_PROMEDIO = (int32_t)v;
    if (campo(10, &v)) cfrecuencia_muestreo = (uint8_t)v;
    if (campo(11, &v)) csensor_con_gps = (uint8_t)v;
    if (campo(12, &v)) cg_impacto_leve = (uint8_t)v;
    if (campo(13, &v)) cg_impacto_medio = (uint8_t)v;
    if (campo(14, &v)) cg_impacto_grave = (uint8_t)v;
    if (campo(15, &v)) icanales_activados_sensor = v;
    escritura_variables();
}

// Group 4: the clock, only when every field is present and plausible
// (February always counts 28 days).
static uint8_t puesta_en_hora()
{
    uint32_t f[6];
    for (uint8_t i = 0; i < 6; i++)
        if (!campo((uint8_t)(2 + i), &f[i])) return 0;
    // The year has two digits in every record and in the directory's name.
    if (f[0] > 99) return 0;
    uint8_t ano = (uint8_t)f[0], mes = (uint8_t)f[1], dia = (uint8_t)f[2];
    uint8_t hora = (uint8_t)f[3], minuto = (uint8_t)f[4], segundo = (uint8_t)f[5];
    if (ano < 19 || mes < 1 || mes > 12) return 0;
    if (dia < 1 || dia > cmeses[mes - 1]) return 0;
    if (hora > 23 || minuto > 59 || segundo > 59) return 0;
    csegundo_utc = segundo;
    cminuto_utc = minuto;
    chora_utc = hora;
    cdia_utc = dia;
    cmes_utc = mes;
    cano_utc = ano;
    cmostramos_hora = 1;
    // The calendar now holds a date: the card may be logged to.
    cfecha_capturada = 1;
    return 1;
}

static void linea_escritura_sd()
{
    for (int i = 0; i < 52; i++) Serial1.write((uint8_t)'=');
    Serial1.print("> ENTRA EN ESCRITURA SD <");
    for (int i = 0; i < 66; i++) Serial1.write((uint8_t)'=');
}

static void permiso_escritura_sd()
{
    linea_escritura_sd();
    uint32_t v;
    if (!campo(2, &v)) return;
    uint8_t permiso = (uint8_t)v;
    uint8_t anterior = lectura_variable_permitir_escritura_SD();
    escritura_variable_permitir_escritura_SD(permiso);
    CTE_PERMITIR_ESCRITURA_SD_EEPROM = permiso;
    if (permiso == 0) {
        Serial1.println(TABULADORES_14 "==> Anulada por Telemando la escritura SD.");
        CTE_PERMITIR_ESCRITURA_SD = 0;
        ctarjeta_sd_inicializada = 0;
        cierre_ficheros_intervalo_abiertos();
        NOMBRE_FICHERO_RAW = "";
        NOMBRE_FICHERO_WAV = "";
        NOMBRE_FICHERO_RES = "";
    } else if (anterior == 0) {
        Serial1.print(TABULADORES_14 "==> Futura revisi\xF3n n\xBA resets cuando haya hora: ");
        Serial1.println((unsigned int)cfecha_capturada);
        cRevision_Resets_24h = 1;
        ctarjeta_sd_inicializada = 0;
    }
}

static uint8_t velocidad_enlace()
{
    uint32_t codigo;
    if (!campo(2, &codigo) || codigo > 8) return 0;
    int32_t velocidad = transformacion_Baudrate_TOV((uint8_t)codigo);
    Serial1.print("\t\t\t\t==> Actualizar Baudrate en TOV: ");
    Serial1.print((long)velocidad);
    if (velocidad <= 0) {
        Serial1.println(" FAIL.");
        return 0;
    }
    escritura_variable_Baudrate_TOV((uint8_t)codigo);
    CTE_BAUDRATE_TOV = (uint32_t)velocidad;
    Serial.end();
    Serial.begin(CTE_BAUDRATE_TOV);
    Serial1.println(" OK.");
    return 1;
}

// Groups 2 to 15: the settings, the clock and the switches.
static void grupo_ajustes(uint8_t grupo)
{
    uint32_t v;
    uint8_t presente = campo(2, &v);
    switch (grupo) {
    case 2:
        lectura_ajustes();
        return;
    case 3:
        escritura_ajustes();
        break;
    case 4:
        texto(puesta_en_hora() ? ACUSE : RECHAZO);
        return;
    case 5:
        if (presente) {
            escritura_variable_contador_reinicios((uint16_t)v);
            escritura_variable_contador_reinicios_24H((uint16_t)v);
            REINICIOS_24H = (uint16_t)v;
            CTE_PERMITIR_ESCRITURA_SD = CTE_PERMITIR_ESCRITURA_SD_EEPROM;
        }
        break;
    case 6:
        if (presente) escritura_variable_porcentaje_SD((uint8_t)v);
        break;
    case 7:
        permiso_escritura_sd();
        break;
    case 8:
        if (presente) {
            escritura_variable_contador_Ficheros((uint16_t)v);
            ContadorNumeroFicheros = (uint16_t)v;
        }
        break;
    case 9:
        // The store keeps a limit above 65530 as 0, and a limit of 0 would
        // switch SD writing off at the first file: both are refused.
        if (presente) {
            if (v == 0 || v > TOPE_ESCRITURA_DOS_BYTES) {
                texto(RECHAZO);
                return;
            }
            escritura_variable_Tope_Maximo_Ficheros((uint16_t)v);
            CTE_NUMERO_MAXIMO_FICHEROS = (uint16_t)v;
        }
        break;
    case 10:
        if (presente) {
            escritura_variable_permitir_ajuste_reloj((uint8_t)v);
            CTE_AJUSTE_RELOJ = (uint8_t)v;
        }
        break;
    case 11:
        if (presente) {
            if (v < 46500 || v > 49000) v = 48000;
            escritura_variable_Velocidad_Reloj((uint16_t)v);
            CTE_VELOCIDAD_RELOJ = (int32_t)v;
            configureTCC0((uint16_t)v, 1);
        }
        break;
    case 12:
        if (presente) CTE_USO_APP_TOV03 = (uint8_t)v;
        break;
    case 13:
        texto(velocidad_enlace() ? ACUSE : RECHAZO);
        return;
    case 14:
        if (presente) CTE_MODO_TRANSPARENTE = (uint8_t)v;
        break;
    case 15:
        if (presente) cextraigo_gps = (uint8_t)v;
        break;
    }
    texto(ACUSE);
}

void procesamos_trama_tov03()
{
    if (cextraigo_tov03 == 1) traza_recepcion();
    if (CTE_MODO_TRANSPARENTE == 1) Serial2.write(ctrama_rx_tov03, ccantidad_bytes_rx_tov03);

    ibytes_trama_nmea = ccantidad_bytes_rx_tov03;
    uint8_t correcta = comprobacion_checksum_nmea(trama, 0, ccantidad_bytes_rx_tov03);
    Serial1.print((unsigned int)correcta);
    Serial1.println("_Fin Comprobar_checksum");
    if (correcta != 1) return;
    if (ccantidad_bytes_rx_tov03 < 6 || comparacion(0, trama, m_trama_tov03, 6) != 1) return;

    uint32_t v = 0;
    campo(1, &v);
    uint8_t grupo = (uint8_t)v;
    ibytes_a_escribir_sd[TIPO_TOV03] = 0;
    cchecksum_nmea_tov03 = 0;
    inserto_caracter_buffer(cbuffer_tov03, '$', TIPO_TOV03);
    ccalculo_checksum_nmea = 1;
    texto("OLA,");
    numero(grupo, 2, ',');

    uint8_t responder = 0;
    uint8_t comando = 0;
    if (grupo == 1) {
        uint32_t c = 0;
        campo(2, &c);
        comando = (uint8_t)c;
        responder = grupo_1();
    } else if (grupo >= 2 && grupo <= 15) {
        grupo_ajustes(grupo);
        responder = 1;
    }
    if (!responder) {
        // No reply: nothing else may be folded into the checksum.
        ccalculo_checksum_nmea = 0;
        return;
    }
    cerrar_respuesta();
    if (grupo == 1 && (comando == 3 || comando == 22)) imprimir_respuesta_en_consola();
    if (grupo == 1 && comando == 14) {
        Serial.println();
        Serial.println("Format done!");
    }
}
