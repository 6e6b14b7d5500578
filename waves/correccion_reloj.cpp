// The tick period is measured against the sensor's microsecond time stamps
// once after start-up, and against GPS time between two good fixes when the
// internal clock has drifted by more than 15 s. Every new period is applied
// to the timer at once, kept within its limits and stored.
#include "correccion_reloj.h"

#include <math.h>

#include "../declaraciones/declaraciones.h"
#include "../principal/principal.h"
#include "../virtual_e2prom/virtual_e2prom.h"
#include "horario.h"
#include "muestras.h"

uint8_t Tiempo_Ajustar_Hora = 1;
uint8_t Tiempo_Capturar_Hora_Inicial = 1;
uint8_t Tiempo_Revision_Hora_GPS = 0;
uint32_t CONT_TIEMPO_MICRO_FINAL = 0;
int32_t Tiempo_SBG_Ini = 0, Tiempo_SBG_Fin = 0, Tiempo_SBG_Diferencia = 0;
double Tiempo_Calculo = 0;
uint8_t cdia_gps_anterior = 0, chora_gps_anterior = 0, cminuto_gps_anterior = 0, csegundo_gps_anterior = 0;
uint8_t cdia_comparativa = 0, chora_comparativa = 0, cminuto_comparativa = 0, csegundo_comparativa = 0;
int32_t Tiempo_Diferencia_gps = 0;
int32_t Tiempo_Diferencia_Comparativa = 0;
int32_t Tiempo_Resta = 0;

