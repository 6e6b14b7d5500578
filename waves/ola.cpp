// Per-wave parameters: height, period, samples, direction and quality of an
// accepted wave; the interval accumulators, the ".wav" record, the debug
// summary and the "#OLA," line.
#include <stdlib.h>

#include "../comunicaciones_pc/comunicaciones_pc.h"
#include "../declaraciones/declaraciones.h"
#include "analisis.h"
#include "horario.h"
#include "muestras.h"
#include "vectores_olas.h"

uint16_t mAltMaxOla = 0;
uint16_t mPeriodoPico = 0;
uint16_t mPeriodoMax = 0;
uint32_t mAltPromedio = 0;
uint32_t mPeriodoPromedio = 0;
uint32_t mFlagHeadingPromedio = 0;
uint32_t mFlagAlignPromedio = 0;
uint16_t *mVectorAlt = nullptr;
uint16_t *mVectorPer = nullptr;
uint16_t *mVectorDirMetVel = nullptr;
uint16_t *mVectorDirMetDer = nullptr;
uint32_t iElementosVectorAlt = 0;
uint32_t iElementosVectorPer = 0;
uint32_t iElementosVectorDirMetVel = 0;
uint32_t iElementosVectorDirMetDer = 0;
void *(*pfrealloc_vectores_olas)(void *bloque, size_t bytes) = realloc;
uint8_t yy_ola = 0, mm_ola = 0, dd_ola = 0, HH_ola = 0, MM_ola = 0;

void guardar_en_vector_olas(uint16_t **pvector, uint32_t *pelementos, uint16_t valor, const char *etiqueta,
                            const char *error, uint8_t mostrar)
{
    if (nOlas < 1) return;
    uint32_t k = (uint32_t)(nOlas - 1);
    // An array that lost its growth earlier in the interval takes no more waves.
    if (*pvector == nullptr || k >= *pelementos) return;
    (*pvector)[k] = valor;
    if (mostrar == 1) {
        Serial1.print(etiqueta);
        Serial1.print((unsigned long)k);
        Serial1.print(") = ");
        Serial1.print((unsigned int)valor);
        Serial1.print(" => ");
        Serial1.println((unsigned int)(*pvector)[k]);
    }
    uint32_t elementos = k + 2;
    void *nuevo = pfrealloc_vectores_olas(*pvector, (size_t)elementos * sizeof(uint16_t));
    if (nuevo == nullptr) {
        Serial1.println(error);
        return;
    }
    *pvector = (uint16_t *)nuevo;
    *pelementos = elementos;
}

// A percentage of the wave's samples, kept within 0..100 before it is narrowed.
static uint16_t porcentaje_muestras(uint16_t cuenta, uint32_t NumPtosOla)
{
    float f = (float)cuenta / (float)(NumPtosOla - 1u) * 100.0f;
    if (!(f < 100.0f)) return 100;
    if (f < 0.0f) return 0;
    return (uint16_t)f;
}

