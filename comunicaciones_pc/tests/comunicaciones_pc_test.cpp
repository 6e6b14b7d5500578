// Fixed-width numbers, checksums and buffer bounds of the text helpers.
#include <gtest/gtest.h>

#include <string>

#include "comunicaciones_pc/comunicaciones_pc.h"
#include "declaraciones/declaraciones.h"
#include "plataforma/tests/banco_pruebas.h"

namespace {

std::string contenido(const char *buffer, uint8_t tipo) { return std::string(buffer, ibytes_a_escribir_sd[tipo]); }

class Textos : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (auto &p : ibytes_a_escribir_sd) p = 0;
        ccalculo_checksum_nmea = 0;
        cchecksum_nmea_tov03 = 0;
        banco.borrar_salidas();
    }
    BancoPruebas banco;
};

TEST_F(Textos, CifrasDecimalesConTerminador)
{
    insertamos_variable_buffer(cbuffer_wav, 7, 2, 44, TIPO_WAV);
    EXPECT_EQ(contenido(cbuffer_wav, TIPO_WAV), "07,");
    ibytes_a_escribir_sd[TIPO_WAV] = 0;
    insertamos_variable_buffer(cbuffer_wav, 7, 2, 1, TIPO_WAV);
    EXPECT_EQ(contenido(cbuffer_wav, TIPO_WAV), "07\r\n");
    ibytes_a_escribir_sd[TIPO_WAV] = 0;
    insertamos_variable_buffer(cbuffer_wav, 7, 2, 0, TIPO_WAV);
    EXPECT_EQ(contenido(cbuffer_wav, TIPO_WAV), "07");
    ibytes_a_escribir_sd[TIPO_WAV] = 0;
    insertamos_variable_buffer(cbuffer_wav, 1234567, 7, '_', TIPO_WAV);
    insertamos_variable_buffer(cbuffer_wav, 0, 5, 0, TIPO_WAV);
    EXPECT_EQ(contenido(cbuffer_wav, TIPO_WAV), "1234567_00000");
}

TEST_F(Textos, CifrasHexadecimalesYValoresDemasiadoAnchos)
{
    insertamos_variable_hex_buffer(cbuffer_res, 0x2A, 2, 0, TIPO_RES);
    EXPECT_EQ(contenido(cbuffer_res, TIPO_RES), "2A");
    ibytes_a_escribir_sd[TIPO_RES] = 0;
    insertamos_variable_hex_buffer(cbuffer_res, 0xDEADBEEF, 8, 0, TIPO_RES);
    EXPECT_EQ(contenido(cbuffer_res, TIPO_RES), "DEADBEEF");
    // Too wide for its decimal field: quotients 10 to 15 come out as letters,
    // and a larger one stays within the table.
    ibytes_a_escribir_sd[TIPO_RES] = 0;
    insertamos_variable_buffer(cbuffer_res, 123, 2, 0, TIPO_RES);
    EXPECT_EQ(contenido(cbuffer_res, TIPO_RES), "C3");
    ibytes_a_escribir_sd[TIPO_RES] = 0;
    insertamos_variable_buffer(cbuffer_res, 999, 1, 0, TIPO_RES);
    EXPECT_EQ(contenido(cbuffer_res, TIPO_RES), "F");
}

TEST_F(Textos, FlotanteConSignoYFormatoFijo)
{
    insertamos_variable_float_buffer_v02(cbuffer_raw, -3.14159f, 3, 4, ',', TIPO_RAW);
    insertamos_variable_float_buffer_v02(cbuffer_raw, 0.0f, 1, 1, ',', TIPO_RAW);
    insertamos_variable_float_buffer_v02(cbuffer_raw, 12.5f, 9, 9, 0, TIPO_RAW);
    EXPECT_EQ(contenido(cbuffer_raw, TIPO_RAW), "-00003.1416, 00000.0000, 00012.5000");
    ibytes_a_escribir_sd[TIPO_RAW] = 0;
    insertamos_variable_float_buffer_v02(cbuffer_raw, 123456.0f, 1, 1, 0, TIPO_RAW);
    EXPECT_EQ(contenido(cbuffer_raw, TIPO_RAW), " 123456.0000");
    EXPECT_EQ(banco.salida(1), "");
}

