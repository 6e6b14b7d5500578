// Start-up of the wave analysis with the printout of the working settings,
// the counting of starts and the daily budget of starts.
#include "waves.h"

#include "../comunicaciones_pc/comunicaciones_pc.h"
#include "../declaraciones/declaraciones.h"
#include "../modulo_gps/modulo_gps.h"
#include "../virtual_e2prom/virtual_e2prom.h"

uint8_t CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET = 1;

// Starts allowed in one day before SD writing is withdrawn for the rest of it.
#define CTE_MAXIMO_REINICIOS_24H 30

#define TABULADORES_REVISION "\t\t\t\t\t\t\t\t\t\t\t\t\t\t"

static void imprimir_ajuste(const char *etiqueta, long valor)
{
    Serial1.print(etiqueta);
    Serial1.println(valor);
}

void Inicializar()
{
    CTE_METODO_DIRECCION_DEFINITIVA = CTE_METODO_DIRECCION;
    Inicializar_TernaTiempos();
    Inicializar_Vectores_Base();
    Comenzar_Proceso_Nuevo_Promedio_Olas();
    CTE_INTERVALO_PROMEDIO_INTERPRETADO = Interpretar_Intervalo_Promedio(CTE_INTERVALO_PROMEDIO);
    TernaDatos_pos1_0 = 0;
    TernaDatos_pos2_0 = 0;
    TernaDatos_pos3_0 = 0;
    TENGO_HORA_VALIDA = 0;

    linea();
    imprimir_ajuste("choras_sincronizacion_gps=", choras_sincronizacion_gps);
    imprimir_ajuste("CTE_FACTOR_CORRECCION_DIRECCION_STANDAR=", CTE_FACTOR_CORRECCION_DIRECCION_STANDAR);
    imprimir_ajuste("CTE_METODO_DIRECCION=", CTE_METODO_DIRECCION);
    imprimir_ajuste("CTE_PROCESAR_OLA_ALTURA_MINIMA=", (long)CTE_PROCESAR_OLA_ALTURA_MINIMA);
    imprimir_ajuste("CTE_PROCESAR_OLA_ALTURA_MAXIMA=", (long)CTE_PROCESAR_OLA_ALTURA_MAXIMA);
    imprimir_ajuste("CTE_PROCESAR_OLA_PERIODO_MINIMO=", CTE_PROCESAR_OLA_PERIODO_MINIMO);
    imprimir_ajuste("CTE_PROCESAR_OLA_PERIODO_MAXIMO=", CTE_PROCESAR_OLA_PERIODO_MAXIMO);
    imprimir_ajuste("CTE_INTERVALO_PROMEDIO=", (long)CTE_INTERVALO_PROMEDIO);
    imprimir_ajuste("CTE_INTERVALO_PROMEDIO_INTERPRETADO=", (long)CTE_INTERVALO_PROMEDIO_INTERPRETADO);
    imprimir_ajuste("cfrecuencia_muestreo=", cfrecuencia_muestreo);
    imprimir_ajuste("csensor_con_gps=", csensor_con_gps);
    imprimir_ajuste("cg_impacto_leve=", cg_impacto_leve);
    imprimir_ajuste("cg_impacto_medio=", cg_impacto_medio);
    imprimir_ajuste("cg_impacto_grave=", cg_impacto_grave);
    Serial1.print("icanales_activados_sensor=");
    Serial1.println((unsigned long)icanales_activados_sensor);

    Actualizar_Numero_Reinicios();

    Serial1.print("CTE_PERMITIR_ESCRITURA_SD=");
    Serial1.print((unsigned int)CTE_PERMITIR_ESCRITURA_SD);
    Serial1.print("/");
    Serial1.print((unsigned int)CTE_PERMITIR_ESCRITURA_SD_EEPROM);
    Serial1.print("/");
    Serial1.println((unsigned int)lectura_variable_permitir_escritura_SD());
    Serial1.print("BAUDRATE=");
    Serial1.println((unsigned long)CTE_BAUDRATE_TOV);
    Serial1.print("CTE_PERMITIR_AJUSTE_RELOJ=");
    Serial1.println((unsigned int)CTE_AJUSTE_RELOJ);
    Serial1.print("CTE_VELOCIDAD_RELOJ=");
    Serial1.print((long)CTE_VELOCIDAD_RELOJ);
    Serial1.print(" / EEPROM=");
    Serial1.println((unsigned int)lectura_variable_Velocidad_Reloj());
    Serial1.print("% OCUPADO SD=");
    Serial1.println((unsigned int)CTE_PORCENTAJE_FULL_SD);
}

uint16_t Actualizar_Numero_Reinicios()
{
    uint16_t total = (uint16_t)(lectura_variable_contador_reinicios() + 1u);
    escritura_variable_contador_reinicios(total);
    Serial1.print("n\xBA reinicios = ");
    Serial1.print((unsigned int)total);
    Serial1.print(" / ");
    Serial1.print((unsigned int)REINICIOS_24H);
    Serial1.print(" (");
    Serial1.print((unsigned int)REINICIOS_24H_DIA);
    Serial1.println(")");
    return total;
}

// The first review of a day sets the day's baseline of starts; a later one
// the same day withdraws SD writing when the day has had too many starts.
void Revision_Resets_24h()
{
    cRevision_Resets_24h = 0;
    linea();
    Serial1.println(TABULADORES_REVISION "==> Revision resets 24h: ");
    if (cano_utc != 0) {
        if (REINICIOS_24H_DIA != cdia_utc) {
            Serial1.print(TABULADORES_REVISION "==> Nuevo d\xED"
                                               "a: Resets 24h: Inicializacion.");
            CTE_PERMITIR_ESCRITURA_SD = CTE_PERMITIR_ESCRITURA_SD_EEPROM;
            escritura_variable_contador_reinicios_24H_DIA(cdia_utc);
            REINICIOS_24H_DIA = cdia_utc;
            uint16_t total = lectura_variable_contador_reinicios();
            escritura_variable_contador_reinicios_24H(total);
            REINICIOS_24H = total;
            CONT_TRAMAS_GPS = 2;
        } else if (CTE_PERMITIR_ESCRITURA_SD_EEPROM != 0) {
            uint16_t total = lectura_variable_contador_reinicios();
            if (total < REINICIOS_24H) {
                Serial1.print("Igualamos.");
                escritura_variable_contador_reinicios_24H(total);
                REINICIOS_24H = total;
            }
            uint16_t diferencia = (uint16_t)(total - REINICIOS_24H);
            Serial1.print(TABULADORES_REVISION "==> Diferencia de resets= ");
            Serial1.print((unsigned int)total);
            Serial1.print(" - ");
            Serial1.print((unsigned int)REINICIOS_24H);
            Serial1.print(" = ");
            Serial1.println((unsigned int)diferencia);
            if (diferencia > CTE_MAXIMO_REINICIOS_24H) {
                Serial1.print(TABULADORES_REVISION "==> Prohibida la escritura en SD por N\xBA resets 24 superado:");
                Serial1.println((unsigned int)diferencia);
                CTE_PERMITIR_ESCRITURA_SD = 0;
            } else {
                CTE_PERMITIR_ESCRITURA_SD = 1;
            }
        }
    }
    linea();
}
