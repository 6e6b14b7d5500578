// The parameter image: defaults on a fresh device, the load checks, the
// per-value operations and what each of them commits.
#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>

#include "declaraciones/declaraciones.h"
#include "plataforma/tests/banco_pruebas.h"
#include "virtual_e2prom/virtual_e2prom.h"

namespace {

// A device whose flash holds the given bytes over the factory image.
class Almacen : public ::testing::Test {
protected:
    void SetUp() override
    {
        ruta_ = fichero_temporal("olas_param.bin");
        banco_.placa.configurar_eeprom(ruta_);
        CTE_PORCENTAJE_FULL_SD = 255;
    }
    void TearDown() override { std::remove(ruta_.c_str()); }

    // Programs the factory image, then overwrites some bytes, then restarts.
    void imagen(std::initializer_list<std::pair<int, uint8_t>> bytes)
    {
        grabacion_parametros_por_defecto();
        for (auto [pos, v] : bytes) EEPROM.write(pos, v);
        EEPROM.commit();
        reiniciar();
    }
    void reiniciar()
    {
        banco_.placa.reinicio_hardware();
        for (int p = 0; p < placa::NUM_PUERTOS; p++) banco_.placa.uart_begin(p, p == 3 ? 9600 : p == 0 ? 38400 : 115200);
        commits_ = banco_.placa.eeprom_commits();
        banco_.borrar_salidas();
    }
    uint64_t commits_nuevos() const { return banco_.placa.eeprom_commits() - commits_; }
    std::string consola() { return banco_.salida(1); }

    BancoPruebas banco_;
    std::string ruta_;
    uint64_t commits_ = 0;
};

TEST_F(Almacen, DispositivoNuevoGrabaLosValoresPorDefecto)
{
    choras_sincronizacion_gps = 9;
    CTE_INTERVALO_PROMEDIO = 60;
    lectura_de_variables();
    EXPECT_EQ(consola(),
              "LECTURA DE PAR\xC1METROS DE EEPROM.\r\nIsValid.  Inizializada: 0\r\n"
              "Grabacion de parametros por defecto.\r\n -> Fin grabaci\xF3n par\xE1metros por defecto.");
    const uint8_t esperado[32] = {4, 0, 0, 0x0B, 0xB8, 3, 90, 20, 1, 0, 1, 2, 3, 0xFF, 0xFF, 1,
                                  0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 100, 1, 0xBB, 0x80, 5};
    for (int i = 0; i < 32; i++) EXPECT_EQ(EEPROM.read(i), esperado[i]) << "position " << i;
    EXPECT_EQ(choras_sincronizacion_gps, 4);
    EXPECT_EQ(CTE_INTERVALO_PROMEDIO, 20);
    EXPECT_EQ(CTE_PORCENTAJE_FULL_SD, 255);  // until the card is measured
    EXPECT_EQ(CTE_AJUSTE_RELOJ, 1);
    EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 48000);
    reiniciar();
    EXPECT_TRUE(EEPROM.isValid());
}

TEST_F(Almacen, UnaImagenSanaNoSeVuelveAEscribir)
{
    imagen({{POS_CONTADOR_FICHEROS + 1, 7}});
    lectura_de_variables();
    EXPECT_EQ(commits_nuevos(), 1u);  // the file counter back to 0
    reiniciar();
    lectura_de_variables();
    EXPECT_EQ(commits_nuevos(), 0u);
    EXPECT_EQ(consola(), "LECTURA DE PAR\xC1METROS DE EEPROM.\r\nIsValid.  Inizializada: 1\r\n");
}

TEST_F(Almacen, ComprobacionDeIntervaloYHorasGps)
{
    for (uint8_t codigo : {0, 1, 2, 3, 4, 10, 15, 20, 30, 60}) {
        imagen({{POS_INTERVALO_PROMEDIO, codigo}});
        lectura_de_variables();
        EXPECT_EQ(CTE_INTERVALO_PROMEDIO, codigo);
        EXPECT_EQ(commits_nuevos(), 0u);
    }
    imagen({{POS_INTERVALO_PROMEDIO, 25}});
    lectura_de_variables();
    EXPECT_EQ(CTE_INTERVALO_PROMEDIO, 20);
    EXPECT_EQ(EEPROM.read(POS_INTERVALO_PROMEDIO), 20);

    imagen({{POS_HORAS_SINCRONIZACION_GPS, 0}});
    lectura_de_variables();
    EXPECT_EQ(choras_sincronizacion_gps, 1);
    imagen({{POS_HORAS_SINCRONIZACION_GPS, 25}});
    lectura_de_variables();
    EXPECT_EQ(choras_sincronizacion_gps, 1);
    EXPECT_EQ(EEPROM.read(POS_HORAS_SINCRONIZACION_GPS), 1);
    imagen({{POS_HORAS_SINCRONIZACION_GPS, 24}});
    lectura_de_variables();
    EXPECT_EQ(choras_sincronizacion_gps, 24);
}

