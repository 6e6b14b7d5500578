// Interval statistics: the "RES," record for the card, the checksummed frame
// for the telemetry link and its copy, the no-wave interval with its reset
// request, and the start of a new interval.
#include <math.h>
#include <stdlib.h>

#include "../comunicaciones_pc/comunicaciones_pc.h"
#include "../declaraciones/declaraciones.h"
#include "../principal/principal.h"
#include "analisis.h"
#include "horario.h"
#include "muestras.h"
#include "vectores_olas.h"

uint8_t CONTADOR_CERO_OLAS = 0;
const uint32_t CTE_TAM_TRAMA_RES = 78;
uint32_t ctam_trama_promedio = 0;
uint8_t resSdOk = 0;
int32_t tsIni = -1000;
int32_t tsFin = 0;

static void intercambiar(uint16_t *w, int a, int b)
{
    uint16_t t = w[a];
    w[a] = w[b];
    w[b] = t;
}

// Lomuto partition around u[izq]; every exchange in u is made in v too.
int pivot(uint16_t *u, uint16_t *v, int izq, int der)
{
    uint16_t valor = u[izq];
    int i = izq;
    for (int j = izq + 1; j <= der; j++) {
        if (u[j] < valor) {
            i++;
            intercambiar(u, i, j);
            intercambiar(v, i, j);
        }
    }
    intercambiar(u, izq, i);
    intercambiar(v, izq, i);
    return i;
}

// The two parts of a partition are disjoint, so sorting the smaller one by
// recursion and going on with the larger gives the same order as any other
// sequence, with a stack depth of log2(n) even for input sorted backwards.
void quicksort(uint16_t *u, uint16_t *v, int izq, int der)
{
    while (izq < der) {
        int i = pivot(u, v, izq, der);
        if (i - izq < der - i) {
            quicksort(u, v, izq, i - 1);
            izq = i + 1;
        } else {
            quicksort(u, v, i + 1, der);
            der = i - 1;
        }
    }
}

static uint32_t minimo(uint32_t a, uint32_t b) { return a < b ? a : b; }

// Mean direction of summed components, or 9999 when they are not numbers.
static uint16_t direccion_media(float SumNorte, float SumEste)
{
    float grados = (float)(atan2((double)SumNorte, (double)SumEste) * 180.0 / 3.14159265359);
    return Tranformar_Angulo(grados);
}

// Mean angular distance from the mean, the shorter way round the circle.
// Waves without a direction do not count.
static uint16_t dispersion_direcciones(const uint16_t *direcciones, uint32_t n, uint16_t media)
{
    if (media == DIRECCION_NO_CALCULADA) return DIRECCION_NO_CALCULADA;
    uint32_t total = 0;
    uint32_t validas = 0;
    for (uint32_t i = 0; i < n; i++) {
        if (direcciones[i] == DIRECCION_NO_CALCULADA) continue;
        int32_t diferencia = (int32_t)direcciones[i] - (int32_t)media;
        uint16_t d = (uint16_t)(diferencia < 0 ? -diferencia : diferencia);
        if (d > 1800) d = (uint16_t)(3600 - d);
        total += d;
        validas++;
    }
    if (validas == 0) return 0;
    return (uint16_t)((float)total / (float)validas);
}

static void tres_lineas_sin_olas(uint16_t hi, uint16_t lo)
{
    static const char *const etiquetas[] = {"NumOlas=", " Hmax=", " H(1/3)=", " H(1/10)=", " Hav=",
                                            " Tmax=", " Tpico=", " T(1/3)=", " T(1/10)=", " Tav="};
    for (const char *e : etiquetas) {
        Serial1.print(e);
        Serial1.print(0.0, 2);
    }
    Serial1.println();
    Serial1.print(" DirMedMetVel=");
    Serial1.print(0.0, 2);
    Serial1.print(" DirMedMetDer=");
    Serial1.print(0.0, 2);
    Serial1.print(" DesvMetVel=");
    Serial1.print(0.0, 2);
    Serial1.print(" DesvMetDer= ");
    Serial1.print(0.0, 2);
    Serial1.println();
    Serial1.print(" FlagHeadingPromedio=");
    Serial1.print((double)hi, 2);
    Serial1.print(" FlagAlingPromedio= ");
    Serial1.print((double)lo, 2);
    Serial1.println();
}

