// The persistent image of settings and counters in the flash-emulated EEPROM.
// Two-byte values are stored high byte first. Every write commits, and the
// board only rewrites the flash page when a byte actually changed.
#include "virtual_e2prom.h"

#include "../declaraciones/declaraciones.h"
#include "../principal/principal.h"

#define VELOCIDAD_RELOJ_DEFECTO 48000
#define VELOCIDAD_RELOJ_MINIMA_FIJA 46500
#define VELOCIDAD_RELOJ_MAXIMA_FIJA 49000
#define CODIGO_BAUDRATE_DEFECTO 5
#define TOPE_FICHEROS_DEFECTO 100

// ---------------------------------------------------------------- byte access

static uint8_t leer_byte(int posicion) { return EEPROM.read(posicion); }

static uint16_t leer_dos_bytes(int posicion)
{
    return (uint16_t)(leer_byte(posicion) * 256u + leer_byte(posicion + 1));
}

static void poner_dos_bytes(int posicion, uint16_t valor)
{
    EEPROM.write(posicion, (uint8_t)(valor / 256u));
    EEPROM.write(posicion + 1, (uint8_t)(valor % 256u));
}

// Counters above 65530 are stored as 0.
static void escribir_contador(int posicion, uint16_t valor)
{
    if (valor > TOPE_ESCRITURA_DOS_BYTES) valor = 0;
    poner_dos_bytes(posicion, valor);
    EEPROM.commit();
}

static void escribir_byte(int posicion, uint8_t valor)
{
    EEPROM.write(posicion, valor);
    EEPROM.commit();
}

// ---------------------------------------------------------------- per-value operations

void escritura_variable_contador_reinicios(uint16_t contador)
{
    if (contador > TOPE_ESCRITURA_DOS_BYTES) escritura_variable_contador_reinicios_24H(0);
    escribir_contador(POS_CONTADOR_REINICIOS, contador);
}
uint16_t lectura_variable_contador_reinicios() { return leer_dos_bytes(POS_CONTADOR_REINICIOS); }

void escritura_variable_porcentaje_SD(uint8_t valor) { escribir_byte(POS_PORCENTAJE_SD, valor); }
uint8_t lectura_variable_porcentaje_SD() { return leer_byte(POS_PORCENTAJE_SD); }

void escritura_variable_contador_reinicios_24H(uint16_t contador) { escribir_contador(POS_REINICIOS_24H, contador); }
uint16_t lectura_variable_contador_reinicios_24H() { return leer_dos_bytes(POS_REINICIOS_24H); }

void escritura_variable_contador_reinicios_24H_DIA(uint8_t valor) { escribir_byte(POS_REINICIOS_24H_DIA, valor); }
uint8_t lectura_variable_contador_reinicios_24H_DIA() { return leer_byte(POS_REINICIOS_24H_DIA); }

void escritura_variable_permitir_escritura_SD(uint8_t valor) { escribir_byte(POS_PERMITIR_ESCRITURA_SD, valor); }
uint8_t lectura_variable_permitir_escritura_SD() { return leer_byte(POS_PERMITIR_ESCRITURA_SD); }

void escritura_variable_contador_Ficheros(uint16_t contador) { escribir_contador(POS_CONTADOR_FICHEROS, contador); }
uint16_t lectura_variable_contador_Ficheros() { return leer_dos_bytes(POS_CONTADOR_FICHEROS); }

void escritura_variable_Tope_Maximo_Ficheros(uint16_t contador) { escribir_contador(POS_TOPE_FICHEROS, contador); }
uint16_t lectura_variable_Tope_Maximo_Ficheros() { return leer_dos_bytes(POS_TOPE_FICHEROS); }

void escritura_variable_permitir_ajuste_reloj(uint8_t valor) { escribir_byte(POS_PERMITIR_AJUSTE_RELOJ, valor); }
uint8_t lectura_variable_permitir_ajuste_reloj() { return leer_byte(POS_PERMITIR_AJUSTE_RELOJ); }

// The tick period keeps all its 16 bits.
void escritura_variable_Velocidad_Reloj(uint16_t valor)
{
    poner_dos_bytes(POS_VELOCIDAD_RELOJ, valor);
    EEPROM.commit();
}
uint16_t lectura_variable_Velocidad_Reloj() { return leer_dos_bytes(POS_VELOCIDAD_RELOJ); }