TEST_F(Almacen, AlturaMinimaImposibleDevuelveLasPosiciones8a14)
{
    imagen({{POS_ALTURA_MINIMA, 3001 / 256}, {POS_ALTURA_MINIMA + 1, 3001 % 256}, {POS_FRECUENCIA_MUESTREO, 9},
            {POS_SENSOR_CON_GPS, 9}, {POS_IMPACTO_LEVE, 9}, {POS_IMPACTO_MEDIO, 9}, {POS_IMPACTO_GRAVE, 9},
            {POS_CANALES_SENSOR, 0}, {POS_CANALES_SENSOR + 1, 9}});
    lectura_de_variables();
    EXPECT_EQ(CTE_PROCESAR_OLA_ALTURA_MINIMA, 0);
    EXPECT_EQ(cfrecuencia_muestreo, 1);
    EXPECT_EQ(csensor_con_gps, 0);
    EXPECT_EQ(cg_impacto_leve, 1);
    EXPECT_EQ(cg_impacto_medio, 2);
    EXPECT_EQ(cg_impacto_grave, 3);
    EXPECT_EQ(icanales_activados_sensor, 65535u);
    const uint8_t esperado[] = {0, 0, 1, 0, 1, 2, 3, 0xFF, 0xFF};
    const int posiciones[] = {1, 2, 8, 9, 10, 11, 12, 13, 14};
    for (int i = 0; i < 9; i++) EXPECT_EQ(EEPROM.read(posiciones[i]), esperado[i]);
    EXPECT_EQ(commits_nuevos(), 1u);  // positions 1 to 14 together

    imagen({{POS_ALTURA_MINIMA, 3000 / 256}, {POS_ALTURA_MINIMA + 1, 3000 % 256}, {POS_IMPACTO_LEVE, 9}});
    lectura_de_variables();
    EXPECT_EQ(CTE_PROCESAR_OLA_ALTURA_MINIMA, 3000);
    EXPECT_EQ(cg_impacto_leve, 9);
}

TEST_F(Almacen, RestoDeComprobaciones)
{
    imagen({{POS_ALTURA_MAXIMA, 0xFF}, {POS_PERIODO_MINIMO, 100}, {POS_PERIODO_MAXIMO, 200},
            {POS_FACTOR_DIRECCION, 2}, {POS_METODO_DIRECCION, 1}, {POS_PERMITIR_ESCRITURA_SD, 7},
            {POS_REINICIOS_24H, 0xFF}, {POS_REINICIOS_24H + 1, 0xFB}, {POS_REINICIOS_24H_DIA, 255},
            {POS_PERMITIR_AJUSTE_RELOJ, 3}});
    lectura_de_variables();
    EXPECT_EQ(CTE_PROCESAR_OLA_ALTURA_MAXIMA, 3000);
    EXPECT_EQ(CTE_PROCESAR_OLA_PERIODO_MINIMO, 3);
    EXPECT_EQ(CTE_PROCESAR_OLA_PERIODO_MAXIMO, 90);
    EXPECT_EQ(CTE_FACTOR_CORRECCION_DIRECCION_STANDAR, 1);
    EXPECT_EQ(CTE_METODO_DIRECCION, 0);
    EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD, 1);
    EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD_EEPROM, 1);
    EXPECT_EQ(REINICIOS_24H, 0);
    EXPECT_EQ(REINICIOS_24H_DIA, 0);
    EXPECT_EQ(CTE_AJUSTE_RELOJ, 1);
    reiniciar();
    lectura_de_variables();
    EXPECT_EQ(commits_nuevos(), 0u);  // every repair was stored
}

