// Samples of the motion sensor: the latest decoded values with their time
// stamps, the three-sample window and the base points of the wave in progress.
#ifndef WAVES_MUESTRAS_H
#define WAVES_MUESTRAS_H

#include <stdint.h>

// A VectorMuestra is six globals with the suffixes _0 to _5: index, sensor
// time stamp (µs), yaw (whole degrees), heave (cm), north and east velocity (m/s).
#define DECLARAR_VECTOR_MUESTRA(v) \
    extern int32_t v##_0;          \
    extern int32_t v##_1;          \
    extern uint16_t v##_2;         \
    extern int16_t v##_3;          \
    extern float v##_4;            \
    extern float v##_5

// Copies all six components of one VectorMuestra into another.
#define COPIAR_VECTOR(destino, origen) \
    do {                               \
        destino##_0 = origen##_0;      \
        destino##_1 = origen##_1;      \
        destino##_2 = origen##_2;      \
        destino##_3 = origen##_3;      \
        destino##_4 = origen##_4;      \
        destino##_5 = origen##_5;      \
    } while (0)

// The window, oldest to newest; index 0 marks an empty slot.
DECLARAR_VECTOR_MUESTRA(TernaDatos_pos1);
DECLARAR_VECTOR_MUESTRA(TernaDatos_pos2);
DECLARAR_VECTOR_MUESTRA(TernaDatos_pos3);
// Base points of the wave in progress; index -1 marks a point not fixed yet.
DECLARAR_VECTOR_MUESTRA(vIniOla);
DECLARAR_VECTOR_MUESTRA(vFinOla);
DECLARAR_VECTOR_MUESTRA(vMax1);
DECLARAR_VECTOR_MUESTRA(vMax2);
DECLARAR_VECTOR_MUESTRA(vMin);
DECLARAR_VECTOR_MUESTRA(vIntMaxVn);
DECLARAR_VECTOR_MUESTRA(vIntMinVn);
DECLARAR_VECTOR_MUESTRA(vIntMaxVe);
DECLARAR_VECTOR_MUESTRA(vIntMinVe);

// Latest decoded values and the sensor time stamps they came with (-1000:
// not received since the last sample).
extern uint16_t TernaDatos0;
extern int16_t TernaDatos1;
extern float TernaDatos2;
extern float TernaDatos3;
extern int32_t TernaTiempos0;
extern int32_t TernaTiempos1;
extern int32_t TernaTiempos2;
#define TIEMPO_NO_RECIBIDO (-1000)

// 1 once the window has been full since start-up: from then on every sample
// shifts in, whatever the indices of the slots.
extern uint8_t cventana_completa;

extern int32_t contPtosOlaActual;
// Samples put into the window since start-up (all-zero samples are not).
extern uint32_t imuestras_formadas;
extern uint16_t mFlagHeading;
extern uint16_t mFlagAlign;
extern uint8_t mFlagHeading_Pto;
extern uint8_t mFlagAlign_Pto;
extern int32_t TIEMPO_INI;
extern int32_t TIEMPO_FIN;
extern uint8_t TENGO_HORA_VALIDA;
extern uint32_t ContNumPtosOla;

// Switches set by command.
extern uint8_t CTE_USO_APP_TOV03;
extern uint8_t CTE_MODO_TRANSPARENTE;

void Inicializar_TernaTiempos();

#endif