void escritura_variable_Baudrate_TOV(uint8_t valor) { escribir_byte(POS_BAUDRATE_TOV, valor); }
uint8_t lectura_variable_Baudrate_TOV() { return leer_byte(POS_BAUDRATE_TOV); }

// ---------------------------------------------------------------- whole image

// Positions 0 to 16 from their working globals, in one commit.
void escritura_variables()
{
    EEPROM.write(POS_HORAS_SINCRONIZACION_GPS, choras_sincronizacion_gps);
    EEPROM.write(POS_ALTURA_MINIMA, (uint8_t)(CTE_PROCESAR_OLA_ALTURA_MINIMA / 256));
    EEPROM.write(POS_ALTURA_MINIMA + 1, (uint8_t)(CTE_PROCESAR_OLA_ALTURA_MINIMA % 256));
    EEPROM.write(POS_ALTURA_MAXIMA, (uint8_t)(CTE_PROCESAR_OLA_ALTURA_MAXIMA / 256));
    EEPROM.write(POS_ALTURA_MAXIMA + 1, (uint8_t)(CTE_PROCESAR_OLA_ALTURA_MAXIMA % 256));
    EEPROM.write(POS_PERIODO_MINIMO, (uint8_t)CTE_PROCESAR_OLA_PERIODO_MINIMO);
    EEPROM.write(POS_PERIODO_MAXIMO, (uint8_t)CTE_PROCESAR_OLA_PERIODO_MAXIMO);
    EEPROM.write(POS_INTERVALO_PROMEDIO, (uint8_t)CTE_INTERVALO_PROMEDIO);
    EEPROM.write(POS_FRECUENCIA_MUESTREO, cfrecuencia_muestreo);
    EEPROM.write(POS_SENSOR_CON_GPS, csensor_con_gps);
    EEPROM.write(POS_IMPACTO_LEVE, cg_impacto_leve);
    EEPROM.write(POS_IMPACTO_MEDIO, cg_impacto_medio);
    EEPROM.write(POS_IMPACTO_GRAVE, cg_impacto_grave);
    poner_dos_bytes(POS_CANALES_SENSOR, (uint16_t)icanales_activados_sensor);
    EEPROM.write(POS_FACTOR_DIRECCION, CTE_FACTOR_CORRECCION_DIRECCION_STANDAR);
    EEPROM.write(POS_METODO_DIRECCION, CTE_METODO_DIRECCION);
    EEPROM.commit();
}

static void valores_por_defecto_posiciones_8_a_14()
{
    cfrecuencia_muestreo = 1;
    csensor_con_gps = 0;
    cg_impacto_leve = 1;
    cg_impacto_medio = 2;
    cg_impacto_grave = 3;
    icanales_activados_sensor = 65535;
}

void grabacion_parametros_por_defecto()
{
    choras_sincronizacion_gps = 4;
    CTE_PROCESAR_OLA_ALTURA_MINIMA = 0;
    CTE_PROCESAR_OLA_ALTURA_MAXIMA = 3000;
    CTE_PROCESAR_OLA_PERIODO_MINIMO = 3;
    CTE_PROCESAR_OLA_PERIODO_MAXIMO = 90;
    CTE_INTERVALO_PROMEDIO = 20;
    valores_por_defecto_posiciones_8_a_14();
    CTE_FACTOR_CORRECCION_DIRECCION_STANDAR = 1;
    CTE_METODO_DIRECCION = 0;
    escritura_variables();

    escritura_variable_contador_reinicios(0);
    escritura_variable_permitir_escritura_SD(1);
    escritura_variable_contador_reinicios_24H(0);
    escritura_variable_contador_reinicios_24H_DIA(0);
    escritura_variable_Tope_Maximo_Ficheros(TOPE_FICHEROS_DEFECTO);
    escritura_variable_contador_Ficheros(0);
    CTE_PERMITIR_ESCRITURA_SD = 1;
    CTE_PERMITIR_ESCRITURA_SD_EEPROM = 1;
    REINICIOS_24H = 0;
    REINICIOS_24H_DIA = 0;
    CTE_NUMERO_MAXIMO_FICHEROS = TOPE_FICHEROS_DEFECTO;
    ContadorNumeroFicheros = 0;

    escritura_variable_permitir_ajuste_reloj(1);
    escritura_variable_Velocidad_Reloj(VELOCIDAD_RELOJ_DEFECTO);
    escritura_variable_Baudrate_TOV(CODIGO_BAUDRATE_DEFECTO);
    CTE_AJUSTE_RELOJ = 1;
    CTE_VELOCIDAD_RELOJ = VELOCIDAD_RELOJ_DEFECTO;
    Serial1.print(" -> Fin grabaci\xF3n par\xE1metros por defecto.");
}