struct EstadisticosIntervalo {
    uint32_t num_olas;
    uint16_t hmax, h3, h10, hav, tmax, tpico, t3, t10, tav;
    uint16_t dir_vel, dir_der, desv_vel, desv_der;
    uint16_t flag_heading, flag_align;
};

// The fields of the record, each followed by the separator; the last one
// gets the final terminator.
static void insertar_campos(char *buffer, uint8_t tipo, const EstadisticosIntervalo &e, char separador,
                            char terminador_final)
{
    uint8_t metodo = CTE_METODO_DIRECCION_DEFINITIVA;
    insertamos_variable_buffer(buffer, e.num_olas, 5, separador, tipo);
    insertamos_variable_buffer(buffer, e.hmax, 4, separador, tipo);
    insertamos_variable_buffer(buffer, e.h3, 4, separador, tipo);
    insertamos_variable_buffer(buffer, e.h10, 4, separador, tipo);
    insertamos_variable_buffer(buffer, e.hav, 4, separador, tipo);
    insertamos_variable_buffer(buffer, e.tmax, 3, separador, tipo);
    insertamos_variable_buffer(buffer, e.tpico, 3, separador, tipo);
    insertamos_variable_buffer(buffer, e.t3, 3, separador, tipo);
    insertamos_variable_buffer(buffer, e.t10, 3, separador, tipo);
    insertamos_variable_buffer(buffer, e.tav, 3, separador, tipo);
    if (metodo == 0 || metodo == 2) insertamos_variable_buffer(buffer, e.dir_vel, 4, separador, tipo);
    if (metodo == 1 || metodo == 2) insertamos_variable_buffer(buffer, e.dir_der, 4, separador, tipo);
    if (metodo == 0 || metodo == 2) insertamos_variable_buffer(buffer, e.desv_vel, 4, separador, tipo);
    if (metodo == 1 || metodo == 2) insertamos_variable_buffer(buffer, e.desv_der, 4, separador, tipo);
    insertamos_variable_buffer(buffer, e.flag_heading, 3, separador, tipo);
    insertamos_variable_buffer(buffer, e.flag_align, 3, terminador_final, tipo);
}

static void terminar_con_cero(char *buffer, uint8_t tipo)
{
    if (ibytes_a_escribir_sd[tipo] < capacidad_buffer(tipo)) buffer[ibytes_a_escribir_sd[tipo]] = 0;
}

// "$RES," with the current date and time, the fields, "*", checksum, CR LF.
// A reply to a command still waiting in the buffer (composed in the previous
// pass, its turn on the link not come yet) is sent first, so that the frame
// does not overwrite it; the frame then goes out in this pass's telemetry step.
static void construir_trama_tov03(const EstadisticosIntervalo &e)
{
    envio_texto_pendiente_tov03();
    ibytes_a_escribir_sd[TIPO_TOV03] = 0;
    inserto_caracter_buffer(cbuffer_tov03, '$', TIPO_TOV03);
    cchecksum_nmea_tov03 = 0;
    ccalculo_checksum_nmea = 1;
    insertamos_mensaje_buffer(cbuffer_tov03, "RES,", TIPO_TOV03);
    insertamos_variable_buffer(cbuffer_tov03, cdia_utc, 2, FIN_COMA, TIPO_TOV03);
    insertamos_variable_buffer(cbuffer_tov03, cmes_utc, 2, FIN_COMA, TIPO_TOV03);
    insertamos_variable_buffer(cbuffer_tov03, cano_utc, 2, FIN_COMA, TIPO_TOV03);
    insertamos_variable_buffer(cbuffer_tov03, chora_utc, 2, FIN_COMA, TIPO_TOV03);
    insertamos_variable_buffer(cbuffer_tov03, cminuto_utc, 2, FIN_COMA, TIPO_TOV03);
    insertar_campos(cbuffer_tov03, TIPO_TOV03, e, FIN_COMA, FIN_NADA);
    ccalculo_checksum_nmea = 0;
    inserto_caracter_buffer(cbuffer_tov03, '*', TIPO_TOV03);
    insertamos_variable_hex_buffer(cbuffer_tov03, cchecksum_nmea_tov03, 2, FIN_LINEA, TIPO_TOV03);
    terminar_con_cero(cbuffer_tov03, TIPO_TOV03);
    cdatos_tx_tov03 = 1;
}

