#include "modulo_gps.h"

#include "../comunicaciones_pc/comunicaciones_pc.h"
#include "../declaraciones/declaraciones.h"
#include "../principal/principal.h"
#include "../waves/correccion_reloj.h"

uint8_t csatelites = 0;
uint8_t cgrados_latitud_gps = 0, cminutos_latitud_gps = 0;
uint32_t idiez_milesimas_minutos_latitud_gps = 0;
uint8_t cnorte_sur_gps = 0;
uint8_t cgrados_longitud_gps = 0, cminutos_longitud_gps = 0;
uint32_t idiez_milesimas_minutos_longitud_gps = 0;
uint8_t ceste_oeste_gps = 0;
uint8_t cpdop = 99, chdop = 99, cvdop = 99;

uint8_t cgrados_latitud = 0, cminutos_latitud = 0;
uint32_t idiez_milesimas_minutos_latitud = 0;
uint8_t cnorte_sur = 'N';
uint8_t cgrados_longitud = 0, cminutos_longitud = 0;
uint32_t idiez_milesimas_minutos_longitud = 0;
uint8_t ceste_oeste = 'W';

uint8_t CONT_TRAMAS_GPS = 0;
uint32_t ibytes_trama_nmea = 0;

namespace {

constexpr uint8_t INTENTOS_CONFIGURACION = 20;
constexpr uint8_t LONGITUD_CFG_MSG = 11;
constexpr uint8_t DOP_SIN_VALOR = 99;
constexpr uint8_t DOP_MAXIMO_ACEPTADO = 60;
constexpr uint8_t SATELITES_MINIMOS = 4;

// The sentences of the burst that are read, for the two talkers in use: the
// GPS-only one and the combined one of multi-constellation receivers.
const char *const NOMBRES_GGA[2] = {"$GPGGA", "$GNGGA"};
const char *const NOMBRES_GSA[2] = {"$GPGSA", "$GNGSA"};
const char *const NOMBRES_RMC[2] = {"$GPRMC", "$GNRMC"};

// The character at a position, or 0 beyond the bytes held.
uint8_t caracter(const char *pctrama, uint32_t i)
{
    return i < ibytes_trama_nmea ? (uint8_t)pctrama[i] : 0;
}

uint8_t es_digito(uint8_t c) { return c >= '0' && c <= '9'; }

uint8_t es_sentencia(uint32_t inicio, uint32_t fin, const char *const nombres[2])
{
    // The name is compared only when the whole of it lies within the line.
    if (fin < inicio + 6 || inicio + 6 > ibytes_trama_nmea) return 0;
    char *trama = (char *)ctrama_rx_gps;
    return comparacion(inicio, trama, nombres[0], 6) || comparacion(inicio, trama, nombres[1], 6);
}

// A field that is absent or empty: its first character is the next separator.
uint8_t campo_vacio(const char *pctrama, uint32_t p, uint32_t fin)
{
    if (p >= fin) return 1;
    uint8_t c = caracter(pctrama, p);
    return c == ',' || c == '*' || c == 0 || caracter(pctrama, p + 1) == ',';
}

// Decimal fraction of minutes as five digits: receivers give four, five or
// more digits after the point; fewer are padded, more are cut.
uint32_t fraccion_cinco_cifras(char *pctrama, uint32_t p, uint32_t fin)
{
    uint32_t valor = 0;
    for (uint8_t n = 0; n < 5; n++) {
        uint8_t c = (p + n < fin) ? caracter(pctrama, p + n) : 0;
        valor = valor * 10;
        if (es_digito(c)) valor += (uint32_t)(c - '0');
        else {
            for (n++; n < 5; n++) valor = valor * 10;
            break;
        }
    }
    return valor;
}

uint8_t hemisferio(char *pctrama, uint8_t ccampo, uint32_t inicio, uint32_t fin, uint8_t a, uint8_t b)
{
    uint32_t q = busqueda_campo(ccampo, pctrama, inicio, fin);
    if (q >= fin) return 0;
    uint8_t c = caracter(pctrama, q);
    return (c == a || c == b) ? c : 0;
}

// Integer part of a dilution of precision, limited to 99; an empty field has
// no value (99).
uint8_t dilucion(char *pctrama, uint8_t ccampo, uint32_t inicio, uint32_t fin)
{
    uint32_t a = busqueda_campo(ccampo, pctrama, inicio, fin);
    uint32_t b = busqueda_campo(ccampo + 1, pctrama, inicio, fin);
    if (b <= a + 1) return DOP_SIN_VALOR;
    uint32_t entero = a;
    while (entero < b - 1 && es_digito(caracter(pctrama, entero))) entero++;
    if (entero == a) return DOP_SIN_VALOR;
    uint32_t largo = entero - a;
    if (largo > 7) return DOP_SIN_VALOR;
    uint32_t valor = conversion_ascii_decimal(a, (uint8_t)largo, pctrama);
    return valor > DOP_SIN_VALOR ? DOP_SIN_VALOR : (uint8_t)valor;
}

void trazar_bytes(const char *pctrama, uint32_t desde, uint32_t hasta)
{
    for (uint32_t i = desde; i < hasta && i < ibytes_trama_nmea; i++) {
        uint8_t c = (uint8_t)pctrama[i];
        if (c == 13) Serial1.write('d');
        else if (c == 10) Serial1.write('a');
        else Serial1.write(c);
    }
}

void trazar_hora_sin_ceros(uint8_t h, uint8_t m, uint8_t s)
{
    Serial1.print(h);
    Serial1.print(":");
    Serial1.print(m);
    Serial1.print(":");
    Serial1.println(s);
}

void trazar_fraccion(uint32_t v)
{
    if (v >= 10000) Serial1.print((unsigned long)v);
    else transmito_variable(v, 4, FIN_NADA);
}

void trazar_fecha(uint8_t d, uint8_t mo, uint8_t a, uint8_t h, uint8_t mi, uint8_t s)
{
    transmito_variable(d, 2, '/');
    transmito_variable(mo, 2, '/');
    transmito_variable(a, 2, ' ');
    transmito_variable(h, 2, ':');
    transmito_variable(mi, 2, ':');
    transmito_variable(s, 2, FIN_NADA);
}

void trazar_dop(uint8_t v)
{
    Serial1.print(v / 10);
    Serial1.print(".");
    Serial1.print(v % 10);
}

void trazar_resumen_rafaga()
{
    Serial1.print("Satelites:");
    Serial1.print(csatelites);
    Serial1.print("\tCalidad:");
    trazar_dop(cpdop);
    Serial1.print("/");
    trazar_dop(chdop);
    Serial1.print("/");
    trazar_dop(cvdop);
    Serial1.print("\tFecha:");
    trazar_fecha(cdia_gps, cmes_gps, cano_gps, chora_gps, cminuto_gps, csegundo_gps);
    Serial1.print("\tPosicion:");
    transmito_variable(cgrados_latitud_gps, 2, ' ');
    transmito_variable(cminutos_latitud_gps, 2, '.');
    trazar_fraccion(idiez_milesimas_minutos_latitud_gps);
    if (cnorte_sur_gps != 0) Serial1.write(cnorte_sur_gps);
    Serial1.print(" ");
    transmito_variable(cgrados_longitud_gps, 3, ' ');
    transmito_variable(cminutos_longitud_gps, 2, '.');
    trazar_fraccion(idiez_milesimas_minutos_longitud_gps);
    if (ceste_oeste_gps != 0) Serial1.write(ceste_oeste_gps);
    linea();
}

void procesar_gga(char *t, uint32_t inicio, uint32_t fin)
{
    uint8_t vacio;
    csatelites = (uint8_t)extraccion_dato_nmea(7, t, inicio, fin, &vacio);
    uint32_t p = busqueda_campo(2, t, inicio, fin);
    if (campo_vacio(t, p, fin)) {
        cgrados_latitud_gps = cminutos_latitud_gps = 0;
        idiez_milesimas_minutos_latitud_gps = 0;
        cnorte_sur_gps = 0;
    } else {
        cgrados_latitud_gps = (uint8_t)conversion_ascii_decimal(p, 2, t);
        cminutos_latitud_gps = (uint8_t)conversion_ascii_decimal(p + 2, 2, t);
        idiez_milesimas_minutos_latitud_gps = fraccion_cinco_cifras(t, p + 5, fin);
        cnorte_sur_gps = hemisferio(t, 3, inicio, fin, 'N', 'S');
    }
    p = busqueda_campo(4, t, inicio, fin);
    if (campo_vacio(t, p, fin)) {
        cgrados_longitud_gps = cminutos_longitud_gps = 0;
        idiez_milesimas_minutos_longitud_gps = 0;
        ceste_oeste_gps = 0;
    } else {
        cgrados_longitud_gps = (uint8_t)conversion_ascii_decimal(p, 3, t);
        cminutos_longitud_gps = (uint8_t)conversion_ascii_decimal(p + 3, 2, t);
        idiez_milesimas_minutos_longitud_gps = fraccion_cinco_cifras(t, p + 6, fin);
        ceste_oeste_gps = hemisferio(t, 5, inicio, fin, 'E', 'W');
    }
}

void procesar_gsa(char *t, uint32_t inicio, uint32_t fin)
{
    cpdop = dilucion(t, 15, inicio, fin);
    chdop = dilucion(t, 16, inicio, fin);
    cvdop = dilucion(t, 17, inicio, fin);
}

// Returns 1 when the status field says the fix is valid.
uint8_t procesar_rmc(char *t, uint32_t inicio, uint32_t fin)
{
    uint32_t p = busqueda_campo(1, t, inicio, fin);
    uint8_t fecha_ok = 0;
    if (!campo_vacio(t, p, fin)) {
        uint32_t q = busqueda_campo(9, t, inicio, fin);
        if (!campo_vacio(t, q, fin)) {
            chora_gps = (uint8_t)conversion_ascii_decimal(p, 2, t);
            cminuto_gps = (uint8_t)conversion_ascii_decimal(p + 2, 2, t);
            csegundo_gps = (uint8_t)conversion_ascii_decimal(p + 4, 2, t);
            cdia_gps = (uint8_t)conversion_ascii_decimal(q, 2, t);
            cmes_gps = (uint8_t)conversion_ascii_decimal(q + 2, 2, t);
            cano_gps = (uint8_t)conversion_ascii_decimal(q + 4, 2, t);
            fecha_ok = 1;
        }
    }
    if (!fecha_ok) chora_gps = cminuto_gps = csegundo_gps = cdia_gps = cmes_gps = cano_gps = 0;
    uint32_t e = busqueda_campo(2, t, inicio, fin);
    return (e < fin && caracter(t, e) == 'A') ? 1 : 0;
}

void contabilidad_correccion_reloj()
{
    if (CTE_AJUSTE_RELOJ != 1) return;
    if (Tiempo_Ajustar_Hora == 1) {
        // A sensor-time measurement pending or running starts afresh.
        Tiempo_Capturar_Hora_Inicial = 1;
        Tiempo_Revision_Hora_GPS = 0;
    } else if (cdia_gps_anterior == 0) {
        cdia_gps_anterior = cdia_gps;
        chora_gps_anterior = chora_gps;
        cminuto_gps_anterior = cminuto_gps;
        csegundo_gps_anterior = csegundo_gps;
        Serial1.print("Hora anterior GPS (Recepcion GPS):");
        trazar_hora_sin_ceros(chora_gps, cminuto_gps, csegundo_gps);
    } else {
        cdia_comparativa = cdia_utc;
        chora_comparativa = chora_utc;
        cminuto_comparativa = cminuto_utc;
        csegundo_comparativa = csegundo_utc;
        Tiempo_Ajustar_Hora = 1;
        Tiempo_Revision_Hora_GPS = 1;
        Serial1.print("Hora comparativa UTC (Recepcion GPS):");
        trazar_hora_sin_ceros(chora_comparativa, cminuto_comparativa, csegundo_comparativa);
    }
}

void tomar_posicion()
{
    cgrados_latitud = cgrados_latitud_gps;
    cminutos_latitud = cminutos_latitud_gps;
    idiez_milesimas_minutos_latitud = idiez_milesimas_minutos_latitud_gps;
    cgrados_longitud = cgrados_longitud_gps;
    cminutos_longitud = cminutos_longitud_gps;
    idiez_milesimas_minutos_longitud = idiez_milesimas_minutos_longitud_gps;
    // A fix without position keeps the last known hemisphere, so that every
    // record built from the position in use stays whole.
    if (cnorte_sur_gps == 'N' || cnorte_sur_gps == 'S') cnorte_sur = cnorte_sur_gps;
    if (ceste_oeste_gps == 'E' || ceste_oeste_gps == 'W') ceste_oeste = ceste_oeste_gps;
}

void construir_registro_gps()
{
    char *b = cbuffer_tov03;
    ibytes_a_escribir_sd[TIPO_TOV03] = 0;
    cchecksum_nmea_tov03 = 0;
    inserto_caracter_buffer(b, '$', TIPO_TOV03);
    ccalculo_checksum_nmea = 1;
    insertamos_mensaje_buffer(b, "GPS,", TIPO_TOV03);
    insertamos_variable_buffer(b, cano_utc, 2, FIN_COMA, TIPO_TOV03);
    insertamos_variable_buffer(b, cmes_utc, 2, FIN_COMA, TIPO_TOV03);
    insertamos_variable_buffer(b, cdia_utc, 2, FIN_COMA, TIPO_TOV03);
    insertamos_variable_buffer(b, chora_utc, 2, FIN_COMA, TIPO_TOV03);
    insertamos_variable_buffer(b, cminuto_utc, 2, FIN_COMA, TIPO_TOV03);
    insertamos_variable_buffer(b, csegundo_utc, 2, FIN_COMA, TIPO_TOV03);
    insertamos_variable_buffer(b, csatelites, 2, FIN_COMA, TIPO_TOV03);
    insertamos_variable_buffer(b, cgrados_latitud, 2, FIN_COMA, TIPO_TOV03);
    insertamos_variable_buffer(b, cminutos_latitud, 2, FIN_COMA, TIPO_TOV03);
    insertamos_variable_buffer(b, idiez_milesimas_minutos_latitud, 5, (char)cnorte_sur, TIPO_TOV03);
    inserto_caracter_buffer(b, ',', TIPO_TOV03);
    insertamos_variable_buffer(b, cgrados_longitud, 3, FIN_COMA, TIPO_TOV03);
    insertamos_variable_buffer(b, cminutos_longitud, 2, FIN_COMA, TIPO_TOV03);
    insertamos_variable_buffer(b, idiez_milesimas_minutos_longitud, 5, (char)ceste_oeste, TIPO_TOV03);
    inserto_caracter_buffer(b, ',', TIPO_TOV03);
    insertamos_variable_buffer(b, cpdop, 2, FIN_COMA, TIPO_TOV03);
    insertamos_variable_buffer(b, chdop, 2, FIN_COMA, TIPO_TOV03);
    insertamos_variable_buffer(b, cvdop, 2, FIN_NADA, TIPO_TOV03);
    ccalculo_checksum_nmea = 0;
    inserto_caracter_buffer(b, '*', TIPO_TOV03);
    insertamos_variable_hex_buffer(b, cchecksum_nmea_tov03, 2, FIN_LINEA, TIPO_TOV03);
    if (ibytes_a_escribir_sd[TIPO_TOV03] < TAM_BUFFER_TOV03) b[ibytes_a_escribir_sd[TIPO_TOV03]] = 0;
}

void capturar_fix()
{
    contabilidad_correccion_reloj();
    cdia_utc = cdia_gps;
    cmes_utc = cmes_gps;
    cano_utc = cano_gps;
    chora_utc = chora_gps;
    cminuto_utc = cminuto_gps;
    csegundo_utc = csegundo_gps;
    CONT_TRAMAS_GPS = CONT_TRAMAS_GPS + 1;
    if (CONT_TRAMAS_GPS == 1) cRevision_Resets_24h = 1;
    tomar_posicion();
    Serial1.print("Fecha capturada:");
    trazar_fecha(cdia_utc, cmes_utc, cano_utc, chora_utc, cminuto_utc, csegundo_utc);
    linea();
    cpeticion_nueva_hora = 0;
    cfecha_capturada = 1;
    choras_sin_sincronizacion_gps = 0;
    construir_registro_gps();
    cdatos_tx_tov03 = 1;
    cmostramos_hora = 1;
}

}  // namespace

