// Wave segmentation by the zero up-crossing rule, and the end of the
// averaging interval, by the clock or by elapsed sensor time.
#include "analisis.h"

#include <math.h>

#include "../comunicaciones_pc/comunicaciones_pc.h"
#include "../declaraciones/declaraciones.h"
#include "../gestion_sd/gestion_sd.h"
#include "horario.h"
#include "muestras.h"
#include "waves.h"

int32_t nOlas = 0;
uint16_t CONTADOR_OLAS_DESCARTADAS = 65535;
uint8_t CTE_METODO_DIRECCION_DEFINITIVA = 0;

// A file of the card: an empty path means no file.
bool existe_fichero_sd(const String &nombre) { return existe_fichero_tarjeta(nombre); }

#define BORRAR_VECTOR(v) \
    do {                 \
        v##_0 = -1;      \
        v##_1 = 0;       \
        v##_2 = 0;       \
        v##_3 = 0;       \
        v##_4 = 0.0f;    \
        v##_5 = 0.0f;    \
    } while (0)

void Inicializar_Vectores_Base()
{
    BORRAR_VECTOR(vIniOla);
    BORRAR_VECTOR(vFinOla);
    BORRAR_VECTOR(vMax1);
    BORRAR_VECTOR(vMax2);
    BORRAR_VECTOR(vMin);
    BORRAR_VECTOR(vIntMaxVn);
    BORRAR_VECTOR(vIntMinVn);
    BORRAR_VECTOR(vIntMaxVe);
    BORRAR_VECTOR(vIntMinVe);
}

int Vectores_Base_Fijados()
{
    if (vIniOla_0 >= 0 && vFinOla_0 >= 0 && vMax1_0 >= 0 && vMax2_0 >= 0 && vIntMinVn_0 >= 0 && vIntMaxVn_0 >= 0 &&
        vIntMinVe_0 >= 0 && vIntMaxVe_0 >= 0 && vMin_0 >= 0)
        return 1;
    return 0;
}

// An index or a time stamp that passes through single precision comes back
// rounded to 24 significant bits; beyond the 32-bit range it saturates, as
// the processor's own conversion does.
static int32_t por_precision_simple(int32_t valor)
{
    float f = (float)valor;
    if (f >= 2147483648.0f) return INT32_MAX;
    if (f < -2147483648.0f) return INT32_MIN;
    return (int32_t)f;
}

void Comenzar_Proceso_Nueva_Ola()
{
    int32_t max2_0 = por_precision_simple(vMax2_0), max2_1 = por_precision_simple(vMax2_1);
    uint16_t max2_2 = vMax2_2;
    int16_t max2_3 = vMax2_3;
    float max2_4 = vMax2_4, max2_5 = vMax2_5;
    int32_t fin_0 = por_precision_simple(vFinOla_0), fin_1 = por_precision_simple(vFinOla_1);
    uint16_t fin_2 = vFinOla_2;
    int16_t fin_3 = vFinOla_3;
    float fin_4 = vFinOla_4, fin_5 = vFinOla_5;

    Inicializar_Vectores_Base();

    // The finished wave's crest becomes the previous crest and its end the next start.
    vMax1_0 = max2_0;
    vMax1_1 = max2_1;
    vMax1_2 = max2_2;
    vMax1_3 = max2_3;
    vMax1_4 = max2_4;
    vMax1_5 = max2_5;
    vIniOla_0 = fin_0;
    vIniOla_1 = fin_1;
    vIniOla_2 = fin_2;
    vIniOla_3 = fin_3;
    vIniOla_4 = fin_4;
    vIniOla_5 = fin_5;

    mFlagHeading = 0;
    mFlagAlign = 0;

    // A start without usable velocities restarts detection from nothing.
    if ((vIniOla_3 == 0 && vIniOla_4 == 0.0f && vIniOla_5 == 0.0f) || isnan(vIniOla_4) || isnan(vIniOla_5)) {
        Inicializar_Vectores_Base();
        vIniOla_0 = -1;
        Serial1.println("vIniOla tiene algun valor NULL o todo ceros.");
        if (cdebug_sensor == 1) {
            static const char guiones[] = "--------------------------------------------------";
            Serial1.print("vIniOla_0 =");
            Serial1.println((long)vIniOla_0);
            Serial1.println(guiones);
            Serial1.println(guiones);
            Serial1.println(guiones);
            Serial1.print((long)vIniOla_0);
            Serial1.print(" - ");
            Serial1.print((long)vIniOla_1);
            Serial1.print(" - ");
            Serial1.print((unsigned int)vIniOla_2);
            Serial1.print(" - ");
            Serial1.print((int)vIniOla_3);
            Serial1.print(" - ");
            Serial1.print((double)vIniOla_4, 2);
            Serial1.print(" - ");
            Serial1.println((double)vIniOla_5, 2);
            Serial1.println(guiones);
            Serial1.println(guiones);
        }
    }
}