void Calcular_Parametros_Salida_Ola()
{
    uint16_t Dir_MetVel = DIRECCION_NO_CALCULADA;
    uint16_t Dir_MetDer = DIRECCION_NO_CALCULADA;
    uint8_t metodo = CTE_METODO_DIRECCION_DEFINITIVA;
    if (metodo == 0) {
        Dir_MetVel = Calculo_Direccion_Metodo_Velocidad();
    } else if (metodo == 1) {
        Dir_MetDer = Calculo_Direccion_Metodo_Deriva();
    } else if (metodo == 2) {
        Dir_MetVel = Calculo_Direccion_Metodo_Velocidad();
        Dir_MetDer = Calculo_Direccion_Metodo_Deriva();
    }

    // Truncated here, while the validation rounded it.
    uint32_t microsegundos = Diferencia_Timespan(vIniOla_1, vFinOla_1);
    float fperiodo = (float)microsegundos / 1000000.0f * 10.0f;
    uint16_t Periodo = (fperiodo >= 65535.0f) ? 65535 : (uint16_t)fperiodo;
    if (cdebug_sensor == 1) {
        Serial1.print("Periodo=");
        Serial1.print((long)vIniOla_1);
        Serial1.print(", ");
        Serial1.print((long)vFinOla_1);
        Serial1.print(", ");
        Serial1.print((unsigned long)microsegundos);
        Serial1.print(", ");
        Serial1.print((unsigned int)Periodo);
        Serial1.println(", ");
    }

    int32_t altura = (int32_t)vMax2_3 - (int32_t)vMin_3;
    uint16_t Altura = (altura < 0) ? 0 : (altura > 65535 ? 65535 : (uint16_t)altura);
    uint32_t ini = (vIniOla_0 < 0) ? 0u - (uint32_t)vIniOla_0 : (uint32_t)vIniOla_0;
    uint32_t NumPtosOla = (uint32_t)vFinOla_0 - ini + 1u;
    if (cdebug_sensor == 1) {
        Serial1.print("NumPtosOla=");
        Serial1.print((long)vFinOla_0);
        Serial1.print(", ");
        Serial1.print((long)vIniOla_0);
        Serial1.print(", ");
        Serial1.print((unsigned long)NumPtosOla);
        Serial1.println(", ");
    }

    // On a tie of heights the earlier wave keeps its peak period.
    if (mAltMaxOla < Altura) {
        mAltMaxOla = Altura;
        mPeriodoPico = Periodo;
    }
    if (mPeriodoMax < Periodo) mPeriodoMax = Periodo;
    mAltPromedio += Altura;
    mPeriodoPromedio += Periodo;

    guardar_en_vector_olas(&mVectorAlt, &iElementosVectorAlt, Altura, "mVectorAlt  pos(",
                           "Error en realloc de mVectorAlt", mVisualizar_InfoExtra);
    guardar_en_vector_olas(&mVectorPer, &iElementosVectorPer, Periodo, "mVectorPer  pos(",
                           "Error en realloc de mVectorPer", mVisualizar_InfoExtra);

    if (NumPtosOla > 1u) {
        mFlagHeading = porcentaje_muestras(mFlagHeading, NumPtosOla);
        mFlagAlign = porcentaje_muestras(mFlagAlign, NumPtosOla);
        mFlagHeadingPromedio += mFlagHeading;
        mFlagAlignPromedio += mFlagAlign;
    }

    Construir_Registro_Wav(Altura, Periodo, NumPtosOla, Dir_MetVel, Dir_MetDer, mFlagHeading, mFlagAlign);

    Serial1.print("IndOla=");
    Serial1.print((long)nOlas);
    Serial1.print(" Altura=");
    Serial1.print((unsigned int)Altura);
    Serial1.print(" Periodo=");
    Serial1.print((unsigned int)Periodo);
    Serial1.print(" NumPtosOla=");
    Serial1.print((unsigned long)NumPtosOla);
    Serial1.print(" Dir(MetVel)=");
    Serial1.print((unsigned int)Dir_MetVel);
    Serial1.print(" Dir(MetDer)=");
    Serial1.print((unsigned int)Dir_MetDer);
    Serial1.print(" FlagHeading=");
    Serial1.print((unsigned int)mFlagHeading);
    Serial1.print(" FlagAlign=");
    Serial1.print((unsigned int)mFlagAlign);
    if (mVisualizar_InfoExtra == 1) {
        Serial1.println();
        linea_igual_187();
    }

    if (CTE_USO_APP_TOV03 != 0) {
        Serial.print("#OLA,");
        Serial.print((long)nOlas);
        Serial.print(",");
        Serial.print((unsigned int)Altura);
        Serial.print(",");
        Serial.print((unsigned int)Periodo);
        Serial.print(",");
        Serial.println((unsigned int)Dir_MetVel);
    }

    yy_ola = cano_utc;
    mm_ola = cmes_utc;
    dd_ola = cdia_utc;
    HH_ola = chora_utc;
    MM_ola = cminuto_utc;
    Serial1.print("                Fecha Ola: ");
    Serial1.print((unsigned int)yy_ola);
    Serial1.print("-");
    Serial1.print((unsigned int)mm_ola);
    Serial1.print("-");
    Serial1.print((unsigned int)dd_ola);
    Serial1.print("  ");
    Serial1.print((unsigned int)HH_ola);
    Serial1.print(":");
    Serial1.println((unsigned int)MM_ola);
}

void linea_igual_187()
{
    for (int i = 0; i < 187; i++) Serial1.write((uint8_t)'=');
    Serial1.println();
}

void Construir_Registro_Wav(uint16_t Altura, uint16_t Periodo, uint32_t NumPtosOla, uint16_t Dir_MetVel,
                            uint16_t Dir_MetDer, uint16_t Heading, uint16_t Align)
{
    uint8_t metodo = CTE_METODO_DIRECCION_DEFINITIVA;
    ibytes_a_escribir_sd[TIPO_WAV] = 0;
    insertamos_variable_buffer(cbuffer_wav, cdia_utc, 2, FIN_COMA, TIPO_WAV);
    insertamos_variable_buffer(cbuffer_wav, cmes_utc, 2, FIN_COMA, TIPO_WAV);
    insertamos_variable_buffer(cbuffer_wav, cano_utc, 2, FIN_COMA, TIPO_WAV);
    insertamos_variable_buffer(cbuffer_wav, chora_utc, 2, FIN_COMA, TIPO_WAV);
    insertamos_variable_buffer(cbuffer_wav, cminuto_utc, 2, FIN_COMA, TIPO_WAV);
    insertamos_variable_buffer(cbuffer_wav, (uint32_t)nOlas, 5, ' ', TIPO_WAV);
    insertamos_variable_buffer(cbuffer_wav, Altura, 4, ' ', TIPO_WAV);
    insertamos_variable_buffer(cbuffer_wav, Periodo, 3, ' ', TIPO_WAV);
    insertamos_variable_buffer(cbuffer_wav, NumPtosOla, 5, ' ', TIPO_WAV);
    if (metodo == 0 || metodo == 2) insertamos_variable_buffer(cbuffer_wav, Dir_MetVel, 4, ' ', TIPO_WAV);
    if (metodo == 1 || metodo == 2) insertamos_variable_buffer(cbuffer_wav, Dir_MetDer, 4, ' ', TIPO_WAV);
    insertamos_variable_buffer(cbuffer_wav, Heading, 3, ' ', TIPO_WAV);
    insertamos_variable_buffer(cbuffer_wav, Align, 3, FIN_LINEA, TIPO_WAV);
    if (ibytes_a_escribir_sd[TIPO_WAV] < TAM_BUFFER_WAV) cbuffer_wav[ibytes_a_escribir_sd[TIPO_WAV]] = 0;
    if (ccreacion_nuevo_fichero[TIPO_WAV] != 0 && existe_fichero_sd(NOMBRE_FICHERO_WAV)) cescritura_sd[TIPO_WAV] = 1;
}
