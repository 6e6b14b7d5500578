#include "registro_raw.h"

#include "../comunicaciones_pc/comunicaciones_pc.h"
#include "../declaraciones/declaraciones.h"
#include "analisis.h"
#include "muestras.h"

// A velocity too large for its field, or not a number, keeps the line's
// layout with a placeholder.
static void insertar_velocidad(float fvelocidad)
{
    // No float lies in [99999.9999, 100000): the limit compares as a float.
    float magnitud = fvelocidad < 0 ? -fvelocidad : fvelocidad;
    if (!(fvelocidad == fvelocidad) || magnitud >= 100000.0f) {
        if (fvelocidad < 0)
            insertamos_mensaje_buffer(cbuffer_raw, "-99999.9999,", TIPO_RAW);
        else
            insertamos_mensaje_buffer(cbuffer_raw, " 99999.9999,", TIPO_RAW);
        return;
    }
    insertamos_variable_float_buffer_v02(cbuffer_raw, fvelocidad, 10, 4, FIN_COMA, TIPO_RAW);
}

void Guardar_Datos_Procesados_RAW()
{
    ibytes_a_escribir_sd[TIPO_RAW] = 0;
    uint8_t valida = TENGO_HORA_VALIDA != 0;
    insertamos_variable_buffer(cbuffer_raw, valida ? cdia_utc : 0, 2, FIN_COMA, TIPO_RAW);
    insertamos_variable_buffer(cbuffer_raw, valida ? cmes_utc : 0, 2, FIN_COMA, TIPO_RAW);
    insertamos_variable_buffer(cbuffer_raw, valida ? cano_utc : 0, 2, FIN_COMA, TIPO_RAW);
    insertamos_variable_buffer(cbuffer_raw, valida ? chora_utc : 0, 2, FIN_COMA, TIPO_RAW);
    insertamos_variable_buffer(cbuffer_raw, valida ? cminuto_utc : 0, 2, FIN_COMA, TIPO_RAW);
    insertamos_variable_buffer(cbuffer_raw, valida ? csegundo_utc : 0, 2, FIN_COMA, TIPO_RAW);
    insertamos_variable_buffer(cbuffer_raw, ContNumPtosOla, 5, FIN_COMA, TIPO_RAW);
    ContNumPtosOla++;
    insertamos_variable_buffer(cbuffer_raw, TernaDatos_pos2_2, 4, FIN_COMA, TIPO_RAW);
    int32_t heave = TernaDatos_pos2_3;
    inserto_caracter_buffer(cbuffer_raw, heave < 0 ? '-' : ' ', TIPO_RAW);
    insertamos_variable_buffer(cbuffer_raw, (uint32_t)(heave < 0 ? -heave : heave), 5, FIN_COMA, TIPO_RAW);
    insertar_velocidad(TernaDatos_pos2_4);
    insertar_velocidad(TernaDatos_pos2_5);
    insertamos_variable_buffer(cbuffer_raw, mFlagHeading_Pto, 1, FIN_COMA, TIPO_RAW);
    insertamos_variable_buffer(cbuffer_raw, mFlagAlign_Pto, 1, FIN_LINEA, TIPO_RAW);
    uint32_t fin = ibytes_a_escribir_sd[TIPO_RAW];
    if (fin >= TAM_BUFFER_RAW) fin = TAM_BUFFER_RAW - 1;
    cbuffer_raw[fin] = 0;
    // Only a raw file present on the card takes the record.
    if (ccreacion_nuevo_fichero[TIPO_RAW] != 0 && existe_fichero_sd(NOMBRE_FICHERO_RAW)) cescritura_sd[TIPO_RAW] = 1;
}