static void calcular_con_olas()
{
    uint32_t n = (uint32_t)nOlas;
    EstadisticosIntervalo e = {};
    CONTADOR_CERO_OLAS = 0;

    mAltPromedio = (uint32_t)roundf((float)mAltPromedio / (float)n);
    mPeriodoPromedio = (uint32_t)roundf((float)mPeriodoPromedio / (float)n);

    uint8_t metodo = CTE_METODO_DIRECCION_DEFINITIVA;
    e.dir_vel = e.dir_der = DIRECCION_NO_CALCULADA;
    e.desv_vel = e.desv_der = DIRECCION_NO_CALCULADA;
    if (metodo == 0 || metodo == 2) {
        e.dir_vel = direccion_media(mVel_SumNorte, mVel_SumEste);
        uint32_t nd = (mVectorDirMetVel == nullptr) ? 0 : minimo(n, iElementosVectorDirMetVel);
        e.desv_vel = dispersion_direcciones(mVectorDirMetVel, nd, e.dir_vel);
    }
    if (metodo == 1 || metodo == 2) {
        e.dir_der = direccion_media(mDer_SumNorte, mDer_SumEste);
        uint32_t nd = (mVectorDirMetDer == nullptr) ? 0 : minimo(n, iElementosVectorDirMetDer);
        e.desv_der = dispersion_direcciones(mVectorDirMetDer, nd, e.dir_der);
    }
    if (metodo > 2) e.desv_vel = e.desv_der = 0;

    // The subsets of the highest waves are taken over the waves stored in the
    // arrays: all of them, unless an array could not grow.
    uint32_t na = (mVectorAlt == nullptr || mVectorPer == nullptr)
                      ? 0
                      : minimo(n, minimo(iElementosVectorAlt, iElementosVectorPer));
    if (na >= 1) {
        quicksort(mVectorAlt, mVectorPer, 0, (int)na - 1);
        uint32_t PosSup3 = (uint32_t)floor((double)na / 3.0 + (double)na / 3.0);
        uint32_t PosSup10 = (uint32_t)floor(((double)na / 10.0) * 9.0);
        uint32_t SumAlt3 = 0, SumPer3 = 0, SumAlt10 = 0, SumPer10 = 0;
        for (int32_t i = (int32_t)na - 1; i >= (int32_t)PosSup3; i--) {
            SumAlt3 += mVectorAlt[i];
            SumPer3 += mVectorPer[i];
            if ((uint32_t)i == PosSup10) {
                SumAlt10 = SumAlt3;
                SumPer10 = SumPer3;
            }
        }
        e.h3 = (uint16_t)((float)SumAlt3 / (float)(na - PosSup3));
        e.t3 = (uint16_t)((float)SumPer3 / (float)(na - PosSup3));
        e.h10 = (uint16_t)((float)SumAlt10 / (float)(na - PosSup10));
        e.t10 = (uint16_t)((float)SumPer10 / (float)(na - PosSup10));
    }

    uint32_t flag_heading = mFlagHeadingPromedio / n;
    uint32_t flag_align = mFlagAlignPromedio / n;
    e.flag_heading = (uint16_t)(flag_heading > 100 ? 100 : flag_heading);
    e.flag_align = (uint16_t)(flag_align > 100 ? 100 : flag_align);

    e.num_olas = n;
    e.hmax = mAltMaxOla;
    e.hav = (uint16_t)(mAltPromedio > 65535 ? 65535 : mAltPromedio);
    e.tmax = mPeriodoMax;
    e.tpico = mPeriodoPico;
    e.tav = (uint16_t)(mPeriodoPromedio > 65535 ? 65535 : mPeriodoPromedio);

    // Card record: the interval's start, fields separated by spaces.
    ibytes_a_escribir_sd[TIPO_RES] = 0;
    insertamos_variable_buffer(cbuffer_res, cdia_utc, 2, FIN_COMA, TIPO_RES);
    insertamos_variable_buffer(cbuffer_res, cmes_utc, 2, FIN_COMA, TIPO_RES);
    insertamos_variable_buffer(cbuffer_res, cano_utc, 2, FIN_COMA, TIPO_RES);
    insertamos_variable_buffer(cbuffer_res, HHini, 2, FIN_COMA, TIPO_RES);
    insertamos_variable_buffer(cbuffer_res, MMini, 2, FIN_COMA, TIPO_RES);
    insertar_campos(cbuffer_res, TIPO_RES, e, ' ', FIN_LINEA);
    terminar_con_cero(cbuffer_res, TIPO_RES);
    if (existe_fichero_sd(NOMBRE_FICHERO_RES)) {
        ccreacion_nuevo_fichero[TIPO_RES] = 2;
        cescritura_sd[TIPO_RES] = 1;
        resSdOk = 1;
    } else {
        resSdOk = 0;
    }
    resSbgOk = 0;

    construir_trama_tov03(e);

    // The copy keeps the fields without "$RES," and without "*", checksum and
    // CR LF, bounded to the copy buffer with room for its closing zero.
    ibytes_a_escribir_sd[TIPO_PROMEDIO] = 0;
    uint32_t longitud = ibytes_a_escribir_sd[TIPO_TOV03];
    for (uint32_t i = 5; i + 5 < longitud && ibytes_a_escribir_sd[TIPO_PROMEDIO] < TAM_BUFFER_PROMEDIO - 1; i++)
        inserto_caracter_buffer(cbuffer_promedio, cbuffer_tov03[i], TIPO_PROMEDIO);
    cbuffer_promedio[ibytes_a_escribir_sd[TIPO_PROMEDIO]] = 0;
    ctam_trama_promedio = CTE_TAM_TRAMA_RES;

    linea();
    Serial1.print("Buffer promedio: ");
    Serial1.println(cbuffer_promedio);
    linea();
    Serial1.print("NumOlas=");
    Serial1.print((unsigned long)e.num_olas);
    Serial1.print(" Hmax=");
    Serial1.print((unsigned int)e.hmax);
    Serial1.print(" H(1/3)=");
    Serial1.print((unsigned int)e.h3);
    Serial1.print(" H(1/10)=");
    Serial1.print((unsigned int)e.h10);
    Serial1.print(" Hav=");
    Serial1.print((unsigned int)e.hav);
    Serial1.print(" Tmax=");
    Serial1.print((unsigned int)e.tmax);
    Serial1.print(" Tpico=");
    Serial1.print((unsigned int)e.tpico);
    Serial1.print(" T(1/3)=");
    Serial1.print((unsigned int)e.t3);
    Serial1.print(" T(1/10)=");
    Serial1.print((unsigned int)e.t10);
    Serial1.print(" Tav=");
    Serial1.println((unsigned int)e.tav);
    Serial1.print(" DirMedMetVel=");
    Serial1.print((unsigned int)e.dir_vel);
    Serial1.print(" DirMedMetDer=");
    Serial1.print((unsigned int)e.dir_der);
    Serial1.print(" DesvMetVel=");
    Serial1.print((unsigned int)e.desv_vel);
    Serial1.print(" DesvMetDer=");
    Serial1.print((unsigned int)e.desv_der);
    Serial1.print(" FlagHeadingPromedio=");
    Serial1.print((unsigned int)e.flag_heading);
    Serial1.print(" FlagAlingPromedio=");
    Serial1.println((unsigned int)e.flag_align);
    linea_igual_187();
    linea_igual_187();
}