void lectura_de_variables()
{
    Serial1.println("LECTURA DE PAR\xC1METROS DE EEPROM.");
    if (!EEPROM.isValid()) {
        Serial1.println("Grabacion de parametros por defecto.");
        grabacion_parametros_por_defecto();
        return;
    }
    choras_sincronizacion_gps = leer_byte(POS_HORAS_SINCRONIZACION_GPS);
    if (choras_sincronizacion_gps == 0) choras_sincronizacion_gps = 1;
    CTE_FACTOR_CORRECCION_DIRECCION_STANDAR = leer_byte(POS_FACTOR_DIRECCION);
    CTE_METODO_DIRECCION = leer_byte(POS_METODO_DIRECCION);
    CTE_PROCESAR_OLA_ALTURA_MINIMA = leer_dos_bytes(POS_ALTURA_MINIMA);
    CTE_PROCESAR_OLA_ALTURA_MAXIMA = leer_dos_bytes(POS_ALTURA_MAXIMA);
    CTE_PROCESAR_OLA_PERIODO_MINIMO = leer_byte(POS_PERIODO_MINIMO);
    CTE_PROCESAR_OLA_PERIODO_MAXIMO = leer_byte(POS_PERIODO_MAXIMO);
    CTE_INTERVALO_PROMEDIO = leer_byte(POS_INTERVALO_PROMEDIO);
    cfrecuencia_muestreo = leer_byte(POS_FRECUENCIA_MUESTREO);
    csensor_con_gps = leer_byte(POS_SENSOR_CON_GPS);
    cg_impacto_leve = leer_byte(POS_IMPACTO_LEVE);
    cg_impacto_medio = leer_byte(POS_IMPACTO_MEDIO);
    cg_impacto_grave = leer_byte(POS_IMPACTO_GRAVE);
    icanales_activados_sensor = leer_dos_bytes(POS_CANALES_SENSOR);
    CTE_PORCENTAJE_FULL_SD = leer_byte(POS_PORCENTAJE_SD);
    CTE_PERMITIR_ESCRITURA_SD = leer_byte(POS_PERMITIR_ESCRITURA_SD);
    CTE_PERMITIR_ESCRITURA_SD_EEPROM = CTE_PERMITIR_ESCRITURA_SD;
    REINICIOS_24H = leer_dos_bytes(POS_REINICIOS_24H);
    REINICIOS_24H_DIA = leer_byte(POS_REINICIOS_24H_DIA);
    CTE_NUMERO_MAXIMO_FICHEROS = leer_dos_bytes(POS_TOPE_FICHEROS);

    escritura_variable_contador_Ficheros(0);
    ContadorNumeroFicheros = 0;

    CTE_AJUSTE_RELOJ = leer_byte(POS_PERMITIR_AJUSTE_RELOJ);
    CTE_VELOCIDAD_RELOJ = VELOCIDAD_RELOJ_DEFECTO;

    revision_lectura_variables();

    // With the correction on, the timer keeps 48000 until it is measured.
    if (CTE_AJUSTE_RELOJ != 0) return;

    uint16_t periodo = lectura_variable_Velocidad_Reloj();
    if (periodo < VELOCIDAD_RELOJ_MINIMA_FIJA || periodo > VELOCIDAD_RELOJ_MAXIMA_FIJA) {
        periodo = VELOCIDAD_RELOJ_DEFECTO;
        escritura_variable_Velocidad_Reloj(periodo);
    }
    CTE_VELOCIDAD_RELOJ = periodo;
    configureTCC0(periodo, 1);
    Serial1.print("Sin ajuste de reloj. Velocidad fija: ");
    Serial1.println((unsigned int)periodo);
}

