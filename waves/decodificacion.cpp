#include "decodificacion.h"

#include <math.h>
#include <string.h>

#include "../declaraciones/declaraciones.h"
#include "../sensor/sensor.h"
#include "analisis.h"
#include "correccion_reloj.h"
#include "muestras.h"
#include "registro_raw.h"

#define STATUS_HEADING_VALID 0x00000020UL
#define STATUS_ALIGNMENT_VALID 0x08000000UL

// A field is read only when all its bytes lie inside the frame.
static uint8_t leer_u32(const uint8_t *trama, uint32_t offset_carga, uint8_t clongitud_trama, uint32_t *valor)
{
    uint32_t offset = offset_carga + DATA_START;
    if (offset + 4 > clongitud_trama) return 1;
    *valor = (uint32_t)trama[offset] | ((uint32_t)trama[offset + 1] << 8) | ((uint32_t)trama[offset + 2] << 16) |
             ((uint32_t)trama[offset + 3] << 24);
    return 0;
}

static uint8_t leer_float(const uint8_t *trama, uint32_t offset_carga, uint8_t clongitud_trama, float *valor)
{
    uint32_t bits;
    if (leer_u32(trama, offset_carga, clongitud_trama, &bits) != 0) return 1;
    memcpy(valor, &bits, sizeof bits);
    return 0;
}

static uint8_t leer_tiempo(const uint8_t *trama, uint8_t clongitud_trama, int32_t *TimeStampOut)
{
    uint32_t t;
    if (leer_u32(trama, 0, clongitud_trama, &t) != 0) return 1;
    *TimeStampOut = (int32_t)t;
    return 0;
}

uint8_t ProcesarTramaShipMotion(uint8_t *trama, int32_t *TimeStampOut, float *HeaveOut, uint8_t clongitud_trama)
{
    int32_t t;
    float heave;
    if (leer_tiempo(trama, clongitud_trama, &t) != 0) return 1;
    if (leer_float(trama, 16, clongitud_trama, &heave) != 0) return 1;
    *TimeStampOut = t;
    *HeaveOut = heave * 100.0f;
    return 0;
}

uint8_t ProcesarTrama_Navegacion_Posicion_Velocidad(uint8_t *trama, int32_t *TimeStampOut, float *VNorte,
                                                    float *VEste, uint8_t clongitud_trama)
{
    int32_t t;
    float vn, ve;
    uint32_t estado;
    if (leer_tiempo(trama, clongitud_trama, &t) != 0) return 1;
    if (leer_float(trama, 4, clongitud_trama, &vn) != 0) return 1;
    if (leer_float(trama, 8, clongitud_trama, &ve) != 0) return 1;
    if (leer_u32(trama, 68, clongitud_trama, &estado) != 0) return 1;
    *TimeStampOut = t;
    *VNorte = vn;
    *VEste = ve;
    if (vIniOla_0 >= 0) {
        mFlagHeading_Pto = 0;
        mFlagAlign_Pto = 0;
        if (estado & STATUS_HEADING_VALID) {
            mFlagHeading_Pto = 1;
            mFlagHeading++;
        }
        if (estado & STATUS_ALIGNMENT_VALID) {
            mFlagAlign_Pto = 1;
            mFlagAlign++;
        }
    }
    return 0;
}

uint8_t ProcesarTrama_AngulosEuler(uint8_t *trama, int32_t *TimeStampOut, float *Yawout, uint8_t clongitud_trama)
{
    int32_t t;
    float yaw;
    if (leer_tiempo(trama, clongitud_trama, &t) != 0) return 1;
    if (leer_float(trama, 12, clongitud_trama, &yaw) != 0) return 1;
    *TimeStampOut = t;
    float grados = (float)((double)yaw / 3.14159265359 * 180.0);
    if (grados < 0) grados = (float)((double)grados + 360.0);
    *Yawout = grados;
    return 0;
}

int16_t redondeo_heave(float fheave)
{
    if (!(fheave == fheave)) return 0;
    double r = fheave > 0 ? ceil((double)fheave) : floor((double)fheave);
    if (r > 32767.0) return 32767;
    if (r < -32768.0) return -32768;
    return (int16_t)r;
}

uint16_t redondeo_yaw(float fyaw)
{
    if (!(fyaw == fyaw)) return 0;
    double r = fyaw < 0 ? (double)fyaw - 0.5 : (double)fyaw + 0.5;
    if (r < 0) r = 0;  // a yaw is never negative after the conversion to 0..360
    if (r > 65535.0) r = 65535.0;
    return (uint16_t)r;
}

// Magnitude of the difference of two sensor time stamps, taken modulo 2^32
// so that the counter's wrap-around does not make two neighbouring stamps
// look far apart.
static uint32_t distancia_tiempos(int32_t a, int32_t b)
{
    uint32_t d = (uint32_t)a - (uint32_t)b;
    if (d & 0x80000000UL) d = 0u - d;
    return d;
}

static int tiempo_ausente(int32_t t) { return t == TIEMPO_NO_RECIBIDO || t == 0; }

#define ASIGNAR_MUESTRA(v, indice)   \
    do {                             \
        v##_0 = (indice);            \
        v##_1 = TernaTiempos2;       \
        v##_2 = TernaDatos0;         \
        v##_3 = TernaDatos1;         \
        v##_4 = TernaDatos2;         \
        v##_5 = TernaDatos3;         \
    } while (0)