namespace {

const char LINEA_LIMITES[] = "Limites establecidos permitidos: [46500, 49500]  OJO!!";

// 1 / ratio as a period, rounded half away from zero and kept within the
// limits; an infinite or undefined ratio ends at the upper limit.
int32_t periodo_de(double ratio)
{
    if (ratio == 0.0) return VELOCIDAD_RELOJ_MAXIMA;
    if (!(ratio > 0.0)) return VELOCIDAD_RELOJ_MINIMA;
    double v = 1.0 / ratio;
    if (!(v <= (double)VELOCIDAD_RELOJ_MAXIMA)) return VELOCIDAD_RELOJ_MAXIMA;
    if (v < (double)VELOCIDAD_RELOJ_MINIMA) return VELOCIDAD_RELOJ_MINIMA;
    return (int32_t)floor(v + 0.5);
}

int32_t limitar(int32_t v)
{
    if (v > VELOCIDAD_RELOJ_MAXIMA) return VELOCIDAD_RELOJ_MAXIMA;
    if (v < VELOCIDAD_RELOJ_MINIMA) return VELOCIDAD_RELOJ_MINIMA;
    return v;
}

void aplicar_periodo()
{
    configureTCC0((uint16_t)CTE_VELOCIDAD_RELOJ, 1);
    escritura_variable_Velocidad_Reloj((uint16_t)CTE_VELOCIDAD_RELOJ);
}

void trazar_hora(const char *titulo, uint8_t h, uint8_t m, uint8_t s)
{
    Serial1.print(titulo);
    Serial1.print(h);
    Serial1.print(":");
    Serial1.print(m);
    Serial1.print(":");
    Serial1.println(s);
}

int32_t segundos_del_dia(uint8_t h, uint8_t m, uint8_t s) { return (int32_t)h * 3600 + (int32_t)m * 60 + s; }

void comparacion_con_gps()
{
    Tiempo_Revision_Hora_GPS = 0;
    Tiempo_Capturar_Hora_Inicial = 0;
    Tiempo_Ajustar_Hora = 0;
    trazar_hora("Hora anterior GPS:", chora_gps_anterior, cminuto_gps_anterior, csegundo_gps_anterior);
    trazar_hora("Hora actual UTC:", chora_comparativa, cminuto_comparativa, csegundo_comparativa);
    trazar_hora("Hora actual GPS:", chora_gps, cminuto_gps, csegundo_gps);
    Serial1.print("CTE_VELOCIDAD_RELOJ: ");
    Serial1.println((long)CTE_VELOCIDAD_RELOJ);

    int32_t anterior = segundos_del_dia(chora_gps_anterior, cminuto_gps_anterior, csegundo_gps_anterior);
    Tiempo_Diferencia_gps = segundos_del_dia(chora_gps, cminuto_gps, csegundo_gps) - anterior;
    if (cdia_gps_anterior != cdia_gps) {
        Serial1.println("Cambio de dia. ");
        Tiempo_Diferencia_gps += 86400;
    }
    Tiempo_Diferencia_Comparativa =
        segundos_del_dia(chora_comparativa, cminuto_comparativa, csegundo_comparativa) - anterior;
    if (cdia_gps_anterior != cdia_comparativa) {
        Serial1.println("Cambio de dia. ");
        Tiempo_Diferencia_Comparativa += 86400;
    }
    Tiempo_Resta = Tiempo_Diferencia_gps - Tiempo_Diferencia_Comparativa;
    Serial1.print("RESTA TIEMPOS: ");
    Serial1.print((long)Tiempo_Resta);
    Serial1.print(" segundos. ");
    Serial1.print(" Dif Gps(1)-Gpx(0)=");
    Serial1.print((long)Tiempo_Diferencia_gps);
    Serial1.print(" Dif UtcMicro(1)-Gps(0)=");
    Serial1.print((long)Tiempo_Diferencia_Comparativa);
    Serial1.println("; ");

    if (Tiempo_Resta > 15 || Tiempo_Resta < -15) {
        if (Tiempo_Diferencia_Comparativa > 0) {
            Tiempo_Calculo = (1.0 / (double)CTE_VELOCIDAD_RELOJ) * (double)Tiempo_Diferencia_gps /
                             (double)Tiempo_Diferencia_Comparativa;
            CTE_VELOCIDAD_RELOJ = periodo_de(Tiempo_Calculo);
        } else {
            Tiempo_Calculo = 0;
            CTE_VELOCIDAD_RELOJ = VELOCIDAD_RELOJ_NOMINAL;
        }
        CTE_VELOCIDAD_RELOJ = limitar(CTE_VELOCIDAD_RELOJ);
        aplicar_periodo();
    }
    Serial1.print("CALCULO CON GPS:");
    Serial1.println((long)CTE_VELOCIDAD_RELOJ);
    Serial1.println(LINEA_LIMITES);

    cdia_gps_anterior = cdia_gps;
    chora_gps_anterior = chora_gps;
    cminuto_gps_anterior = cminuto_gps;
    csegundo_gps_anterior = csegundo_gps;
    trazar_hora("Hora anterior GPS (Actualizacion): ", chora_gps_anterior, cminuto_gps_anterior,
                csegundo_gps_anterior);
}

// Both ends of the measurement must fall on samples that reached us as soon
// after their stamps as any: a sample that waited in the port behind a busy
// loop (a GPS burst holds it for a fifth of a second, a card write for a
// while) carries a stamp from before the moment it is counted at, and the
// whole wait would count as drift. So each end is chosen among the samples of
// a few seconds: it moves on to a later sample whenever that one came sooner
// after its stamp, by at least the millisecond that both clocks read here
// resolve. Comparing samples a few seconds apart, the oscillator's own error
// is far below that millisecond.
const int32_t MEJORA_MINIMA_MS = 1;

// Processing time (ms) of the sample the measurement started on, and the end
// held while later samples may still take its place (count -1: none held).
uint32_t ms_inicio_medida = 0;
int32_t cuenta_fin_medida = -1;
int32_t sello_fin_medida = 0;
uint32_t ms_fin_medida = 0;

// Internal time is counted in tenths of a second, and a tenth is a long step
// against a minute: the count's steps fall where the tick's dividers wrap,
// and a sample just before or just after a step makes a whole tenth of
// difference (1700 ppm). So each end also reads where the tick stands within
// its tenth, and the measured span is whole tenths plus the difference of the
// two positions, to the millisecond.
int32_t ms_base_medida = 0;   // count x 100 + position at the start
int32_t ms_fin_tick = 0;      // the same at the held end

// The count and the position within its tenth, read again until the tick
// did not move between the reads.
int32_t ms_del_tick(int32_t *cuenta)
{
    int32_t c;
    uint8_t d, m;
    do {
        c = CONT_TIEMPO_MICRO_ACUMULADO;
        d = cacciones_cada_100milisegundos;
        m = cacciones_cada_10milisegundos;
    } while (c != CONT_TIEMPO_MICRO_ACUMULADO || d != cacciones_cada_100milisegundos ||
             m != cacciones_cada_10milisegundos);
    *cuenta = c;
    return c * 100 + (int32_t)d * 10 + (int32_t)m;
}

// A start may move on during the first seconds after it was asked for: long
// enough for the loop to get past a blocking step (the receiver's
// configuration holds it for a few seconds right after start-up) and drain
// the samples that waited meanwhile. The end is chosen among the samples of
// the seconds after the count passed its minute, which always hold some that
// no GPS burst or card write held up. With the oscillator far off (up to 3 %
// within the period's limits) an on-time sample may look fresher than an
// earlier on-time one, which costs nothing.
const uint32_t VENTANA_INICIO_MS = 5000;
const uint32_t VENTANA_FIN_MS = 3000;
uint32_t ms_primer_inicio = 0;
uint32_t ms_primer_fin = 0;

// Whether the current sample waited less after its stamp than the sample of
// the given stamp, processed at the given time.
bool muestra_mas_reciente_que(int32_t sello, uint32_t ms)
{
    int32_t sensor_us = (int32_t)((uint32_t)TernaTiempos1 - (uint32_t)sello);
    if (sensor_us <= 0) return false;
    int32_t procesado_ms = (int32_t)(millis() - ms);
    return sensor_us / 1000 - procesado_ms >= MEJORA_MINIMA_MS;
}

void inicio_medida_sensor()
{
    ms_inicio_medida = millis();
    cuenta_fin_medida = -1;
    Tiempo_Revision_Hora_GPS = 0;
    Tiempo_Capturar_Hora_Inicial = 0;
    Tiempo_SBG_Ini = TernaTiempos1;
    CONT_TIEMPO_MICRO_ACUMULADO = 0;
    int32_t cuenta;
    ms_base_medida = ms_del_tick(&cuenta);
    Serial1.print("TIEMPOS Inicio:");
    Serial1.println((long)Tiempo_SBG_Ini);
}

void retener_fin_medida()
{
    int32_t cuenta;
    ms_fin_tick = ms_del_tick(&cuenta);
    cuenta_fin_medida = cuenta;
    sello_fin_medida = TernaTiempos1;
    ms_fin_medida = millis();
}

void fin_medida_sensor(int32_t cuenta, int32_t sello)
{
    cuenta_fin_medida = -1;
    CONT_TIEMPO_MICRO_FINAL = (uint32_t)cuenta;
    Tiempo_SBG_Fin = sello;
    CONT_TIEMPO_MICRO_ACUMULADO = -1;
    Tiempo_SBG_Diferencia = (int32_t)Diferencia_Timespan(Tiempo_SBG_Ini, Tiempo_SBG_Fin);
    Serial1.print("TIEMPOS SBG: ");
    Serial1.print((long)Tiempo_SBG_Fin);
    Serial1.print("-");
    Serial1.print((long)Tiempo_SBG_Ini);
    Serial1.print("=");
    Serial1.print((long)Tiempo_SBG_Diferencia);
    Serial1.print(" ; ");
    Serial1.print("CONTADORES DE MICRO: ");
    Serial1.print((unsigned long)CONT_TIEMPO_MICRO_FINAL);
    Serial1.print(" ==> ");
    int32_t interno_ms = ms_fin_tick - ms_base_medida;
    if (CONT_TIEMPO_MICRO_FINAL != 0 && interno_ms > 0) {
        Tiempo_Calculo = (1.0 / (double)CTE_VELOCIDAD_RELOJ) * ((double)Tiempo_SBG_Diferencia / 1000.0) /
                         (double)interno_ms;
        CTE_VELOCIDAD_RELOJ = periodo_de(Tiempo_Calculo);
    } else {
        Tiempo_Calculo = 0;
        CTE_VELOCIDAD_RELOJ = VELOCIDAD_RELOJ_NOMINAL;
    }
    CTE_VELOCIDAD_RELOJ = limitar(CTE_VELOCIDAD_RELOJ);
    Serial1.print("CALCULO MICRO vs SBG: ");
    Serial1.print((long)CTE_VELOCIDAD_RELOJ);
    Serial1.println(";");
    Serial1.println(LINEA_LIMITES);
    aplicar_periodo();
    Tiempo_Ajustar_Hora = 0;
}

}  // namespace

