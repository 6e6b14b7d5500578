// Fixed-width numbers, checksums and buffer bounds of the text helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

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
    // The rest below the first digit is kept, and the widest values stay
    // within their table too.
    ibytes_a_escribir_sd[TIPO_RES] = 0;
    insertamos_variable_buffer(cbuffer_res, 4294967295u, 7, 0, TIPO_RES);
    EXPECT_EQ(contenido(cbuffer_res, TIPO_RES), "F967295");
    ibytes_a_escribir_sd[TIPO_RES] = 0;
    insertamos_variable_hex_buffer(cbuffer_res, 0x123, 2, 0, TIPO_RES);
    insertamos_variable_hex_buffer(cbuffer_res, 0xFFFFFFFFu, 8, 0, TIPO_RES);
    insertamos_variable_buffer(cbuffer_res, 1599999, 6, 0, TIPO_RES);
    insertamos_variable_buffer(cbuffer_res, 9999999, 7, 0, TIPO_RES);
    EXPECT_EQ(contenido(cbuffer_res, TIPO_RES), "F3FFFFFFFFF999999999999");
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

// The text the library's formatting gives for a velocity, sign first.
std::string esperado_float(float f)
{
    std::string r(1, f < 0 ? '-' : ' ');
    if (f < 0) f = -f;
    char texto[64];
    snprintf(texto, sizeof texto, "%010.4f", (double)f);
    return r + texto;
}

float float_de_bits(uint32_t bits)
{
    float f;
    memcpy(&f, &bits, sizeof f);
    return f;
}

uint32_t bits_de_float(float f)
{
    uint32_t bits;
    memcpy(&bits, &f, sizeof bits);
    return bits;
}

// Compares the written text of every value of a run with the library's;
// returns the count of mismatches, the first few reported.
int diferencias_float(const std::vector<float> &valores)
{
    int fallos = 0;
    for (float f : valores) {
        ibytes_a_escribir_sd[TIPO_RAW] = 0;
        insertamos_variable_float_buffer_v02(cbuffer_raw, f, 10, 4, 0, TIPO_RAW);
        std::string obtenido = contenido(cbuffer_raw, TIPO_RAW);
        std::string esperado = esperado_float(f);
        if (obtenido != esperado && ++fallos <= 5)
            ADD_FAILURE() << "bits 0x" << std::hex << bits_de_float(f) << ": \"" << obtenido << "\" != \""
                          << esperado << "\"";
    }
    return fallos;
}

// Every float between two values (both of one sign), by their bit patterns.
void todos_entre(std::vector<float> &v, float desde, float hasta)
{
    uint32_t a = bits_de_float(desde), b = bits_de_float(hasta);
    if (a > b) std::swap(a, b);
    for (uint32_t x = a; x <= b; x++) v.push_back(float_de_bits(x));
}

TEST_F(Textos, FlotanteComoLaBibliotecaEnTramosEnterosYBordes)
{
    std::vector<float> v;
    todos_entre(v, 0.0f, float_de_bits(0x200));          // zero and the smallest subnormals
    todos_entre(v, 0.00004f, 0.00006f);                  // around half the last decimal
    todos_entre(v, 0.99f, 1.01f);                        // across a power of two and a carry
    todos_entre(v, -9.999f, -10.001f);                   // negatives, carry into a new digit
    todos_entre(v, 9999.99f, 10000.01f);                 // the fifth integer digit
    todos_entre(v, 99999.99f, 100000.01f);               // the field grows past five digits
    todos_entre(v, -99999.99f, -100000.01f);
    todos_entre(v, 1048575.0f, 1048577.0f);              // both sides of the integer-only limit
    todos_entre(v, -1048575.0f, -1048577.0f);
    v.push_back(-0.0f);
    v.push_back(std::numeric_limits<float>::infinity());
    v.push_back(-std::numeric_limits<float>::infinity());
    v.push_back(std::numeric_limits<float>::quiet_NaN());
    v.push_back(-std::numeric_limits<float>::quiet_NaN());
    v.push_back(std::numeric_limits<float>::max());
    v.push_back(std::numeric_limits<float>::denorm_min());
    EXPECT_GT(v.size(), 100000u);
    EXPECT_EQ(diferencias_float(v), 0);
    // Every one of them stayed off the console's trace.
    EXPECT_EQ(banco.salida(1), "");
}

TEST_F(Textos, FlotanteComoLaBibliotecaEnEmpatesYAlAzar)
{
    std::vector<float> v;
    // k/2^n with n of 5 or more has digits past the fourth decimal; at n = 5
    // every odd k ends in 5 and is a tie, settled to the even decimal.
    for (uint32_t n = 5; n <= 8; n++)
        for (uint32_t k = 0; k < 40000; k++) {
            float f = std::ldexp((float)k, -(int)n);
            v.push_back(f);
            v.push_back(-f);
        }
    // The largest ties: floats keep a 1/32 step up to 2^19.
    for (uint32_t k = (1u << 24) - 4000u; k < (1u << 24); k++) v.push_back(std::ldexp((float)k, -5));
    // Values and whole bit patterns at random.
    std::mt19937 azar(21);
    std::uniform_real_distribution<float> velocidades(-2000.0f, 2000.0f);
    for (int i = 0; i < 100000; i++) v.push_back(velocidades(azar));
    for (int i = 0; i < 100000; i++) v.push_back(float_de_bits((uint32_t)azar()));
    EXPECT_EQ(diferencias_float(v), 0);
    EXPECT_EQ(banco.salida(1), "");
    // A few written out, ties among them.
    ibytes_a_escribir_sd[TIPO_RAW] = 0;
    insertamos_variable_float_buffer_v02(cbuffer_raw, 1.0f / 32, 10, 4, ',', TIPO_RAW);
    insertamos_variable_float_buffer_v02(cbuffer_raw, 3.0f / 32, 10, 4, ',', TIPO_RAW);
    insertamos_variable_float_buffer_v02(cbuffer_raw, -0.99995f, 10, 4, ',', TIPO_RAW);
    insertamos_variable_float_buffer_v02(cbuffer_raw, 1048575.5f, 10, 4, 0, TIPO_RAW);
    EXPECT_EQ(contenido(cbuffer_raw, TIPO_RAW), " 00000.0312, 00000.0938,-00000.9999, 1048575.5000");
}

// A float's text is within 0.00005 of it, so the nearest float to the text
// is no farther than the value itself: reading the text back never strays.
TEST_F(Textos, FlotanteLeidoDeVueltaNoSeAleja)
{
    std::mt19937 azar(7);
    for (int i = 0; i < 200000; i++) {
        float f = float_de_bits((uint32_t)azar() & 0x7FFFFFFFu);
        if (!(f < 1048576.0f)) continue;
        ibytes_a_escribir_sd[TIPO_RAW] = 0;
        insertamos_variable_float_buffer_v02(cbuffer_raw, f, 10, 4, 0, TIPO_RAW);
        std::string texto = contenido(cbuffer_raw, TIPO_RAW);
        float leido = strtof(texto.c_str(), nullptr);
        ASSERT_LE(std::fabs(leido - f), 0.0001f) << texto;
    }
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