void Detectar_Vectores_Base()
{
    int16_t h1 = TernaDatos_pos1_3;
    int16_t h2 = TernaDatos_pos2_3;
    int16_t h3 = TernaDatos_pos3_3;

    // Wave start: from zero or below to above zero. Until the crest is fixed,
    // every new up-crossing moves the start forward.
    if (h1 <= 0 && h2 > 0 && vMax1_0 > 0 && vMax2_0 == -1) {
        COPIAR_VECTOR(vIniOla, TernaDatos_pos2);
        linea();
        Serial1.println("vIniOla - ");
        mFlagAlign = 0;
        mFlagHeading = 0;
        ContNumPtosOla = 0;
    }

    // Crest: a local maximum above zero, ties allowed on the left only.
    if (h1 <= h2 && h3 < h2 && h2 > 0) {
        if (vMax1_0 == -1) {
            COPIAR_VECTOR(vMax1, TernaDatos_pos2);
        } else if (vIniOla_0 > 0 && (vMax2_0 == -1 || h2 > vMax2_3)) {
            COPIAR_VECTOR(vMax2, TernaDatos_pos2);
        }
    }

    // Velocity extremes, from the crest up to and including the trough.
    if (vMax1_0 >= 1 && vMax2_0 >= 1 && vMin_0 == -1) {
        float vn = TernaDatos_pos2_4;
        float ve = TernaDatos_pos2_5;
        if (vIntMinVn_0 == -1 || vn < vIntMinVn_4) COPIAR_VECTOR(vIntMinVn, TernaDatos_pos2);
        if (vIntMaxVn_0 == -1 || vn > vIntMaxVn_4) COPIAR_VECTOR(vIntMaxVn, TernaDatos_pos2);
        if (vIntMinVe_0 == -1 || ve < vIntMinVe_5) COPIAR_VECTOR(vIntMinVe, TernaDatos_pos2);
        if (vIntMaxVe_0 == -1 || ve > vIntMaxVe_5) COPIAR_VECTOR(vIntMaxVe, TernaDatos_pos2);
    }

    // Trough: a local minimum below zero, ties allowed on the left only.
    if (vMax1_0 >= 1 && vMax2_0 >= 1 && h1 >= h2 && h3 > h2 && h2 < 0) {
        if (vMin_0 == -1 || h2 < vMin_3) COPIAR_VECTOR(vMin, TernaDatos_pos2);
    }

    // Wave end: from below zero to zero or above.
    if (h1 < 0 && h2 >= 0 && vMin_0 > 0) {
        COPIAR_VECTOR(vFinOla, TernaDatos_pos2);
        ContNumPtosOla = 0;
        if (cdebug_sensor == 1) {
            Serial1.print("vFinOla=");
            Serial1.print((long)vFinOla_0);
            Serial1.print(", ");
            Serial1.print((long)vFinOla_1);
            Serial1.print(", ");
            Serial1.print((unsigned int)vFinOla_2);
            Serial1.print(", ");
            Serial1.print((int)vFinOla_3);
            Serial1.print(", ");
        }
    }

    if (Vectores_Base_Fijados() != 1) return;

    // The period is kept in 32 bits here: a span too long for the 16-bit
    // period (an end stamp before the start gives a huge one) must fail the
    // bounds, not slip through after narrowing.
    uint32_t microsegundos = Diferencia_Timespan(vIniOla_1, vFinOla_1);
    uint32_t Periodo = (uint32_t)floor((double)microsegundos / 1000000.0 * 10.0 + 0.5);
    int32_t Altura = (int32_t)vMax2_3 - (int32_t)vMin_3;

    if (Altura < CTE_PROCESAR_OLA_ALTURA_MINIMA || Altura > CTE_PROCESAR_OLA_ALTURA_MAXIMA ||
        Periodo < 10u * CTE_PROCESAR_OLA_PERIODO_MINIMO || Periodo > 10u * CTE_PROCESAR_OLA_PERIODO_MAXIMO ||
        CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET == 1) {
        linea();
        Serial1.println("Ola descartada:");
        Serial1.print("Periodo: ");
        Serial1.println((unsigned long)Periodo);
        Serial1.print("Altura: ");
        Serial1.println((long)Altura);
        CONTADOR_OLAS_DESCARTADAS = (uint16_t)(CONTADOR_OLAS_DESCARTADAS + 1u);
        Serial1.print("NumOlasDescartadas: ");
        Serial1.println((unsigned int)CONTADOR_OLAS_DESCARTADAS);
        CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET = 0;
        Comenzar_Proceso_Nueva_Ola();
    }
}

