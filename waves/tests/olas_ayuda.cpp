#include "olas_ayuda.h"

#include <math.h>

#include "declaraciones/declaraciones.h"
#include "waves/waves.h"

int32_t iSelloSiguiente = 1000000;
int32_t iPasoSello = 100000;
static bool ventana_llena = false;

void poner_reloj(int dia, int mes, int ano, int hora, int minuto, int segundo)
{
    cdia_utc = (uint8_t)dia;
    cmes_utc = (uint8_t)mes;
    cano_utc = (uint8_t)ano;
    chora_utc = (uint8_t)hora;
    cminuto_utc = (uint8_t)minuto;
    csegundo_utc = (uint8_t)segundo;
}

void reiniciar_analisis()
{
    poner_reloj(0, 0, 0, 0, 0, 0);
    CTE_PROCESAR_OLA_ALTURA_MINIMA = 0;
    CTE_PROCESAR_OLA_ALTURA_MAXIMA = 3000;
    CTE_PROCESAR_OLA_PERIODO_MINIMO = 3;
    CTE_PROCESAR_OLA_PERIODO_MAXIMO = 90;
    CTE_INTERVALO_PROMEDIO = 20;
    CTE_INTERVALO_PROMEDIO_INTERPRETADO = 20;
    CTE_METODO_DIRECCION = 0;
    CTE_METODO_DIRECCION_DEFINITIVA = 0;
    CTE_FACTOR_CORRECCION_DIRECCION_STANDAR = 0;
    CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET = 0;
    CTE_USO_APP_TOV03 = 0;
    cdebug_sensor = 0;
    mVisualizar_InfoExtra = 0;
    NOMBRE_FICHERO_RAW = "";
    NOMBRE_FICHERO_WAV = "";
    NOMBRE_FICHERO_RES = "";
    for (int k = 0; k < 3; k++) ccreacion_nuevo_fichero[k] = cescritura_sd[k] = 0;
    cdatos_tx_tov03 = 0;
    ctimeout_reset_general = 0;
    CONTADOR_CERO_OLAS = 0;
    Intentos_Creacion_Fichero = 7;
    HHini = MMini = SSini = HHfin = MMfin = SSfin = 0;
    YY_ini = MM_ini = DD_ini = 0;
    TIEMPO_INI = TIEMPO_FIN = 0;
    TENGO_HORA_VALIDA = 0;
    pfrealloc_vectores_olas = realloc;
    Inicializar_TernaTiempos();
    Inicializar_Vectores_Base();
    Comenzar_Proceso_Nuevo_Promedio_Olas();
    TernaDatos_pos1_0 = TernaDatos_pos2_0 = TernaDatos_pos3_0 = 0;
    ventana_llena = false;
    iSelloSiguiente = 1000000;
    iPasoSello = 100000;
}

#define PONER(v, i, s, h, n, e) \
    do {                        \
        v##_0 = (i);            \
        v##_1 = (s);            \
        v##_2 = 90;             \
        v##_3 = (h);            \
        v##_4 = (n);            \
        v##_5 = (e);            \
    } while (0)

void empujar_muestra(int16_t heave, float vn, float ve)
{
    contPtosOlaActual += 1;
    int32_t indice = contPtosOlaActual;
    int32_t sello = iSelloSiguiente;
    iSelloSiguiente = (int32_t)((uint32_t)iSelloSiguiente + (uint32_t)iPasoSello);
    if (!ventana_llena && TernaDatos_pos1_0 == 0) {
        PONER(TernaDatos_pos1, indice, sello, heave, vn, ve);
        return;
    }
    if (!ventana_llena && TernaDatos_pos2_0 == 0) {
        PONER(TernaDatos_pos2, indice, sello, heave, vn, ve);
        return;
    }
    if (ventana_llena) {
        COPIAR_VECTOR(TernaDatos_pos1, TernaDatos_pos2);
        COPIAR_VECTOR(TernaDatos_pos2, TernaDatos_pos3);
        if (indice == 1) {
            TernaDatos_pos1_0 = 0;
            TernaDatos_pos2_0 = 1;
            indice = 2;
            contPtosOlaActual = 2;
        }
    }
    PONER(TernaDatos_pos3, indice, sello, heave, vn, ve);
    ventana_llena = true;
    ProcesarTernaDatos();
}

void empujar_serie(const std::vector<MuestraPrueba> &serie)
{
    for (const auto &m : serie) empujar_muestra(m.heave, m.vn, m.ve);
}

std::vector<MuestraPrueba> serie_senoidal(int n, int t, double a, double dn, double de)
{
    std::vector<MuestraPrueba> serie;
    for (int k = 0; k < n * t; k++) {
        double fase = 2.0 * M_PI * k / t;
        // Heave crest with the velocity towards -(dn, de), trough towards +(dn, de).
        double s = sin(fase);
        double v = -0.5 * s;
        MuestraPrueba m;
        m.heave = (int16_t)lround(a * s);
        m.vn = (float)(v * dn + 0.01);
        m.ve = (float)(v * de + 0.01);
        serie.push_back(m);
    }
    return serie;
}