#define TRAZA_VECTOR(v)                   \
    do {                                  \
        Serial1.print((long)v##_0);       \
        Serial1.print(",");               \
        Serial1.print((long)v##_1);       \
        Serial1.print(",");               \
        Serial1.print((unsigned)v##_2);   \
        Serial1.print(",");               \
        Serial1.print((int)v##_3);        \
        Serial1.print(",");               \
        Serial1.print((double)v##_4, 2);  \
        Serial1.print(",");               \
        Serial1.print((double)v##_5, 2);  \
        Serial1.print(",");               \
    } while (0)

static void ensamblar_muestra()
{
    if (tiempo_ausente(TernaTiempos0) || tiempo_ausente(TernaTiempos1) || tiempo_ausente(TernaTiempos2)) return;
    if (CTE_AJUSTE_RELOJ != 0) Correccion_Reloj_porWaves();
    contPtosOlaActual++;
    int32_t indice = contPtosOlaActual;
    if (TernaDatos0 == 0 && TernaDatos1 == 0 && TernaDatos2 == 0.0f && TernaDatos3 == 0.0f) {
        Inicializar_TernaTiempos();
        return;
    }
    imuestras_formadas++;
    if (cventana_completa == 0) {
        // Until the window has been full once, an index of 0 marks an empty slot.
        if (TernaDatos_pos1_0 == 0) {
            ASIGNAR_MUESTRA(TernaDatos_pos1, indice);
            Inicializar_TernaTiempos();
            return;
        }
        if (TernaDatos_pos2_0 == 0) {
            ASIGNAR_MUESTRA(TernaDatos_pos2, indice);
            Inicializar_TernaTiempos();
            return;
        }
        cventana_completa = 1;
    } else {
        // From then on every sample shifts in; the first of an averaging
        // interval renumbers the window so that the indices run 0, 1, 2.
        COPIAR_VECTOR(TernaDatos_pos1, TernaDatos_pos2);
        COPIAR_VECTOR(TernaDatos_pos2, TernaDatos_pos3);
        if (indice == 1) {
            TernaDatos_pos1_0 = 0;
            TernaDatos_pos2_0 = 1;
            indice = 2;
            contPtosOlaActual = 2;
        }
    }
    ASIGNAR_MUESTRA(TernaDatos_pos3, indice);

    if (cdebug_sensor == 1) {
        TRAZA_VECTOR(TernaDatos_pos1);
        TRAZA_VECTOR(TernaDatos_pos2);
        TRAZA_VECTOR(TernaDatos_pos3);
    }
    if (TENGO_HORA_VALIDA == 0) {
        if (TIEMPO_INI == 0) {
            Serial1.println("==> NO HAY HORA VALIDA.");
            TIEMPO_INI = TernaTiempos2;
        } else {
            TIEMPO_FIN = TernaTiempos2;
        }
    } else {
        TIEMPO_INI = 0;
        TIEMPO_FIN = 0;
    }
    Guardar_Datos_Procesados_RAW();
    ProcesarTernaDatos();
    Inicializar_TernaTiempos();
}

void ProcesarTramaBinaria(uint8_t *trama, uint8_t clongitud_trama)
{
    int32_t auxTimestamp = 0;
    float auxHeave = 0, auxVn = 0, auxVe = 0, auxYaw = 0;
    if (clongitud_trama > 3 && trama[3] == SBG_ECOM_CLASS_LOG_ECOM_0) {
        switch (trama[2]) {
        case SBG_ECOM_LOG_SHIP_MOTION: {
            uint8_t cerror = ProcesarTramaShipMotion(trama, &auxTimestamp, &auxHeave, clongitud_trama);
            if (CTE_USO_APP_TOV03 != 0) {
                Serial.print("#PTO,");
                Serial.print((double)auxHeave, 2);
            }
            if (cdebug_sensor == 1) {
                Serial1.print("auxHeave=");
                Serial1.print((double)auxHeave, 2);
                Serial1.print(", Round=");
            }
            if (cerror == 0) {
                TernaTiempos1 = auxTimestamp;
                TernaDatos1 = redondeo_heave(auxHeave);
            }
            if (cdebug_sensor == 1) {
                Serial1.println((int)TernaDatos1);
                Serial1.print(",");
            }
            break;
        }
        case SBG_ECOM_LOG_EKF_NAV: {
            uint8_t cerror =
                ProcesarTrama_Navegacion_Posicion_Velocidad(trama, &auxTimestamp, &auxVn, &auxVe, clongitud_trama);
            if (cerror == 0 &&
                (tiempo_ausente(TernaTiempos2) ||
                 distancia_tiempos(auxTimestamp, TernaTiempos1) < distancia_tiempos(TernaTiempos1, TernaTiempos2))) {
                TernaTiempos2 = auxTimestamp;
                TernaDatos2 = auxVn;
                TernaDatos3 = auxVe;
            }
            break;
        }
        case SBG_ECOM_LOG_EKF_EULER: {
            uint8_t cerror = ProcesarTrama_AngulosEuler(trama, &auxTimestamp, &auxYaw, clongitud_trama);
            if (cerror == 0) {
                TernaTiempos0 = auxTimestamp;
                TernaDatos0 = redondeo_yaw(auxYaw);
                if (CTE_USO_APP_TOV03 != 0) {
                    Serial.print(",");
                    Serial.println((unsigned)TernaDatos0);
                }
            }
            break;
        }
        default: break;
        }
    }
    ensamblar_muestra();
}
