#include "horario.h"

#include "../comunicaciones_pc/comunicaciones_pc.h"
#include "../declaraciones/declaraciones.h"

int32_t CTE_INTERVALO_PROMEDIO_INTERPRETADO = 15;
uint8_t HHini = 0, MMini = 0, SSini = 0;
uint8_t YY_ini = 0, MM_ini = 0, DD_ini = 0;
uint8_t HHfin = 0, MMfin = 0, SSfin = 0;

// Both the small codes and the minute values themselves are accepted; anything
// else is a 30-minute interval.
int32_t Interpretar_Intervalo_Promedio(int32_t IntPromedio)
{
    switch (IntPromedio) {
    case 0: return 10;
    case 1: return 15;
    case 2: return 20;
    case 3: return 30;
    case 4: return 60;
    case 10: return 10;
    case 15: return 15;
    case 20: return 20;
    case 60: return 60;
    default: return 30;
    }
}

static void imprimir_hora(const char *etiqueta, uint8_t hora, uint8_t minuto, uint8_t segundo)
{
    Serial1.print(etiqueta);
    Serial1.print((unsigned int)hora);
    Serial1.print(":");
    Serial1.print((unsigned int)minuto);
    Serial1.print(":");
    Serial1.println((unsigned int)segundo);
}

// Intervals end one second after a whole multiple of their length past the
// hour; the day's last one ends at 23:59:50 so that the next starts at 00:00:01.
void Determinar_Proxima_Hora_Final(uint8_t recalcular)
{
    if (recalcular == 1) {
        YY_ini = cano_utc;
        MM_ini = cmes_utc;
        DD_ini = cdia_utc;
        if (HHfin == 23 && MMfin == 59 && SSfin > 49) {
            HHini = 0;
            MMini = 0;
            SSini = 1;
        } else {
            HHini = HHfin;
            MMini = MMfin;
            SSini = SSfin;
        }
        HHfin = 0;
        MMfin = 0;
        SSfin = 0;
    } else if (recalcular != 0) {
        return;
    }
    if (HHfin != 0 || MMfin != 0 || SSfin != 0) return;

    if (HHini == 0 && MMini == 0 && SSini == 0) {
        YY_ini = cano_utc;
        MM_ini = cmes_utc;
        DD_ini = cdia_utc;
        HHini = chora_utc;
        MMini = cminuto_utc;
        SSini = csegundo_utc;
    }
    // At exactly midnight nothing is recorded; the next call tries again.
    if (HHini == 0 && MMini == 0 && SSini == 0) return;

    linea();
    imprimir_hora("HH Inicial = ", HHini, MMini, SSini);

    int32_t intervalo = Interpretar_Intervalo_Promedio(CTE_INTERVALO_PROMEDIO);
    CTE_INTERVALO_PROMEDIO_INTERPRETADO = intervalo;
    int32_t minuto = intervalo * ((int32_t)MMini / intervalo + 1);
    if (minuto <= 59) {
        HHfin = HHini;
        MMfin = (uint8_t)minuto;
    } else {
        HHfin = (uint8_t)(HHini + 1);
        MMfin = 0;
    }
    SSfin = 1;
    if (HHfin >= 24) {
        HHfin = 23;
        MMfin = 59;
        SSfin = 50;
    }

    linea();
    Serial1.print("CTE_INTERVALO_PROMEDIO_INTERPRETADO=");
    Serial1.println((long)intervalo);
    linea();
    imprimir_hora("HH Final = ", HHfin, MMfin, SSfin);
}

// Once an hour, at minute 0 second 15 of hours 1 to 22, start and end are
// checked against the clock, which GPS or a command may have moved.
void Revision_Tiempos()
{
    if (cminuto_utc != 0 || csegundo_utc != 15 || chora_utc < 1 || chora_utc > 22) return;

    int32_t intervalo = CTE_INTERVALO_PROMEDIO_INTERPRETADO;
    int32_t minutos_totales_ini = (int32_t)HHini * 60 + MMini;
    int32_t minutos_totales_utc = (int32_t)chora_utc * 60;
    int32_t minutos_totales_fin = (int32_t)HHfin * 60 + MMfin;
    int32_t difIni = minutos_totales_utc - minutos_totales_ini;
    int32_t margen = intervalo - difIni + 5;

    linea();
    Serial1.print("Revision de tiempo: ");
    Serial1.print((long)minutos_totales_fin);
    Serial1.print("-");
    Serial1.print((long)minutos_totales_utc);
    Serial1.print("=");
    Serial1.print((long)(minutos_totales_fin - minutos_totales_utc));
    Serial1.print(">");
    Serial1.print((long)intervalo);
    Serial1.print("-");
    Serial1.print((long)difIni);
    Serial1.print("=");
    Serial1.print((long)margen);
    Serial1.print("(");
    Serial1.print((unsigned int)HHini);
    Serial1.print(":");
    Serial1.print((unsigned int)MMini);
    Serial1.println(")");

    uint8_t reinicio = 0;
    if (difIni < 0 || difIni > intervalo + 5) {
        HHini = MMini = SSini = 0;
        HHfin = MMfin = SSfin = 0;
        Serial1.println("  Reinicio Hora Ini.");
        reinicio = 1;
    } else if (minutos_totales_fin < minutos_totales_utc) {
        HHfin = MMfin = SSfin = 0;
        Serial1.println("  =>Reinicio Hora Fin. (Menor que utc)");
        reinicio = 1;
    }
    if ((minutos_totales_fin - minutos_totales_utc) > margen && reinicio == 0) {
        HHfin = MMfin = SSfin = 0;
        Serial1.println("  =>Reinicio Hora Fin.");
        reinicio = 1;
    }
    if (reinicio == 1) {
        Serial1.print("  =>Reinicio.");
        Determinar_Proxima_Hora_Final(0);
    }
}

// The sensor's stamps are unsigned 32-bit microsecond counters held as signed:
// a span that crosses 2^31 or the wrap comes out 2 less than the plain one.
uint32_t Diferencia_Timespan(int32_t tsIniAux, int32_t tsFinAux)
{
    if (tsFinAux == 0) return 0;
    uint32_t AuxIni = (uint32_t)tsIniAux;
    if (tsIniAux < 0) AuxIni -= 2u;
    uint32_t AuxFin = (uint32_t)tsFinAux;
    if (tsFinAux < 0) AuxFin -= 2u;
    if (AuxIni < AuxFin) return AuxFin - AuxIni;
    return AuxFin - (uint32_t)tsIniAux - 2u;
}