TEST_F(Textos, FlotanteGrandeAlargaElCampoSinTraza)
{
    insertamos_variable_float_buffer_v02(cbuffer_raw, -3.0e9f, 1, 1, 0, TIPO_RAW);
    EXPECT_EQ(contenido(cbuffer_raw, TIPO_RAW), "-3000000000.0000");
    EXPECT_EQ(banco.salida(1), "");
}

TEST_F(Textos, ChecksumDeLoInsertadoConLaBanderaPuesta)
{
    inserto_caracter_buffer(cbuffer_tov03, '$', TIPO_TOV03);
    ccalculo_checksum_nmea = 1;
    insertamos_mensaje_buffer(cbuffer_tov03, "OLA,01,", TIPO_TOV03);
    insertamos_variable_buffer(cbuffer_promedio, 42, 5, 0, TIPO_PROMEDIO);  // another buffer counts too
    ccalculo_checksum_nmea = 0;
    inserto_caracter_buffer(cbuffer_tov03, '*', TIPO_TOV03);
    uint8_t x = 0;
    for (char c : std::string("OLA,01,00042")) x ^= (uint8_t)c;
    EXPECT_EQ(cchecksum_nmea_tov03, x);
    EXPECT_EQ(contenido(cbuffer_tov03, TIPO_TOV03), "$OLA,01,*");
}

TEST_F(Textos, UnBufferLlenoDescartaLoQueSobra)
{
    const uint32_t capacidades[5] = {1024, 248, 248, 248, 79};
    char *buffers[5] = {cbuffer_raw, cbuffer_wav, cbuffer_res, cbuffer_tov03, cbuffer_promedio};
    for (uint8_t tipo = 0; tipo < 5; tipo++) {
        EXPECT_EQ(capacidad_buffer(tipo), capacidades[tipo]);
        ccalculo_checksum_nmea = 1;
        cchecksum_nmea_tov03 = 0;
        for (uint32_t i = 0; i < capacidades[tipo] + 50; i++) inserto_caracter_buffer(buffers[tipo], 'a', tipo);
        ccalculo_checksum_nmea = 0;
        EXPECT_EQ(ibytes_a_escribir_sd[tipo], capacidades[tipo]);
        // Only the stored characters were folded in: an even count of 'a'.
        EXPECT_EQ(cchecksum_nmea_tov03, (capacidades[tipo] % 2) ? 'a' : 0);
    }
}

TEST_F(Textos, Comparacion)
{
    char recibido[] = "ABCDEF";
    EXPECT_EQ(comparacion(2, recibido, "CDE", 0), 1);
    EXPECT_EQ(comparacion(2, recibido, "CDE", 3), 1);
    EXPECT_EQ(comparacion(2, recibido, "CDE", 4), 0);
    EXPECT_EQ(comparacion(1, recibido, "CDE", 0), 0);
    EXPECT_EQ(comparacion(0, recibido, "", 0), 1);
    EXPECT_EQ(comparacion(0, recibido, "ABCDEF", 6), 1);
}

TEST_F(Textos, VariablesEnLaConsola)
{
    transmito_variable(7, 2, '/');
    transmito_variable(123, 2, 0);  // too wide: the field grows
    transmito_variable(5, 3, 1);
    EXPECT_EQ(banco.salida(1), "07/123005\r\n");
}

TEST_F(Textos, BannerEnAmbosPuertos)
{
    mensaje_bienvenida();
    std::string marco(79, '*');
    std::string consola = banco.salida(1);
    std::string enlace = banco.salida(0);
    EXPECT_EQ(consola.rfind("\r\n" + marco + "\r\n\t\tORVENTIS\r\n\t\t", 0), 0u) << consola;
    EXPECT_NE(consola.find(marco + "\r\n\tSensor de olas\tHardware:01_0\tFirmware:01_7_3\r\n" + marco +
                           "\r\n\r\n"),
              std::string::npos)
        << consola;
    EXPECT_NE(enlace.find("\tSensor de olas\tHardware:1_0\tFirmware:1_7_3\r\n"), std::string::npos) << enlace;
    // Eight lines on each port.
    size_t lineas = 0;
    for (size_t p = 0; (p = enlace.find("\r\n", p)) != std::string::npos; p += 2) lineas++;
    EXPECT_EQ(lineas, 8u);
    EXPECT_EQ(consola.size(), enlace.size() + 2);  // the leading zeros of the two versions
}

}  // namespace