static void calcular_sin_olas()
{
    Serial1.print("RESET POR FALTA DE OLAS: ");
    Serial1.println((unsigned int)CONTADOR_CERO_OLAS);
    // The day's last interval never counts towards a reset.
    if (chora_utc == 23 && cminuto_utc == 59) {
        Serial1.println("NO RESETEAMOS SI ES FINAL DEL DIA.");
        return;
    }
    uint16_t hi = (uint16_t)(CONTADOR_OLAS_DESCARTADAS / 256);
    uint16_t lo = (uint16_t)(CONTADOR_OLAS_DESCARTADAS % 256);
    if (cdebug_sensor != 0) tres_lineas_sin_olas(hi, lo);

    EstadisticosIntervalo e = {};
    e.flag_heading = hi;
    e.flag_align = lo;
    construir_trama_tov03(e);

    bool existe_raw = existe_fichero_sd(NOMBRE_FICHERO_RAW);
    bool existe_wav = existe_fichero_sd(NOMBRE_FICHERO_WAV);
    if (existe_raw || existe_wav) Intentos_Creacion_Fichero = 0;
    if (existe_raw) ccreacion_nuevo_fichero[TIPO_RAW] = 3;
    if (existe_wav) ccreacion_nuevo_fichero[TIPO_WAV] = 3;

    tres_lineas_sin_olas(hi, lo);

    if (CONTADOR_CERO_OLAS < 255) CONTADOR_CERO_OLAS++;
    int32_t intervalo = CTE_INTERVALO_PROMEDIO_INTERPRETADO;
    if (intervalo < 1) intervalo = Interpretar_Intervalo_Promedio(CTE_INTERVALO_PROMEDIO);
    // Two hours' worth of intervals without a wave: a general reset.
    if ((int32_t)CONTADOR_CERO_OLAS >= 120 / intervalo && ctimeout_reset_general == 0) {
        ctimeout_reset_general = 1;
        Serial1.print("Cuenta atr\xE1s=");
        Serial1.print(1);
        Serial1.print(",");
    }
}

