#include "muestras.h"

#define DEFINIR_VECTOR_MUESTRA(v, indice) \
    int32_t v##_0 = (indice);             \
    int32_t v##_1 = 0;                    \
    uint16_t v##_2 = 0;                   \
    int16_t v##_3 = 0;                    \
    float v##_4 = 0.0f;                   \
    float v##_5 = 0.0f

DEFINIR_VECTOR_MUESTRA(TernaDatos_pos1, 0);
DEFINIR_VECTOR_MUESTRA(TernaDatos_pos2, 0);
DEFINIR_VECTOR_MUESTRA(TernaDatos_pos3, 0);
DEFINIR_VECTOR_MUESTRA(vIniOla, -1);
DEFINIR_VECTOR_MUESTRA(vFinOla, -1);
DEFINIR_VECTOR_MUESTRA(vMax1, -1);
DEFINIR_VECTOR_MUESTRA(vMax2, -1);
DEFINIR_VECTOR_MUESTRA(vMin, -1);
DEFINIR_VECTOR_MUESTRA(vIntMaxVn, -1);
DEFINIR_VECTOR_MUESTRA(vIntMinVn, -1);
DEFINIR_VECTOR_MUESTRA(vIntMaxVe, -1);
DEFINIR_VECTOR_MUESTRA(vIntMinVe, -1);

uint16_t TernaDatos0 = 0;
int16_t TernaDatos1 = 0;
float TernaDatos2 = 0.0f;
float TernaDatos3 = 0.0f;
int32_t TernaTiempos0 = TIEMPO_NO_RECIBIDO;
int32_t TernaTiempos1 = TIEMPO_NO_RECIBIDO;
int32_t TernaTiempos2 = TIEMPO_NO_RECIBIDO;

uint8_t cventana_completa = 0;
int32_t contPtosOlaActual = 0;
uint32_t imuestras_formadas = 0;
uint16_t mFlagHeading = 0;
uint16_t mFlagAlign = 0;
uint8_t mFlagHeading_Pto = 0;
uint8_t mFlagAlign_Pto = 0;
int32_t TIEMPO_INI = 0;
int32_t TIEMPO_FIN = 0;
uint8_t TENGO_HORA_VALIDA = 0;
uint32_t ContNumPtosOla = 0;

uint8_t CTE_USO_APP_TOV03 = 0;
uint8_t CTE_MODO_TRANSPARENTE = 0;

void Inicializar_TernaTiempos()
{
    TernaTiempos0 = TIEMPO_NO_RECIBIDO;
    TernaTiempos1 = TIEMPO_NO_RECIBIDO;
    TernaTiempos2 = TIEMPO_NO_RECIBIDO;
}