// ---------------------------------------------------------------- configuration

void envio_frame_a_gps(const char *pframe)
{
    while (Serial3.available() > 0) Serial3.read();
    for (uint16_t i = 0; i < 255 && pframe[i] != '\0'; i++) Serial3.write((uint8_t)pframe[i]);
    Serial3.write((uint8_t)13);
    Serial3.write((uint8_t)10);
}

void envio_comando_a_gps(uint32_t itipo_trama, uint8_t ccada_segundos)
{
    uint8_t mensaje[LONGITUD_CFG_MSG] = {0xB5, 0x62, 0x06, 0x01, 0x03, 0x00, 0, 0, 0, 0, 0};
    mensaje[6] = (uint8_t)((itipo_trama >> 8) & 0xFF);
    mensaje[7] = (uint8_t)(itipo_trama & 0xFF);
    mensaje[8] = ccada_segundos;
    uint8_t ck_a = 0, ck_b = 0;
    for (uint8_t i = 2; i <= 8; i++) {
        ck_a = (uint8_t)(ck_a + mensaje[i]);
        ck_b = (uint8_t)(ck_b + ck_a);
    }
    mensaje[9] = ck_a;
    mensaje[10] = ck_b;

    for (uint8_t intento = 0; intento < INTENTOS_CONFIGURACION; intento++) {
        if (cextraigo_gps == 1) {
            Serial1.print("GPS TX (");
            Serial1.print(intento);
            Serial1.print(") => ");
            for (uint8_t i = 0; i < LONGITUD_CFG_MSG; i++) {
                Serial1.print(mensaje[i]);
                Serial1.print(" ");
            }
            linea();
        }
        while (Serial3.available() > 0) {
            Serial3.read();
            cgps_mudo = 0;
        }
        for (uint8_t i = 0; i < LONGITUD_CFG_MSG; i++) Serial3.write(mensaje[i]);

        ibytes_recibidos_trama_gps = 0;
        ctimeout_entre_bytes_tramas_gps = 0;
        ctime_out_respuesta_gps_en_10_miliseg = 20;
        uint8_t estado = 0;  // 0: waiting for 0xB5, 1: waiting for 0x62, 2: collecting
        while (ctime_out_respuesta_gps_en_10_miliseg != 0) {
            sodaq_wdt_reset();
            if (Serial3.available() > 0) {
                cgps_mudo = 0;
                while (Serial3.available() > 0) {
                    uint8_t c = (uint8_t)Serial3.read();
                    if (estado == 0) {
                        if (c == 0xB5) {
                            ctrama_rx_gps[0] = c;
                            ibytes_recibidos_trama_gps = 1;
                            estado = 1;
                        } else {
                            ibytes_recibidos_trama_gps = 0;
                        }
                    } else if (estado == 1) {
                        if (c == 0x62) {
                            ctrama_rx_gps[1] = c;
                            ibytes_recibidos_trama_gps = 2;
                            estado = 2;
                        } else {
                            ibytes_recibidos_trama_gps = 0;
                            estado = 0;
                        }
                    } else if (ibytes_recibidos_trama_gps < TAM_TRAMA_GPS) {
                        ctrama_rx_gps[ibytes_recibidos_trama_gps++] = c;
                        if (ibytes_recibidos_trama_gps >= 4) ctime_out_respuesta_gps_en_10_miliseg = 0;
                    }
                }
                ctimeout_entre_bytes_tramas_gps = 10;
            }
            if (ibytes_recibidos_trama_gps > 0 && ctimeout_entre_bytes_tramas_gps == 0)
                ctime_out_respuesta_gps_en_10_miliseg = 0;
        }
        ctimeout_entre_bytes_tramas_gps = 0;
        if (cextraigo_gps == 1) {
            Serial1.print("Rx GPS (");
            Serial1.print((unsigned long)ibytes_recibidos_trama_gps);
            Serial1.print(") =>");
            for (uint32_t i = 0; i < ibytes_recibidos_trama_gps; i++) Serial1.write(ctrama_rx_gps[i]);
            linea();
        }
        if (ibytes_recibidos_trama_gps >= 4 && ctrama_rx_gps[0] == 0xB5 && ctrama_rx_gps[1] == 0x62 &&
            ctrama_rx_gps[2] == 0x05) {
            if (ctrama_rx_gps[3] == 0x01) {
                Serial1.println("Rx ACK");
                return;
            }
            if (ctrama_rx_gps[3] == 0x00) Serial1.println("Rx NACK");
        }
    }
}

