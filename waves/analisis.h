// Wave analysis: segmentation, per-wave parameters, direction and interval statistics.
#ifndef WAVES_ANALISIS_H
#define WAVES_ANALISIS_H

#include <stddef.h>
#include <stdint.h>

#include "../plataforma/wstring.h"

// ---------------------------------------------------------------- segmentation
extern int32_t nOlas;
extern uint16_t CONTADOR_OLAS_DESCARTADAS;
extern uint8_t CTE_METODO_DIRECCION_DEFINITIVA;

// Per-sample driver, called once the window is full.
void ProcesarTernaDatos();
void Detectar_Vectores_Base();
int Vectores_Base_Fijados();
void Inicializar_Vectores_Base();
void Comenzar_Proceso_Nueva_Ola();

// Whether a file of the card exists; an empty path is no file.
bool existe_fichero_sd(const String &nombre);

// ---------------------------------------------------------------- per wave
// Interval accumulators.
extern uint16_t mAltMaxOla;
extern uint16_t mPeriodoPico;
extern uint16_t mPeriodoMax;
extern uint32_t mAltPromedio;
extern uint32_t mPeriodoPromedio;
extern uint32_t mFlagHeadingPromedio;
extern uint32_t mFlagAlignPromedio;
// Per-wave arrays on the heap and the elements each has room for. After a
// failed growth an array keeps its block and takes no more waves until the
// next interval, so it holds the first min(nOlas, elements) waves.
extern uint16_t *mVectorAlt;
extern uint16_t *mVectorPer;
extern uint16_t *mVectorDirMetVel;
extern uint16_t *mVectorDirMetDer;
extern uint32_t iElementosVectorAlt;
extern uint32_t iElementosVectorPer;
extern uint32_t iElementosVectorDirMetVel;
extern uint32_t iElementosVectorDirMetDer;
// The allocator of the per-wave arrays (realloc; replaceable to exercise a
// failed growth).
extern void *(*pfrealloc_vectores_olas)(void *bloque, size_t bytes);
// Date of the last wave.
extern uint8_t yy_ola, mm_ola, dd_ola, HH_ola, MM_ola;

void Calcular_Parametros_Salida_Ola();

// ---------------------------------------------------------------- direction
#define DIRECCION_NO_CALCULADA 9999
extern float mVel_SumNorte, mVel_SumEste;
extern float mDer_SumNorte, mDer_SumEste;

uint16_t Calculo_Direccion_Metodo_Velocidad();
uint16_t Calculo_Direccion_Metodo_Deriva();
void Calculos_Deriva_Vn(float *V_t1, float *V_t2);
void Calculos_Deriva_Ve(float *V_t1, float *V_t2);
uint16_t Tranformar_Angulo(float Angulo);

// ---------------------------------------------------------------- interval statistics
extern uint8_t CONTADOR_CERO_OLAS;
extern const uint32_t CTE_TAM_TRAMA_RES;
extern uint32_t ctam_trama_promedio;
extern uint8_t resSdOk;
extern int32_t tsIni;
extern int32_t tsFin;

void Calcular_Parametros_Salida_Ola_Promedio();
void Comenzar_Proceso_Nuevo_Promedio_Olas();
void quicksort(uint16_t *u, uint16_t *v, int izq, int der);
int pivot(uint16_t *u, uint16_t *v, int izq, int der);

#endif
