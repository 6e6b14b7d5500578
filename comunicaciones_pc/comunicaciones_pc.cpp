#include "comunicaciones_pc.h"

#include <stdio.h>
#include <stdlib.h>

#include "../declaraciones/declaraciones.h"

uint32_t capacidad_buffer(uint8_t ctipo)
{
    switch (ctipo) {
    case TIPO_RAW: return TAM_BUFFER_RAW;
    case TIPO_WAV: return TAM_BUFFER_WAV;
    case TIPO_RES: return TAM_BUFFER_RES;
    case TIPO_TOV03: return TAM_BUFFER_TOV03;
    case TIPO_PROMEDIO: return TAM_BUFFER_PROMEDIO;
    default: return 0;
    }
}

// A character that would not fit its buffer is dropped: it is neither stored
// nor folded into the checksum, and the position stays at the capacity.
void inserto_caracter_buffer(char *pcbuffer, char ccaracter, uint8_t ctipo)
{
    if (ctipo > TIPO_PROMEDIO) return;
    uint32_t posicion = ibytes_a_escribir_sd[ctipo];
    if (posicion >= capacidad_buffer(ctipo)) return;
    pcbuffer[posicion] = ccaracter;
    if (ccalculo_checksum_nmea == 1) cchecksum_nmea_tov03 ^= (uint8_t)ccaracter;
    ibytes_a_escribir_sd[ctipo] = posicion + 1;
}

void insertamos_mensaje_buffer(char *pcbuffer, const char *pcmensaje, uint8_t ctipo)
{
    while (*pcmensaje != '\0') inserto_caracter_buffer(pcbuffer, *pcmensaje++, ctipo);
}

static void insertar_terminador(char *pcbuffer, char ccaracter_final, uint8_t ctipo)
{
    if (ccaracter_final == FIN_NADA) return;
    if (ccaracter_final == FIN_LINEA) {
        inserto_caracter_buffer(pcbuffer, 13, ctipo);
        inserto_caracter_buffer(pcbuffer, 10, ctipo);
        return;
    }
    inserto_caracter_buffer(pcbuffer, ccaracter_final, ctipo);
}

static void insertar_cifras(char *pcbuffer, uint32_t laux, uint8_t cnumero_cifras, const uint32_t *potencias,
                            uint8_t maximo_cifras, uint8_t ctipo)
{
    if (cnumero_cifras > maximo_cifras) cnumero_cifras = maximo_cifras;
    for (int i = (int)cnumero_cifras - 1; i >= 0; i--) {
        uint32_t q = laux / potencias[i];
        laux = laux % potencias[i];
        // A value too wide for its field keeps its first digit within the table.
        if (q > 15) q = 15;
        inserto_caracter_buffer(pcbuffer, cvalores_ascii[q], ctipo);
    }
}

void insertamos_variable_buffer(char *pcbuffer, uint32_t laux, uint8_t cnumero_cifras, char ccaracter_final,
                                uint8_t ctipo)
{
    insertar_cifras(pcbuffer, laux, cnumero_cifras, lvalores_decimales, 7, ctipo);
    insertar_terminador(pcbuffer, ccaracter_final, ctipo);
}

void insertamos_variable_hex_buffer(char *pcbuffer, uint32_t laux, uint8_t cnumero_cifras, char ccaracter_final,
                                    uint8_t ctipo)
{
    insertar_cifras(pcbuffer, laux, cnumero_cifras, lvalores_hexadecimales, 8, ctipo);
    insertar_terminador(pcbuffer, ccaracter_final, ctipo);
}

void insertamos_variable_float_buffer_v02(char *pcbuffer, float fvalor, uint8_t cnumero_cifras,
                                          uint8_t cnumero_decimales, char ccaracter_final, uint8_t ctipo)
{
    (void)cnumero_cifras;
    (void)cnumero_decimales;
    char signo = ' ';
    if (fvalor < 0) {
        signo = '-';
        fvalor = -fvalor;
    }
    inserto_caracter_buffer(pcbuffer, signo, ctipo);
    char texto[64];
    snprintf(texto, sizeof texto, "%010.4f", (double)fvalor);
    insertamos_mensaje_buffer(pcbuffer, texto, ctipo);
    float leido = strtof(texto, nullptr);
    float diferencia = leido - fvalor;
    if (diferencia < 0) diferencia = -diferencia;
    if (diferencia > 0.001f) {
        Serial1.print("ERROR FLOAT TO STRING: ");
        Serial1.print((double)fvalor, 4);
        Serial1.print("<>");
        Serial1.print(texto);
        Serial1.print("; ");
    }
    insertar_terminador(pcbuffer, ccaracter_final, ctipo);
}

uint8_t comparacion(uint32_t iinicio, char *pctrama_comparar, const char *pctrama_comparada,
                    uint8_t clongitud_comparada)
{
    uint8_t clongitud = 0;
    while (pctrama_comparada[clongitud] != '\0' && clongitud < 255) clongitud++;
    if (clongitud_comparada != 0 && clongitud_comparada != clongitud) return 0;
    for (uint8_t i = 0; i < clongitud; i++)
        if (pctrama_comparar[iinicio + i] != pctrama_comparada[i]) return 0;
    return 1;
}

void linea() { Serial1.println(); }

void transmito_variable(uint32_t laux, uint8_t cnumero_cifras, uint8_t ccon_linea)
{
    if (cnumero_cifras > 7) cnumero_cifras = 7;
    for (int i = (int)cnumero_cifras - 1; i >= 0; i--) {
        uint32_t q = laux / lvalores_decimales[i];
        laux = laux % lvalores_decimales[i];
        Serial1.print((unsigned long)q);
    }
    if (ccon_linea == FIN_LINEA)
        linea();
    else if (ccon_linea != FIN_NADA)
        Serial1.write((uint8_t)ccon_linea);
}

static const char LINEA_MARCO[] =
    "*******************************************************************************";

void mensaje_bienvenida()
{
    linea();
    Serial1.println(LINEA_MARCO);
    Serial1.println("\t\tORVENTIS");
    Serial1.println("\t\tMedida del oleaje, ola a ola");
    Serial1.println(LINEA_MARCO);
    Serial1.print("\tSensor de olas\tHardware:");
    transmito_variable(1, 2, FIN_GUION_BAJO);
    transmito_variable(0, 1, FIN_NADA);
    Serial1.print("\tFirmware:");
    transmito_variable(1, 2, FIN_GUION_BAJO);
    transmito_variable(7, 1, FIN_GUION_BAJO);
    transmito_variable(3, 1, FIN_LINEA);
    Serial1.println(LINEA_MARCO);
    linea();

    Serial.println();
    Serial.println(LINEA_MARCO);
    Serial.println("\t\tORVENTIS");
    Serial.println("\t\tMedida del oleaje, ola a ola");
    Serial.println(LINEA_MARCO);
    Serial.println("\tSensor de olas\tHardware:1_0\tFirmware:1_7_3");
    Serial.println(LINEA_MARCO);
    Serial.println();
}