void rutina_configuracion_gps()
{
    cestado_gps = 0;
    retardo_milisegundos(10);
    Serial3.begin(9600);
    retardo_milisegundos(10);
    retardo_tiempo(10);
    Serial3.flush();
    cgps_mudo = 1;  // until the receiver sends anything at all
    envio_comando_a_gps(0xF003, 0);  // GSV off
    envio_comando_a_gps(0xF001, 0);  // GLL off
    envio_comando_a_gps(0xF004, 1);  // RMC with every fix
    envio_comando_a_gps(0xF005, 0);  // VTG off
    envio_comando_a_gps(0xF008, 0);  // ZDA off
}

// ---------------------------------------------------------------- field helpers

uint8_t desconversion_ascii(uint8_t c)
{
    if (c >= '0' && c <= '9') return (uint8_t)(c - '0');
    if (c >= 'A' && c <= 'F') return (uint8_t)(c - 'A' + 10);
    return 255;
}

uint32_t ibusqueda_dato_gps(char *pctrama, uint8_t cdato, uint8_t cveces_a_encontrar, uint32_t iposicion)
{
    uint8_t encontrados = 0;
    for (uint32_t i = iposicion; i < ibytes_trama_nmea; i++) {
        if ((uint8_t)pctrama[i] == cdato) {
            encontrados++;
            if (encontrados >= cveces_a_encontrar) return i;
        }
    }
    return ibytes_trama_nmea;
}