// A stored file limit of 0 (what the store makes of a limit above 65530)
// would switch SD writing off at the first file of every day: it is repaired
// to the default at load, traced and stored; an erased limit (65535) stays.
TEST_F(Almacen, UnTopeDeFicherosNuloVuelveAlValorPorDefecto)
{
    imagen({{POS_TOPE_FICHEROS, 0}, {POS_TOPE_FICHEROS + 1, 0}});
    lectura_de_variables();
    EXPECT_EQ(CTE_NUMERO_MAXIMO_FICHEROS, 100);
    EXPECT_EQ(lectura_variable_Tope_Maximo_Ficheros(), 100);
    EXPECT_NE(consola().find("Tope de ficheros nulo. Por defecto: 100\r\n"), std::string::npos) << consola();
    reiniciar();
    lectura_de_variables();
    EXPECT_EQ(commits_nuevos(), 0u);
    EXPECT_EQ(consola().find("Tope de ficheros"), std::string::npos);
    imagen({{POS_TOPE_FICHEROS, 0xFF}, {POS_TOPE_FICHEROS + 1, 0xFF}});
    lectura_de_variables();
    EXPECT_EQ(CTE_NUMERO_MAXIMO_FICHEROS, 65535);
}

TEST_F(Almacen, PeriodoFijoSinAjusteDeReloj)
{
    struct Caso {
        uint16_t guardado, usado;
    } casos[] = {{49200, 48000}, {46500, 46500}, {49000, 49000}, {46499, 48000}};
    for (const Caso &c : casos) {
        imagen({{POS_PERMITIR_AJUSTE_RELOJ, 0}, {POS_VELOCIDAD_RELOJ, (uint8_t)(c.guardado >> 8)},
                {POS_VELOCIDAD_RELOJ + 1, (uint8_t)c.guardado}});
        lectura_de_variables();
        EXPECT_EQ(CTE_VELOCIDAD_RELOJ, c.usado);
        EXPECT_EQ(lectura_variable_Velocidad_Reloj(), c.usado);
        EXPECT_EQ(banco_.placa.periodo_tick_ciclos(), c.usado + 1u);
        EXPECT_NE(consola().find("Sin ajuste de reloj. Velocidad fija: " + std::to_string(c.usado) + "\r\n"),
                  std::string::npos);
    }
}

TEST_F(Almacen, CodigosDeVelocidadDelEnlace)
{
    const int32_t esperado[] = {4800, 9600, 14400, 19200, 28800, 38400, 56000, 57600, 115200};
    for (uint8_t codigo = 0; codigo <= 8; codigo++) {
        EXPECT_EQ(transformacion_Baudrate_TOV(codigo), esperado[codigo]);
        imagen({{POS_BAUDRATE_TOV, codigo}});
        lectura_de_variables();
        EXPECT_EQ(Establecer_Baudrate_TOV(), 1);
        EXPECT_EQ(CTE_BAUDRATE_TOV, (uint32_t)esperado[codigo]);
        EXPECT_EQ(banco_.placa.uart_baudios(0), (uint32_t)esperado[codigo]);
    }
    EXPECT_EQ(transformacion_Baudrate_TOV(9), -1);
    // A stored code 9 is repaired by the load check before the link opens.
    imagen({{POS_BAUDRATE_TOV, 9}});
    lectura_de_variables();
    EXPECT_EQ(EEPROM.read(POS_BAUDRATE_TOV), 5);
    EXPECT_EQ(Establecer_Baudrate_TOV(), 1);
    EXPECT_EQ(banco_.placa.uart_baudios(0), 38400u);
}

