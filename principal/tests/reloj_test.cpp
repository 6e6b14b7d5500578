// The 1 ms tick, its count-downs and pins, and the internal calendar.
#include <gtest/gtest.h>

#include "declaraciones/declaraciones.h"
#include "plataforma/tests/banco_pruebas.h"
#include "principal/principal.h"
#include "waves/waves.h"

namespace {

void poner_reloj(int dia, int mes, int ano, int hora, int minuto, int segundo)
{
    cdia_utc = (uint8_t)dia;
    cmes_utc = (uint8_t)mes;
    cano_utc = (uint8_t)ano;
    chora_utc = (uint8_t)hora;
    cminuto_utc = (uint8_t)minuto;
    csegundo_utc = (uint8_t)segundo;
}

class Reloj : public ::testing::Test {
protected:
    void SetUp() override
    {
        cacciones_cada_10milisegundos = cacciones_cada_100milisegundos = cacciones_cada_segundo = 0;
        choras_sin_sincronizacion_gps = 0;
        choras_sincronizacion_gps = 4;
        cpeticion_nueva_hora = 0;
        cRevision_Resets_24h = 0;
        ccreacion_nuevo_directorio = 0;
        cguardar_contador_ficheros_dia = 0;
        CTE_PERMITIR_ESCRITURA_SD_EEPROM = 1;
        ctimeout_reset_general = 0;
        cnivel_jumper = 1;
        cseguridad_jumper_high = cseguridad_jumper_low = 0;
        cdebug_sensor = 0;
        pinMode(28, INPUT_PULLUP);
        pinMode(17, OUTPUT);
        pinMode(32, OUTPUT);
    }
    void ticks(int n)
    {
        for (int i = 0; i < n; i++) interrupcion_timer_cada_miliseg();
    }
    BancoPruebas banco;
};

// Runs the clock over one whole day change from 23:59:59.
void pasar_medianoche()
{
    csegundo_utc = 59;
    cminuto_utc = 59;
    chora_utc = 23;
    cacciones_cada_10milisegundos = 9;
    cacciones_cada_100milisegundos = 9;
    cacciones_cada_segundo = 9;
    interrupcion_timer_cada_miliseg();
}

TEST_F(Reloj, CalendarioCambiosDeDiaMesYAno)
{
    struct Caso {
        int dia, mes, ano;
        int dia_esperado, mes_esperado, ano_esperado;
    } casos[] = {
        {28, 2, 24, 29, 2, 24},  // leap year
        {28, 2, 25, 1, 3, 25},   // common year
        {29, 2, 24, 1, 3, 24},
        {28, 2, 0, 29, 2, 0},    // year 00 counts as a leap year
        {30, 4, 26, 1, 5, 26},
        {31, 1, 26, 1, 2, 26},
        {31, 12, 26, 1, 1, 27},
        {31, 12, 99, 1, 1, 100}, // the year is not wrapped to two digits
        {0, 0, 0, 1, 1, 0},      // a clock never set: month 0 has no days
        {5, 13, 26, 1, 1, 27},   // an invalid month counts as 0 days; beyond 12 it wraps
    };
    for (const Caso &c : casos) {
        poner_reloj(c.dia, c.mes, c.ano, 23, 59, 59);
        pasar_medianoche();
        EXPECT_EQ(cdia_utc, c.dia_esperado) << c.dia << "/" << c.mes << "/" << c.ano;
        EXPECT_EQ(cmes_utc, c.mes_esperado) << c.dia << "/" << c.mes << "/" << c.ano;
        EXPECT_EQ(cano_utc, c.ano_esperado) << c.dia << "/" << c.mes << "/" << c.ano;
        EXPECT_EQ(chora_utc, 0);
        EXPECT_EQ(cminuto_utc, 0);
        EXPECT_EQ(csegundo_utc, 0);
    }
}

TEST_F(Reloj, CambioDeDiaPideDirectorioYDejaElContadorAlBucle)
{
    ContadorNumeroFicheros = 17;
    Intentos_Creacion_Directorio = 5;
    Intentos_Creacion_Fichero = 6;
    CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET = 0;
    banco.borrar_salidas();
    poner_reloj(7, 12, 26, 23, 59, 59);
    pasar_medianoche();
    EXPECT_EQ(banco.salida(1), "Nuevo Directorio");
    EXPECT_EQ(ContadorNumeroFicheros, 0);
    EXPECT_EQ(cguardar_contador_ficheros_dia, 1);
    EXPECT_EQ(cRevision_Resets_24h, 1);
    EXPECT_EQ(CTE_SUPRIMIR_PRIMERA_OLA_TRAS_RESET, 1);
    EXPECT_EQ(ccreacion_nuevo_directorio, 1);
    EXPECT_EQ(Intentos_Creacion_Directorio, 0);
    EXPECT_EQ(Intentos_Creacion_Fichero, 0);
    EXPECT_EQ(cmostramos_hora, 1);

    // Without permission to write the card no directory is asked for.
    ccreacion_nuevo_directorio = 0;
    CTE_PERMITIR_ESCRITURA_SD_EEPROM = 0;
    Intentos_Creacion_Directorio = 5;
    pasar_medianoche();
    EXPECT_EQ(ccreacion_nuevo_directorio, 0);
    EXPECT_EQ(Intentos_Creacion_Directorio, 5);
}

TEST_F(Reloj, PeticionGpsCadaTantasHoras)
{
    poner_reloj(7, 12, 26, 10, 59, 0);
    for (int hora = 1; hora <= 8; hora++) {
        cminuto_utc = 59;
        refrescamos_reloj_interno();
        EXPECT_EQ(cpeticion_nueva_hora, (hora % 4 == 0) ? 1 : 0) << "hour " << hora;
        cpeticion_nueva_hora = 0;
    }
    for (uint8_t cada : {0, 1}) {
        choras_sincronizacion_gps = cada;
        choras_sin_sincronizacion_gps = 0;
        for (int hora = 0; hora < 3; hora++) {
            cminuto_utc = 59;
            refrescamos_reloj_interno();
            EXPECT_EQ(cpeticion_nueva_hora, 1);
            cpeticion_nueva_hora = 0;
        }
    }
}

TEST_F(Reloj, DivisoresCuentasAtrasYPines)
{
    poner_reloj(1, 1, 26, 0, 0, 0);
    cretardo_en_milisegundos = 3;
    ctimeout_rx_tov03 = 100;
    ctime_out_respuesta_gps_en_10_miliseg = 2;
    cretardo_tiempo = 1;
    csegundos_retardo_gestion_sd = 2;
    ctimeout_salir_bucle = 1;
    cestado_gps = 0;
    digitalWrite(17, HIGH);
    ticks(5);
    EXPECT_EQ(cretardo_en_milisegundos, 0);  // never below 0
    EXPECT_EQ(ctimeout_rx_tov03, 95);
    EXPECT_EQ(placa::actual().pin_salida(17), 1);  // copied every 10 ms only
    ticks(5);
    EXPECT_EQ(placa::actual().pin_salida(17), 0);
    EXPECT_EQ(ctime_out_respuesta_gps_en_10_miliseg, 1);
    ticks(90);
    EXPECT_EQ(cretardo_tiempo, 0);
    EXPECT_EQ(placa::actual().pin_salida(32), 1);
    EXPECT_EQ(csegundo_utc, 0);
    ticks(900);
    EXPECT_EQ(csegundo_utc, 1);
    EXPECT_EQ(placa::actual().pin_salida(32), 0);  // low for the first 100 ms of the second
    EXPECT_EQ(csegundos_retardo_gestion_sd, 1);
    EXPECT_EQ(ctimeout_salir_bucle, 0);
    ticks(99);
    EXPECT_EQ(placa::actual().pin_salida(32), 0);
    ticks(1);
    EXPECT_EQ(placa::actual().pin_salida(32), 1);
}

TEST_F(Reloj, MinutoCompletoPideElBanner)
{
    poner_reloj(1, 1, 26, 12, 30, 58);
    cmostramos_hora = 0;
    ticks(1000);
    EXPECT_EQ(csegundo_utc, 59);
    EXPECT_EQ(cmostramos_hora, 0);
    ticks(1000);
    EXPECT_EQ(csegundo_utc, 0);
    EXPECT_EQ(cminuto_utc, 31);
    EXPECT_EQ(cmostramos_hora, 1);
}

TEST_F(Reloj, TiempoAcumuladoSoloConAjusteYEnMarcha)
{
    CTE_AJUSTE_RELOJ = 1;
    CONT_TIEMPO_MICRO_ACUMULADO = -1;
    ticks(1000);
    EXPECT_EQ(CONT_TIEMPO_MICRO_ACUMULADO, -1);
    CONT_TIEMPO_MICRO_ACUMULADO = 0;
    ticks(1000);
    EXPECT_EQ(CONT_TIEMPO_MICRO_ACUMULADO, 10);
    CTE_AJUSTE_RELOJ = 0;
    ticks(1000);
    EXPECT_EQ(CONT_TIEMPO_MICRO_ACUMULADO, 10);
    CTE_AJUSTE_RELOJ = 1;
    CONT_TIEMPO_MICRO_ACUMULADO = -1;
}

TEST_F(Reloj, JumperDeDepuracionNecesitaUnSegundoEstable)
{
    bool puesto = false;
    placa::actual().configurar_nivel_externo([&](uint32_t pin, uint64_t) { return pin == 28 && puesto ? 0 : -1; });
    // Toggling every 0.5 s never switches the debug output.
    for (int i = 0; i < 10; i++) {
        puesto = !puesto;
        ticks(500);
        EXPECT_EQ(cdebug_sensor, 0);
    }
    puesto = true;
    ticks(900);
    EXPECT_EQ(cdebug_sensor, 0);
    ticks(200);
    EXPECT_EQ(cdebug_sensor, 1);
    EXPECT_EQ(cnivel_jumper, 0);
    puesto = false;
    ticks(900);
    EXPECT_EQ(cdebug_sensor, 1);
    ticks(200);
    EXPECT_EQ(cdebug_sensor, 0);
    EXPECT_EQ(cnivel_jumper, 1);
}

TEST_F(Reloj, CuentaAtrasSinOlasTerminaEnReset)
{
    ctimeout_reset_general = 2;
    banco.borrar_salidas();
    ticks(1000);
    EXPECT_EQ(ctimeout_reset_general, 1);
    try {
        ticks(1000);
        FAIL() << "the count-down reached 0 without stopping";
    } catch (const placa::ReinicioPlaca &r) {
        EXPECT_EQ(r.causa, placa::CAUSA_PARADA_FIRMWARE);
    }
    EXPECT_EQ(banco.salida(1), "1,0,RESET GENERAL POR FALTA DE OLAS (LOOP)\r\n");
    EXPECT_EQ(ctimeout_reset_general, 0);
}

TEST(Temporizador, PeriodoYPrescaler)
{
    BancoPruebas banco(true);
    cconfiguracion_timer_tcc0_primera_vez = 1;
    configureTCC0(48000, 1);
    EXPECT_EQ(banco.placa.periodo_tick_ciclos(), 48001u);
    EXPECT_EQ(cconfiguracion_timer_tcc0_primera_vez, 0);
    configureTCC0(47999, 1);
    EXPECT_EQ(banco.placa.periodo_tick_ciclos(), 48000u);
    const uint32_t prescalers[] = {2, 4, 8, 64, 256, 1024, 16, 3};
    const uint64_t divisiones[] = {2, 4, 8, 64, 256, 1024, 1, 1};
    for (int i = 0; i < 8; i++) {
        configureTCC0(999, prescalers[i]);
        EXPECT_EQ(banco.placa.periodo_tick_ciclos(), 1000u * divisiones[i]) << prescalers[i];
    }
    configureTCC0(48000, 1);
    tcc0_desactivar();
}

TEST(Esperas, DuracionDeLosRetardos)
{
    BancoPruebas banco(true);
    configureTCC0(47999, 1);  // exactly 1 ms per tick
    for (int repeticion = 0; repeticion < 3; repeticion++) {
        uint64_t antes = banco.placa.ciclo();
        retardo_tiempo(0);  // waits like retardo_tiempo(1)
        uint64_t ms = (banco.placa.ciclo() - antes) / 48000;
        EXPECT_LE(ms, 100u);
        antes = banco.placa.ciclo();
        retardo_tiempo(10);
        ms = (banco.placa.ciclo() - antes) / 48000;
        EXPECT_GE(ms, 900u);
        EXPECT_LE(ms, 1000u);
        antes = banco.placa.ciclo();
        retardo_milisegundos(20);
        uint64_t us = (banco.placa.ciclo() - antes) / 48;
        EXPECT_GE(us, 19000u);
        EXPECT_LE(us, 20000u);
    }
    tcc0_desactivar();
}

}  // namespace