void ProcesarTernaDatos()
{
    Detectar_Vectores_Base();
    int res = Vectores_Base_Fijados();
    TENGO_HORA_VALIDA = (cano_utc != 0) ? 1 : 0;

    if (res == 1) {
        if (mVisualizar_InfoExtra == 1) Serial1.print("Nueva Ola.");
        nOlas += 1;
        Calcular_Parametros_Salida_Ola();
        Comenzar_Proceso_Nueva_Ola();
        CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET = 0;
    }

    uint8_t HH = chora_utc;
    uint8_t MM = cminuto_utc;
    uint8_t SS = csegundo_utc;
    uint8_t fin_por_tiempo = 0;

    if (TENGO_HORA_VALIDA == 0) {
        // Without a valid clock the interval ends by elapsed sensor time.
        uint32_t aux = Diferencia_Timespan(TIEMPO_INI, TIEMPO_FIN);
        int32_t intervalo = Interpretar_Intervalo_Promedio(CTE_INTERVALO_PROMEDIO);
        CTE_INTERVALO_PROMEDIO_INTERPRETADO = intervalo;
        if ((float)aux / 60000000.0f > (float)intervalo) {
            TIEMPO_INI = TIEMPO_FIN;
            TIEMPO_FIN = 0;
            linea();
            Serial1.print("HACER_PROMEDIO_POR_TIEMPO_SUPERADO = ");
            Serial1.println(1);
            fin_por_tiempo = 1;
        }
    } else {
        Determinar_Proxima_Hora_Final(0);
        Revision_Tiempos();
        // Around midnight an end at hour 0 (or 1) seen during hour 23 is
        // marked 24 (or 25), so that the field-wise test waits for the new day.
        if (HH == 23) {
            if (HHfin == 0) HHfin = 24;
            if (HHfin == 1) HHfin = 25;
        }
        if (HH == 0) {
            if (HHfin == 24) HHfin = 0;
            if (HHfin == 25) HHfin = 1;
        }
    }

    if (fin_por_tiempo == 1 || (TENGO_HORA_VALIDA == 1 && HH >= HHfin && MM >= MMfin && SS > SSfin)) {
        bool existe_raw = existe_fichero_sd(NOMBRE_FICHERO_RAW);
        bool existe_wav = existe_fichero_sd(NOMBRE_FICHERO_WAV);
        if (existe_raw || existe_wav) Intentos_Creacion_Fichero = 0;
        if (existe_raw) ccreacion_nuevo_fichero[TIPO_RAW] = 3;
        if (existe_wav) ccreacion_nuevo_fichero[TIPO_WAV] = 3;
        Calcular_Parametros_Salida_Ola_Promedio();
        Comenzar_Proceso_Nuevo_Promedio_Olas();
        // A change of direction method takes effect at an interval boundary.
        CTE_METODO_DIRECCION_DEFINITIVA = CTE_METODO_DIRECCION;
        if (TENGO_HORA_VALIDA == 1) Determinar_Proxima_Hora_Final(1);
    }
}