void Correccion_Reloj_porWaves()
{
    if (Tiempo_Ajustar_Hora != 1) return;
    if (Tiempo_Revision_Hora_GPS == 1) {
        comparacion_con_gps();
        return;
    }
    if (Tiempo_Capturar_Hora_Inicial == 1) {
        inicio_medida_sensor();
        ms_primer_inicio = ms_inicio_medida;
        return;
    }
    // One read of the count shared with the tick chooses the step; an end
    // keeps the count read together with the tick's position.
    int32_t cuenta = CONT_TIEMPO_MICRO_ACUMULADO;
    if (cuenta_fin_medida >= 0) {
        if (millis() - ms_primer_fin >= VENTANA_FIN_MS)
            fin_medida_sensor(cuenta_fin_medida, sello_fin_medida);
        else if (muestra_mas_reciente_que(sello_fin_medida, ms_fin_medida))
            retener_fin_medida();
    } else if (cuenta > 600) {
        retener_fin_medida();
        ms_primer_fin = ms_fin_medida;
    } else if (cuenta >= 0 && millis() - ms_primer_inicio < VENTANA_INICIO_MS &&
               muestra_mas_reciente_que(Tiempo_SBG_Ini, ms_inicio_medida)) {
        inicio_medida_sensor();
    }
}