static uint8_t intervalo_valido(int32_t codigo)
{
    switch (codigo) {
    case 0: case 1: case 2: case 3: case 4: case 10: case 15: case 20: case 30: case 60: return 1;
    default: return 0;
    }
}

// The load check: each implausible value is replaced in its working global
// and in the image, each replacement with a commit of its own.
void revision_lectura_variables()
{
    uint8_t horas = leer_byte(POS_HORAS_SINCRONIZACION_GPS);
    if (horas == 0) {
        choras_sincronizacion_gps = 1;
    } else if (horas > 24) {
        choras_sincronizacion_gps = 1;
        escribir_byte(POS_HORAS_SINCRONIZACION_GPS, 1);
    }

    if (CTE_FACTOR_CORRECCION_DIRECCION_STANDAR > 1) {
        CTE_FACTOR_CORRECCION_DIRECCION_STANDAR = 1;
        escribir_byte(POS_FACTOR_DIRECCION, 1);
    }

    if (CTE_METODO_DIRECCION != 0) escribir_byte(POS_METODO_DIRECCION, 0);
    CTE_METODO_DIRECCION = 0;

    if (CTE_PROCESAR_OLA_ALTURA_MINIMA > 3000) {
        CTE_PROCESAR_OLA_ALTURA_MINIMA = 0;
        valores_por_defecto_posiciones_8_a_14();
        poner_dos_bytes(POS_ALTURA_MINIMA, 0);
        EEPROM.write(POS_FRECUENCIA_MUESTREO, cfrecuencia_muestreo);
        EEPROM.write(POS_SENSOR_CON_GPS, csensor_con_gps);
        EEPROM.write(POS_IMPACTO_LEVE, cg_impacto_leve);
        EEPROM.write(POS_IMPACTO_MEDIO, cg_impacto_medio);
        EEPROM.write(POS_IMPACTO_GRAVE, cg_impacto_grave);
        poner_dos_bytes(POS_CANALES_SENSOR, (uint16_t)icanales_activados_sensor);
        EEPROM.commit();
    }

    if (CTE_PROCESAR_OLA_ALTURA_MAXIMA > 3000) {
        CTE_PROCESAR_OLA_ALTURA_MAXIMA = 3000;
        poner_dos_bytes(POS_ALTURA_MAXIMA, 3000);
        EEPROM.commit();
    }

    if (CTE_PROCESAR_OLA_PERIODO_MINIMO > 99) {
        CTE_PROCESAR_OLA_PERIODO_MINIMO = 3;
        escribir_byte(POS_PERIODO_MINIMO, 3);
    }

    if (CTE_PROCESAR_OLA_PERIODO_MAXIMO > 99) {
        CTE_PROCESAR_OLA_PERIODO_MAXIMO = 90;
        escribir_byte(POS_PERIODO_MAXIMO, 90);
    }

    if (!intervalo_valido(CTE_INTERVALO_PROMEDIO)) {
        CTE_INTERVALO_PROMEDIO = 20;
        escribir_byte(POS_INTERVALO_PROMEDIO, 20);
    }

    if (CTE_PERMITIR_ESCRITURA_SD > 1) {
        CTE_PERMITIR_ESCRITURA_SD = 1;
        CTE_PERMITIR_ESCRITURA_SD_EEPROM = 1;
        escribir_byte(POS_PERMITIR_ESCRITURA_SD, 1);
    }

    if (REINICIOS_24H > TOPE_ESCRITURA_DOS_BYTES) {
        REINICIOS_24H = 0;
        escritura_variable_contador_reinicios_24H(0);
    }

    if (REINICIOS_24H_DIA == 255) {
        REINICIOS_24H_DIA = 0;
        escribir_byte(POS_REINICIOS_24H_DIA, 0);
    }

    // A limit of 0 (a limit above 65530 is stored so) would switch SD
    // writing off at the first file of every day.
    if (CTE_NUMERO_MAXIMO_FICHEROS == 0) {
        CTE_NUMERO_MAXIMO_FICHEROS = TOPE_FICHEROS_DEFECTO;
        escritura_variable_Tope_Maximo_Ficheros(TOPE_FICHEROS_DEFECTO);
        Serial1.print("Tope de ficheros nulo. Por defecto: ");
        Serial1.println((unsigned int)TOPE_FICHEROS_DEFECTO);
    }

    if (leer_byte(POS_BAUDRATE_TOV) > 8) escribir_byte(POS_BAUDRATE_TOV, CODIGO_BAUDRATE_DEFECTO);

    if (CTE_AJUSTE_RELOJ > 1) {
        CTE_AJUSTE_RELOJ = 1;
        escribir_byte(POS_PERMITIR_AJUSTE_RELOJ, 1);
    }
}