uint32_t busqueda_campo(uint8_t ccampo_buscado, char *pctrama, uint32_t iposicion_inicial, uint32_t iposicion_final)
{
    if (ccampo_buscado == 0) return iposicion_inicial;
    uint32_t fin = iposicion_final < ibytes_trama_nmea ? iposicion_final : ibytes_trama_nmea;
    uint8_t comas = 0;
    for (uint32_t i = iposicion_inicial; i < fin; i++) {
        uint8_t c = (uint8_t)pctrama[i];
        if (c == '*') return i + 1;
        if (c == ',') {
            comas++;
            if (comas == ccampo_buscado) return i + 1;
        }
    }
    return fin;
}

uint32_t conversion_ascii_decimal(uint32_t iposicion_mas_significativa, uint8_t ccantidad, char *pctrama)
{
    uint32_t valor = 0;
    uint8_t cifras = 0;
    for (int32_t k = (int32_t)ccantidad - 1; k >= 0; k--) {
        uint32_t i = iposicion_mas_significativa + (uint32_t)k;
        if (i >= ibytes_trama_nmea) continue;
        uint8_t d = desconversion_ascii((uint8_t)pctrama[i]);
        if (d == 255) continue;
        if (cifras >= 7) continue;
        valor += d * lvalores_decimales[cifras];
        cifras++;
    }
    return valor;
}

