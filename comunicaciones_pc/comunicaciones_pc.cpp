#include "comunicaciones_pc.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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
        uint32_t p = potencias[i];
        uint32_t q = 0;
        if ((laux >> 4) >= p) {
            // A value too wide for its field keeps its first digit within the table.
            laux = laux % p;
            q = 15;
        } else {
            // At most 15 subtractions: the core has no divide instruction.
            while (laux >= p) {
                laux -= p;
                q++;
            }
        }
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

// Writes the non-negative float f (its bits, sign clear, |f| < 2^20) as the
// text "%010.4f" gives: the exact value of f times 10^4, rounded to nearest,
// ties to even, as at least five integer digits, '.', four decimals. f is
// M * 2^-s exactly (M the 24-bit significand); the integer part is M >> s, and
// the four decimals are the rest F = M mod 2^s times 10^4 over 2^s, rounded.
// F * 10^4 < 2^24 * 2^14 fits 64 bits. Since 10^4 is even, the parity of the
// whole scaled value is that of the four decimals, so ties are settled there.
static uint8_t texto_float_rapido(uint32_t bits, char *texto)
{
    uint32_t exponente = bits >> 23;
    uint32_t mantisa = bits & 0x7FFFFFu;
    if (exponente != 0) mantisa |= 0x800000u;
    else exponente = 1;  // subnormal: the same scale as the smallest normal
    // f = mantisa * 2^(exponente - 150); below 2^20 the exponent is below 150.
    uint32_t desplazamiento = 150u - exponente;  // 4 .. 149
    uint32_t entero;
    uint32_t decimales;
    if (desplazamiento >= 64) {
        // Under 2^-40: the scaled value is under 2^-26, so it rounds to zero.
        entero = 0;
        decimales = 0;
    } else {
        uint64_t m = mantisa;
        uint64_t resto = m & ((1ull << desplazamiento) - 1u);
        entero = (uint32_t)(m >> desplazamiento);
        uint64_t escalado = resto * 10000u;
        decimales = (uint32_t)(escalado >> desplazamiento);
        uint64_t fraccion = escalado & ((1ull << desplazamiento) - 1u);
        uint64_t mitad = 1ull << (desplazamiento - 1u);
        if (fraccion > mitad || (fraccion == mitad && (decimales & 1u))) decimales++;
        if (decimales == 10000u) {
            decimales = 0;
            entero++;
        }
    }
    // Digits by subtraction: the core has no divide instruction.
    static const uint32_t potencias[7] = {1000000u, 100000u, 10000u, 1000u, 100u, 10u, 1u};
    uint8_t n = 0;
    for (uint8_t i = 0; i < 7; i++) {
        uint8_t cifra = 0;
        while (entero >= potencias[i]) {
            entero -= potencias[i];
            cifra++;
        }
        // Leading zeros pad to five integer digits only.
        if (cifra != 0 || n != 0 || i >= 2) texto[n++] = (char)('0' + cifra);
    }
    texto[n++] = '.';
    for (uint8_t i = 3; i < 7; i++) {
        uint8_t cifra = 0;
        while (decimales >= potencias[i]) {
            decimales -= potencias[i];
            cifra++;
        }
        texto[n++] = (char)('0' + cifra);
    }
    texto[n] = '\0';
    return n;
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
    uint32_t bits;
    memcpy(&bits, &fvalor, sizeof bits);
    // The sign bit still set here is a negative zero or a NaN: those, and
    // anything as large as the limit or not finite, take the library's path.
    if (bits < 0x49800000u) {  // below 2^20: integer arithmetic alone
        // The text t is within 0.00005 of f. The float nearest t is no
        // farther from t than f is, f being a float itself, so the two
        // floats lie within 0.0001 of each other and the check on the
        // round trip below could never fire: it is not made here.
        texto_float_rapido(bits, texto);
        insertamos_mensaje_buffer(pcbuffer, texto, ctipo);
        insertar_terminador(pcbuffer, ccaracter_final, ctipo);
        return;
    }
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