void Calcular_Parametros_Salida_Ola_Promedio()
{
    if (nOlas >= 1)
        calcular_con_olas();
    else if (nOlas == 0)
        calcular_sin_olas();
}

static void crear_vector(uint16_t **pvector, uint32_t *pelementos, const char *error)
{
    *pvector = (uint16_t *)pfrealloc_vectores_olas(nullptr, sizeof(uint16_t));
    if (*pvector == nullptr) {
        *pelementos = 0;
        Serial1.println(error);
        return;
    }
    (*pvector)[0] = 0;
    *pelementos = 1;
}

void Comenzar_Proceso_Nuevo_Promedio_Olas()
{
    mVel_SumNorte = mVel_SumEste = 0.0f;
    mDer_SumNorte = mDer_SumEste = 0.0f;
    mAltMaxOla = 0;
    mAltPromedio = 0;
    mPeriodoMax = 0;
    mPeriodoPico = 0;
    mPeriodoPromedio = 0;

    Serial1.println("Free");
    free(mVectorAlt);
    free(mVectorPer);
    free(mVectorDirMetVel);
    free(mVectorDirMetDer);
    mVectorAlt = mVectorPer = mVectorDirMetVel = mVectorDirMetDer = nullptr;
    iElementosVectorAlt = iElementosVectorPer = iElementosVectorDirMetVel = iElementosVectorDirMetDer = 0;

    if (cdebug_sensor != 0) Serial1.print("_Ini Inicializar promedio_");
    crear_vector(&mVectorAlt, &iElementosVectorAlt, "Error en realloc de mVectorAlt 2");
    crear_vector(&mVectorPer, &iElementosVectorPer, "Error en realloc de mVectorPer 2");
    crear_vector(&mVectorDirMetVel, &iElementosVectorDirMetVel, "Error en realloc de mVectorDirMetVel 2");
    crear_vector(&mVectorDirMetDer, &iElementosVectorDirMetDer, "Error en realloc de mVectorDirMetDer 2");

    nOlas = 0;
    tsIni = -1000;
    tsFin = 0;
    contPtosOlaActual = 0;
    if (vIniOla_0 > 1) vIniOla_0 = 1;

    mFlagAlign = 0;
    mFlagHeading = 0;
    mFlagHeadingPromedio = 0;
    mFlagAlignPromedio = 0;
    CONTADOR_OLAS_DESCARTADAS = 65535;
    Serial1.println("_Fin Inicializar promedio_");
}

// The interval's arrays go back to the heap when the program image is
// unloaded (a fresh load per start, as in the simulated board); on the board
// itself this never runs, a power cycle clears the heap.
__attribute__((destructor)) static void liberar_vectores_olas_al_descargar()
{
    free(mVectorAlt);
    free(mVectorPer);
    free(mVectorDirMetVel);
    free(mVectorDirMetDer);
    mVectorAlt = mVectorPer = mVectorDirMetVel = mVectorDirMetDer = nullptr;
}