TEST_F(Almacen, EscriturasDeDosBytesYSusLimites)
{
    imagen({});
    escritura_variable_contador_Ficheros(65531);
    EXPECT_EQ(lectura_variable_contador_Ficheros(), 0);
    escritura_variable_contador_Ficheros(65530);
    EXPECT_EQ(lectura_variable_contador_Ficheros(), 65530);
    EXPECT_EQ(EEPROM.read(POS_CONTADOR_FICHEROS), 0xFF);
    EXPECT_EQ(EEPROM.read(POS_CONTADOR_FICHEROS + 1), 0xFA);
    escritura_variable_Tope_Maximo_Ficheros(65535);
    EXPECT_EQ(lectura_variable_Tope_Maximo_Ficheros(), 0);
    escritura_variable_contador_reinicios_24H(700);
    EXPECT_EQ(lectura_variable_contador_reinicios_24H(), 700);
    // The restart counter above the limit also clears the 24-hour counter.
    escritura_variable_contador_reinicios(65533);
    EXPECT_EQ(lectura_variable_contador_reinicios(), 0);
    EXPECT_EQ(lectura_variable_contador_reinicios_24H(), 0);
    escritura_variable_contador_reinicios(65530);
    EXPECT_EQ(lectura_variable_contador_reinicios(), 65530);
    // The tick period keeps all 16 bits.
    escritura_variable_Velocidad_Reloj(65535);
    EXPECT_EQ(lectura_variable_Velocidad_Reloj(), 65535);
    // Each write commits, but only when a byte changed.
    uint64_t antes = banco_.placa.eeprom_commits();
    escritura_variable_Velocidad_Reloj(65535);
    escritura_variable_porcentaje_SD(lectura_variable_porcentaje_SD());
    EXPECT_EQ(banco_.placa.eeprom_commits(), antes);
    escritura_variable_porcentaje_SD(42);
    EXPECT_EQ(banco_.placa.eeprom_commits(), antes + 1);
    EXPECT_EQ(lectura_variable_porcentaje_SD(), 42);
}

TEST_F(Almacen, ValoresSecundariosConSuInforme)
{
    imagen({{POS_CONTADOR_REINICIOS + 1, 57}, {POS_REINICIOS_24H + 1, 4}, {POS_REINICIOS_24H_DIA, 7},
            {POS_PERMITIR_ESCRITURA_SD, 0}, {POS_TOPE_FICHEROS + 1, 20}, {POS_INTERVALO_PROMEDIO, 60},
            {POS_PORCENTAJE_SD, 33}, {POS_BAUDRATE_TOV, 8}});
    lectura_de_variables();
    banco_.borrar_salidas();
    grabacion_parametros_por_defecto_secundarios_al_inicializar_SD(13);
    EXPECT_EQ(banco_.salida(0), "Previous commands: resets: 0/0(0)  //  \tsd: 1/1\r\nFormat begins.\r\n");
    EXPECT_EQ(banco_.salida(1),
              "COMANDOS PREVIOS: \r\n\tn\xBA reinicios = 0 / 0 (0)\r\n\tPermitir escritura en SD =1 / 1\r\n"
              "\tPermitir ajuste de reloj=1\r\n\tV. Reloj=48000 / EEPROM=48000\r\n");
    EXPECT_EQ(lectura_variable_Tope_Maximo_Ficheros(), 100);
    EXPECT_EQ(CTE_NUMERO_MAXIMO_FICHEROS, 100);
    EXPECT_EQ(CTE_PERMITIR_ESCRITURA_SD, 1);
    // The measurement settings, the occupancy and the baud code stay.
    EXPECT_EQ(EEPROM.read(POS_INTERVALO_PROMEDIO), 60);
    EXPECT_EQ(EEPROM.read(POS_PORCENTAJE_SD), 33);
    EXPECT_EQ(EEPROM.read(POS_BAUDRATE_TOV), 8);

    banco_.borrar_salidas();
    grabacion_parametros_por_defecto_secundarios_al_inicializar_SD(23);
    EXPECT_EQ(banco_.salida(0), "Previous commands: resets: 0/0(0)  //  \tsd: 1/1\r\n");
}

TEST_F(Almacen, SecundariosNoTocanElAjusteDesactivado)
{
    imagen({{POS_PERMITIR_AJUSTE_RELOJ, 0}, {POS_VELOCIDAD_RELOJ, 47000 >> 8}, {POS_VELOCIDAD_RELOJ + 1, 47000 & 0xFF}});
    lectura_de_variables();
    grabacion_parametros_por_defecto_secundarios_al_inicializar_SD(14);
    EXPECT_EQ(CTE_AJUSTE_RELOJ, 0);
    EXPECT_EQ(lectura_variable_permitir_ajuste_reloj(), 0);
    EXPECT_EQ(lectura_variable_Velocidad_Reloj(), 47000);
    EXPECT_EQ(CTE_VELOCIDAD_RELOJ, 47000);
}

}  // namespace