uint32_t extraccion_dato_nmea(uint8_t ccampo, char *pctrama, uint32_t ini, uint32_t fin, uint8_t *pcvacio)
{
    uint32_t a = busqueda_campo(ccampo, pctrama, ini, fin);
    uint32_t b = busqueda_campo((uint8_t)(ccampo + 1), pctrama, ini, fin);
    if (b <= a + 1) {
        *pcvacio = 1;
        return 0;
    }
    *pcvacio = 0;
    uint32_t largo = b - 1 - a;
    return conversion_ascii_decimal(a, (uint8_t)(largo > 255 ? 255 : largo), pctrama);
}

uint8_t comprobacion_checksum_nmea(char *pctrama, uint32_t iposicion_inicio, uint32_t iposicion_final)
{
    uint32_t fin = iposicion_final < ibytes_trama_nmea ? iposicion_final : ibytes_trama_nmea;
    uint8_t x = 0;
    for (uint32_t i = iposicion_inicio + 1; i < fin; i++) {
        uint8_t c = (uint8_t)pctrama[i];
        if (c == '*') {
            if (i + 2 >= fin) return 0;
            uint8_t alto = desconversion_ascii((uint8_t)pctrama[i + 1]);
            uint8_t bajo = desconversion_ascii((uint8_t)pctrama[i + 2]);
            if (alto == 255 || bajo == 255) return 0;
            return (uint8_t)(16 * alto + bajo) == x ? 1 : 0;
        }
        x ^= c;
    }
    return 0;
}