int32_t transformacion_Baudrate_TOV(uint8_t valor)
{
    static const int32_t velocidades[9] = {4800, 9600, 14400, 19200, 28800, 38400, 56000, 57600, 115200};
    return valor <= 8 ? velocidades[valor] : -1;
}

uint8_t Establecer_Baudrate_TOV()
{
    uint8_t codigo = lectura_variable_Baudrate_TOV();
    if (codigo > 8) return 0;
    CTE_BAUDRATE_TOV = (uint32_t)transformacion_Baudrate_TOV(codigo);
    Serial.end();
    Serial.begin(CTE_BAUDRATE_TOV);
    return 1;
}

// The counters and the card settings back to their defaults; the
// measurement settings stay as they are.
void grabacion_parametros_por_defecto_secundarios_al_inicializar_SD(uint8_t nTelemando)
{
    escritura_variable_contador_reinicios(0);
    escritura_variable_permitir_escritura_SD(1);
    escritura_variable_contador_reinicios_24H(0);
    escritura_variable_contador_reinicios_24H_DIA(0);
    escritura_variable_Tope_Maximo_Ficheros(TOPE_FICHEROS_DEFECTO);
    escritura_variable_contador_Ficheros(0);

    CTE_PERMITIR_ESCRITURA_SD = 1;
    CTE_PERMITIR_ESCRITURA_SD_EEPROM = 1;
    REINICIOS_24H = 0;
    REINICIOS_24H_DIA = 0;
    CTE_NUMERO_MAXIMO_FICHEROS = TOPE_FICHEROS_DEFECTO;
    ContadorNumeroFicheros = 0;

    if (CTE_AJUSTE_RELOJ > 1) {
        CTE_AJUSTE_RELOJ = 1;
        escritura_variable_permitir_ajuste_reloj(1);
        CTE_VELOCIDAD_RELOJ = VELOCIDAD_RELOJ_DEFECTO;
        escritura_variable_Velocidad_Reloj(VELOCIDAD_RELOJ_DEFECTO);
    }

    uint16_t total = lectura_variable_contador_reinicios();
    uint16_t en_24h = lectura_variable_contador_reinicios_24H();
    uint8_t dia = lectura_variable_contador_reinicios_24H_DIA();

    Serial1.println("COMANDOS PREVIOS: ");
    Serial.print("Previous commands: ");
    Serial1.print("\tn\xBA reinicios = ");
    Serial1.print((unsigned int)total);
    Serial1.print(" / ");
    Serial1.print((unsigned int)en_24h);
    Serial1.print(" (");
    Serial1.print((unsigned int)dia);
    Serial1.println(")");
    Serial.print("resets: ");
    Serial.print((unsigned int)total);
    Serial.print("/");
    Serial.print((unsigned int)en_24h);
    Serial.print("(");
    Serial.print((unsigned int)dia);
    Serial.print(")  //  ");
    Serial1.print("\tPermitir escritura en SD =");
    Serial1.print((unsigned int)CTE_PERMITIR_ESCRITURA_SD);
    Serial1.print(" / ");
    Serial1.println((unsigned int)lectura_variable_permitir_escritura_SD());
    Serial.print("\tsd: ");
    Serial.print((unsigned int)CTE_PERMITIR_ESCRITURA_SD);
    Serial.print("/");
    Serial.println((unsigned int)lectura_variable_permitir_escritura_SD());
    Serial1.print("\tPermitir ajuste de reloj=");
    Serial1.println((unsigned int)lectura_variable_permitir_ajuste_reloj());
    Serial1.print("\tV. Reloj=");
    Serial1.print((long)CTE_VELOCIDAD_RELOJ);
    Serial1.print(" / EEPROM=");
    Serial1.println((unsigned int)lectura_variable_Velocidad_Reloj());
    if (nTelemando != 23) Serial.println("Format begins.");
}
