#include "tarjeta_spi.h"

namespace samd21 {

namespace {
constexpr uint8_t CMD0 = 0, CMD8 = 8, CMD9 = 9, CMD12 = 12, CMD13 = 13, CMD16 = 16, CMD17 = 17, CMD18 = 18,
                  CMD24 = 24, CMD25 = 25, CMD32 = 32, CMD33 = 33, CMD38 = 38, CMD55 = 55, CMD58 = 58, ACMD41 = 41;
constexpr uint8_t R1_IDLE = 0x01;
constexpr uint8_t R1_ILEGAL = 0x04;
constexpr uint8_t TOKEN_BLOQUE = 0xFE;          // single read/write, multiple read
constexpr uint8_t TOKEN_ESCRITURA_VARIOS = 0xFC;
constexpr uint8_t TOKEN_FIN_ESCRITURA = 0xFD;
constexpr uint8_t RESPUESTA_ACEPTADA = 0x05;
constexpr uint32_t ARG_CMD8 = 0x000001AAu;      // 2.7-3.6 V, check pattern 0xAA
constexpr uint32_t ARG_HCS = 0x40000000u;
constexpr int INTENTOS_CMD0 = 10;
}  // namespace

uint8_t crc7_sd(const uint8_t *datos, size_t n)
{
    uint8_t crc = 0;
    for (size_t i = 0; i < n; i++) {
        uint8_t b = datos[i];
        for (int j = 0; j < 8; j++) {
            crc = (uint8_t)(crc << 1);
            if (((b << j) ^ crc) & 0x80) crc ^= 0x09;
        }
    }
    return crc & 0x7F;
}

uint32_t bloques_de_csd(const uint8_t csd[16])
{
    uint8_t estructura = csd[0] >> 6;
    if (estructura == 1) {
        uint32_t c_size = ((uint32_t)(csd[7] & 0x3F) << 16) | ((uint32_t)csd[8] << 8) | csd[9];
        return (c_size + 1u) << 10;
    }
    if (estructura == 0) {
        uint32_t read_bl_len = csd[5] & 0x0F;
        uint32_t c_size = ((uint32_t)(csd[6] & 0x03) << 10) | ((uint32_t)csd[7] << 2) | (csd[8] >> 6);
        uint32_t c_size_mult = ((uint32_t)(csd[9] & 0x03) << 1) | (csd[10] >> 7);
        uint32_t desplazamiento = c_size_mult + 2u + read_bl_len;
        if (desplazamiento < 9 || desplazamiento > 40) return 0;
        return (c_size + 1u) << (desplazamiento - 9u);
    }
    return 0;
}

bool TarjetaSpi::fallo(Error e)
{
    error_ = e;
    soltar();
    return false;
}

void TarjetaSpi::soltar()
{
    bus_.seleccionar(false);
    bus_.intercambiar(0xFF);   // the card lets go of its data line
}

bool TarjetaSpi::esperar_libre(uint32_t ms)
{
    uint32_t inicio = bus_.milisegundos();
    for (;;) {
        if (bus_.intercambiar(0xFF) == 0xFF) return true;
        if (bus_.milisegundos() - inicio >= ms) return false;
        bus_.esperando();
        bus_.pausa();
    }
}

uint8_t TarjetaSpi::comando(uint8_t indice, uint32_t argumento)
{
    bus_.seleccionar(true);
    if (indice != CMD0 && !esperar_libre(MS_LIBRE)) return r1_ = 0xFF;
    uint8_t trama[6] = {(uint8_t)(0x40u | indice), (uint8_t)(argumento >> 24), (uint8_t)(argumento >> 16),
                        (uint8_t)(argumento >> 8), (uint8_t)argumento, 0};
    trama[5] = (uint8_t)((crc7_sd(trama, 5) << 1) | 1u);
    for (uint8_t b : trama) bus_.intercambiar(b);
    if (indice == CMD12) bus_.intercambiar(0xFF);   // the stuff byte after a stop
    // The answer comes within 8 bytes: the first with its top bit clear.
    uint8_t r = 0xFF;
    for (int i = 0; i < 9 && (r & 0x80); i++) r = bus_.intercambiar(0xFF);
    return r1_ = r;
}

uint8_t TarjetaSpi::comando_app(uint8_t indice, uint32_t argumento)
{
    uint8_t r = comando(CMD55, 0);
    if (r & ~R1_IDLE) return r;
    return comando(indice, argumento);
}

bool TarjetaSpi::recibir_datos(uint8_t *datos, size_t bytes)
{
    uint32_t inicio = bus_.milisegundos();
    uint8_t token;
    for (;;) {
        token = bus_.intercambiar(0xFF);
        if (token != 0xFF) break;
        if (bus_.milisegundos() - inicio >= MS_LECTURA) return false;
        bus_.esperando();
    }
    if (token != TOKEN_BLOQUE) return false;   // a data error token
    for (size_t i = 0; i < bytes; i++) datos[i] = bus_.intercambiar(0xFF);
    bus_.intercambiar(0xFF);   // CRC-16, not checked (CRC mode off)
    bus_.intercambiar(0xFF);
    return true;
}

bool TarjetaSpi::enviar_datos(uint8_t token, const uint8_t *datos)
{
    bus_.intercambiar(token);
    for (size_t i = 0; i < 512; i++) bus_.intercambiar(datos[i]);
    bus_.intercambiar(0xFF);   // CRC-16, ignored by the card in SPI mode
    bus_.intercambiar(0xFF);
    uint8_t respuesta = bus_.intercambiar(0xFF) & 0x1F;
    if (respuesta != RESPUESTA_ACEPTADA) return false;
    return esperar_libre(MS_ESCRITURA);
}

bool TarjetaSpi::iniciar()
{
    olvidar();
    error_ = SIN_ERROR;
    bus_.velocidad_inicio(true);
    bus_.seleccionar(false);
    for (int i = 0; i < 10; i++) bus_.intercambiar(0xFF);   // 80 clocks with the card deselected

    uint8_t r = 0xFF;
    for (int i = 0; i < INTENTOS_CMD0 && r != R1_IDLE; i++) r = comando(CMD0, 0);
    if (r != R1_IDLE) return fallo(ERROR_CMD0);

    Tipo tipo = SD1;
    r = comando(CMD8, ARG_CMD8);
    if (!(r & R1_ILEGAL)) {
        if (r != R1_IDLE) return fallo(ERROR_CMD8);
        uint8_t r7[4];
        for (uint8_t &b : r7) b = bus_.intercambiar(0xFF);
        if (r7[3] != 0xAA || (r7[2] & 0x0F) != 0x01) return fallo(ERROR_CMD8);
        tipo = SD2;
    }

    uint32_t inicio = bus_.milisegundos();
    for (;;) {
        r = comando_app(ACMD41, tipo == SD2 ? ARG_HCS : 0);
        if (r == 0) break;
        if (r != R1_IDLE || bus_.milisegundos() - inicio >= MS_INICIALIZACION) return fallo(ERROR_ACMD41);
        bus_.esperando();
    }

    if (tipo == SD2) {
        if (comando(CMD58, 0) != 0) return fallo(ERROR_CMD58);
        uint8_t ocr[4];
        for (uint8_t &b : ocr) b = bus_.intercambiar(0xFF);
        if ((ocr[0] & 0xC0) == 0xC0) tipo = SDHC;   // powered up, card capacity status
    }
    if (tipo != SDHC && comando(CMD16, 512) != 0) return fallo(ERROR_CMD16);

    uint8_t csd[16];
    if (comando(CMD9, 0) != 0 || !recibir_datos(csd, sizeof csd)) return fallo(ERROR_CSD);
    uint32_t n = bloques_de_csd(csd);
    if (n == 0) return fallo(ERROR_CSD);
    soltar();
    bus_.velocidad_inicio(false);
    tipo_ = tipo;
    bloques_ = n;
    return true;
}

bool TarjetaSpi::leer(uint32_t bloque, uint8_t *datos) { return leer_varios(bloque, 1, datos); }

bool TarjetaSpi::leer_varios(uint32_t bloque, uint32_t cantidad, uint8_t *datos)
{
    if (!en_rango(bloque, cantidad) || en_escritura_) return fallo(ERROR_RANGO);
    if (cantidad == 1) {
        if (comando(CMD17, direccion(bloque)) != 0 || !recibir_datos(datos, 512)) return fallo(ERROR_LECTURA);
        soltar();
        return true;
    }
    if (comando(CMD18, direccion(bloque)) != 0) return fallo(ERROR_LECTURA);
    for (uint32_t i = 0; i < cantidad; i++) {
        if (!recibir_datos(datos + 512u * i, 512)) {
            comando(CMD12, 0);
            return fallo(ERROR_LECTURA);
        }
    }
    if (comando(CMD12, 0) != 0 || !esperar_libre(MS_LIBRE)) return fallo(ERROR_LECTURA);
    soltar();
    return true;
}

bool TarjetaSpi::estado()
{
    if (comando(CMD13, 0) != 0) return fallo(ERROR_ESTADO);
    uint8_t r2 = bus_.intercambiar(0xFF);
    if (r2 != 0) return fallo(ERROR_ESTADO);
    soltar();
    return true;
}

bool TarjetaSpi::escribir(uint32_t bloque, const uint8_t *datos)
{
    if (!en_rango(bloque, 1) || en_escritura_) return fallo(ERROR_RANGO);
    if (comando(CMD24, direccion(bloque)) != 0) return fallo(ERROR_ESCRITURA);
    bus_.intercambiar(0xFF);
    if (!enviar_datos(TOKEN_BLOQUE, datos)) return fallo(ERROR_ESCRITURA);
    // The card reports a failed programming only in its status.
    return estado() || fallo(ERROR_ESCRITURA);
}

bool TarjetaSpi::escribir_inicio(uint32_t bloque, uint32_t cantidad)
{
    en_escritura_ = false;
    if (!en_rango(bloque, cantidad)) return fallo(ERROR_RANGO);
    if (comando(CMD25, direccion(bloque)) != 0) return fallo(ERROR_ESCRITURA);
    en_escritura_ = true;
    quedan_ = cantidad;
    return true;   // the card stays selected until escribir_fin
}

bool TarjetaSpi::escribir_siguiente(const uint8_t *datos)
{
    if (!en_escritura_ || quedan_ == 0) return fallo(ERROR_RANGO);
    bus_.intercambiar(0xFF);
    if (!enviar_datos(TOKEN_ESCRITURA_VARIOS, datos)) {
        en_escritura_ = false;
        bus_.intercambiar(TOKEN_FIN_ESCRITURA);
        esperar_libre(MS_ESCRITURA);
        return fallo(ERROR_ESCRITURA);
    }
    quedan_--;
    return true;
}

bool TarjetaSpi::escribir_fin()
{
    if (!en_escritura_) return fallo(ERROR_RANGO);
    en_escritura_ = false;
    bus_.intercambiar(TOKEN_FIN_ESCRITURA);
    bus_.intercambiar(0xFF);
    if (!esperar_libre(MS_ESCRITURA)) return fallo(ERROR_OCUPADA);
    return estado() || fallo(ERROR_ESCRITURA);
}

bool TarjetaSpi::borrar(uint32_t primero, uint32_t ultimo)
{
    if (ultimo < primero || !en_rango(primero, ultimo - primero + 1u) || en_escritura_) return fallo(ERROR_RANGO);
    if (comando(CMD32, direccion(primero)) != 0 || comando(CMD33, direccion(ultimo)) != 0 ||
        comando(CMD38, 0) != 0)
        return fallo(ERROR_BORRADO);
    if (!esperar_libre(MS_BORRADO)) return fallo(ERROR_OCUPADA);
    return estado() || fallo(ERROR_BORRADO);
}

}  // namespace samd21