// ---------------------------------------------------------------- burst

void procesamos_trama_rx_gps()
{
    uint32_t cantidad = ibytes_recibidos_trama_gps < TAM_TRAMA_GPS ? ibytes_recibidos_trama_gps : TAM_TRAMA_GPS;
    ibytes_trama_nmea = cantidad;
    char *t = (char *)ctrama_rx_gps;
    if (cextraigo_gps == 1) {
        linea();
        Serial1.print("Rx GPS (");
        Serial1.print((unsigned long)cantidad);
        Serial1.print(") =>");
        trazar_bytes(t, 0, cantidad);
        linea();
    }
    if (cantidad == 0) return;

    uint8_t cfix_valido = 0;
    uint32_t inicio = 0;
    do {
        uint32_t fin = ibusqueda_dato_gps(t, 10, 1, inicio);
        if (cextraigo_gps == 1) {
            linea();
            Serial1.print("Procesando: ");
            trazar_bytes(t, inicio, fin + 1);
            linea();
        }
        if (es_sentencia(inicio, fin, NOMBRES_GGA)) {
            if (!comprobacion_checksum_nmea(t, inicio, fin)) Serial1.println("Checksum nmea calculado erroneo");
            else procesar_gga(t, inicio, fin);
        } else if (es_sentencia(inicio, fin, NOMBRES_GSA)) {
            if (!comprobacion_checksum_nmea(t, inicio, fin)) Serial1.println("Checksum gsa calculado erroneo");
            else procesar_gsa(t, inicio, fin);
        } else if (es_sentencia(inicio, fin, NOMBRES_RMC)) {
            if (!comprobacion_checksum_nmea(t, inicio, fin)) Serial1.println("Checksum nmea calculado erroneo");
            else if (procesar_rmc(t, inicio, fin)) cfix_valido = 1;
        }
        inicio = fin + 1;
    } while (inicio < cantidad);

    if (cextraigo_gps == 1) trazar_resumen_rafaga();

    uint8_t hay_fecha = (chora_gps | cminuto_gps | csegundo_gps | cdia_gps | cmes_gps | cano_gps) != 0;
    if (csatelites >= SATELITES_MINIMOS && cfix_valido == 1 && cpdop <= DOP_MAXIMO_ACEPTADO &&
        chdop <= DOP_MAXIMO_ACEPTADO && cvdop <= DOP_MAXIMO_ACEPTADO && hay_fecha)
        capturar_fix();

    if (cextraigo_gps == 1) envio_frame_a_gps("$PUBX,03*30");
}
