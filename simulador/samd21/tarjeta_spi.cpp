#include "tarjeta_spi.h"

#include "../mundo/tarjeta.h"

namespace samd21 {

namespace {
uint8_t crc7(const uint8_t *d, size_t n)
{
    uint8_t crc = 0;
    for (size_t i = 0; i < n; i++) {
        uint8_t b = d[i];
        for (int k = 0; k < 8; k++) {
            crc <<= 1;
            if (((b & 0x80) ^ (crc & 0x80)) != 0) crc ^= 0x09;
            b <<= 1;
        }
    }
    return crc & 0x7F;
}

uint16_t crc16(const uint8_t *d, size_t n)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < n; i++) {
        crc ^= (uint16_t)(d[i] << 8);
        for (int k = 0; k < 8; k++) crc = (crc & 0x8000) ? (uint16_t)((crc << 1) ^ 0x1021) : (uint16_t)(crc << 1);
    }
    return crc;
}

// A field of a 128-bit register sent most significant byte first.
void poner_bits(uint8_t *r, int alto, int bajo, uint32_t valor)
{
    for (int i = bajo; i <= alto; i++, valor >>= 1) {
        int byte = 15 - i / 8, bit = i % 8;
        if (valor & 1) r[byte] |= (uint8_t)(1u << bit);
        else r[byte] &= (uint8_t)~(1u << bit);
    }
}

constexpr uint32_t BLOQUES_2GB = 4194304;
}  // namespace

void TarjetaSpi::reiniciar_estado()
{
    estado_ = Estado::Comando;
    cmd_n_ = 0;
    salida_.clear();
    retener_.clear();
    inactiva_ = true;
    en_spi_ = false;
    app_cmd_ = false;
    acmd41_intentos_ = 0;
    lectura_multiple_ = false;
    dato_iniciado_ = false;
    listo_en_ = 0;
}

void TarjetaSpi::deseleccionar()
{
    cmd_n_ = 0;
}

uint32_t TarjetaSpi::bloque_de(uint32_t argumento) const
{
    mundo::Tarjeta *t = mundo::tarjeta_actual();
    bool alta = t && t->bloques() > BLOQUES_2GB;
    return alta ? argumento : argumento / 512;
}

void TarjetaSpi::poner(uint8_t byte, uint64_t no_antes)
{
    salida_.push_back(byte);
    retener_.push_back(no_antes);
}

void TarjetaSpi::bloque_de_datos(const uint8_t *datos, size_t n, uint64_t no_antes)
{
    poner(0xFE, no_antes);
    for (size_t i = 0; i < n; i++) poner(datos[i]);
    uint16_t c = crc16(datos, n);
    poner((uint8_t)(c >> 8));
    poner((uint8_t)c);
}

bool TarjetaSpi::leer_bloque(uint32_t bloque, uint64_t ciclo)
{
    mundo::Tarjeta *t = mundo::tarjeta_actual();
    uint8_t datos[512];
    if (!t || !t->leer(bloque, datos)) {
        poner(0x01, ciclo + CICLOS_LECTURA);  // data error token
        return false;
    }
    bloque_de_datos(datos, sizeof datos, ciclo + CICLOS_LECTURA);
    return true;
}

uint8_t TarjetaSpi::transferir(uint8_t mosi, uint64_t ciclo)
{
    mundo::Tarjeta *t = mundo::tarjeta_actual();
    if (!t || !t->presente()) {
        // Out of the slot: nothing drives MISO, the pull-up reads high.
        reiniciar_estado();
        return 0xFF;
    }
    if (t->insercion() != insercion_) {
        reiniciar_estado();
        insercion_ = t->insercion();
    }
    uint8_t salida = 0xFF;
    if (!salida_.empty()) {
        if (ciclo >= retener_.front()) {
            salida = salida_.front();
            salida_.pop_front();
            retener_.pop_front();
        }
    } else if (ciclo < listo_en_) {
        salida = 0x00;  // busy programming
    } else if (lectura_multiple_ && cmd_n_ == 0) {
        leer_bloque(siguiente_bloque_++, ciclo);
    }

    if (estado_ != Estado::Comando) {
        if (!dato_iniciado_) {
            if ((estado_ == Estado::DatosEscritura && mosi == 0xFE) || (estado_ == Estado::EscrituraMultiple && mosi == 0xFC)) {
                dato_iniciado_ = true;
                dato_.clear();
            } else if (estado_ == Estado::EscrituraMultiple && mosi == 0xFD) {
                estado_ = Estado::Comando;  // stop transmission token
                listo_en_ = ciclo + CICLOS_LECTURA;
            }
            return salida;
        }
        dato_.push_back(mosi);
        if (dato_.size() < 512 + 2) return salida;
        dato_iniciado_ = false;
        bool ok = t->escribir(bloque_escritura_++, dato_.data());
        poner(ok ? 0x05 : 0x0D);  // data accepted / write error
        listo_en_ = ciclo + CICLOS_ESCRITURA;
        if (estado_ == Estado::DatosEscritura || !ok) estado_ = Estado::Comando;
        return salida;
    }

    if (cmd_n_ == 0) {
        if ((mosi & 0xC0) == 0x40) cmd_[cmd_n_++] = mosi;
    } else {
        cmd_[cmd_n_++] = mosi;
        if (cmd_n_ == 6) {
            cmd_n_ = 0;
            comando(ciclo);
        }
    }
    return salida;
}

void TarjetaSpi::comando(uint64_t ciclo)
{
    mundo::Tarjeta *t = mundo::tarjeta_actual();
    comandos_++;
    int cmd = cmd_[0] & 0x3F;
    uint32_t arg = (uint32_t)cmd_[1] << 24 | (uint32_t)cmd_[2] << 16 | (uint32_t)cmd_[3] << 8 | cmd_[4];
    if (cmd == 12) {
        // Stops a multiple-block read: what was still coming is dropped.
        salida_.clear();
        retener_.clear();
        lectura_multiple_ = false;
        poner(0xFF);
        poner(0x00);
        listo_en_ = ciclo + 480;
        return;
    }
    if (!salida_.empty() && lectura_multiple_) return;
    salida_.clear();
    retener_.clear();
    if (cmd == 0) {
        // CRC is checked on CMD0 and CMD8 even in SPI mode.
        if (((crc7(cmd_, 5) << 1) | 1) != cmd_[5]) { poner(0xFF); poner(0x09); return; }
        reiniciar_estado();
        insercion_ = t->insercion();
        en_spi_ = true;
        poner(0xFF);
        poner(0x01);
        return;
    }
    if (!en_spi_) return;  // still in SD bus mode: no answer on SPI
    uint8_t r1 = inactiva_ ? 0x01 : 0x00;
    bool alta = t->bloques() > BLOQUES_2GB;
    if (app_cmd_) {
        app_cmd_ = false;
        switch (cmd) {
        case 41:
            if (++acmd41_intentos_ >= 2) inactiva_ = false;
            poner(0xFF);
            poner(inactiva_ ? 0x01 : 0x00);
            return;
        case 13: {
            poner(0xFF);
            poner(r1);
            poner(0x00);
            uint8_t estado[64] = {};
            bloque_de_datos(estado, sizeof estado, ciclo + CICLOS_LECTURA);
            return;
        }
        case 23:
            poner(0xFF);
            poner(r1);
            return;
        case 51: {
            poner(0xFF);
            poner(r1);
            uint8_t scr[8] = {0x02, 0x35, 0x80, 0x00, 0, 0, 0, 0};
            bloque_de_datos(scr, sizeof scr, ciclo + CICLOS_LECTURA);
            return;
        }
        default:
            break;  // the plain command of that number
        }
    }
    poner(0xFF);
    switch (cmd) {
    case 8:
        if (((crc7(cmd_, 5) << 1) | 1) != cmd_[5]) { poner(r1 | 0x08); return; }
        poner(r1);
        poner(0x00);
        poner(0x00);
        poner((uint8_t)((arg >> 8) & 0x0F));
        poner((uint8_t)arg);
        return;
    case 9: {
        uint8_t csd[16] = {};
        uint32_t bloques = t->bloques();
        if (alta) {
            poner_bits(csd, 127, 126, 1);
            poner_bits(csd, 69, 48, bloques / 1024 - 1);
        } else {
            uint32_t len = 9, unidades = bloques;
            while (unidades / 512 > 4096) { len++; unidades /= 2; }
            poner_bits(csd, 83, 80, len);
            poner_bits(csd, 73, 62, unidades / 512 - 1);
            poner_bits(csd, 49, 47, 7);
        }
        poner_bits(csd, 119, 112, 0x0E);
        poner_bits(csd, 103, 96, 0x32);
        poner_bits(csd, 95, 84, 0x5B5);
        if (alta) poner_bits(csd, 83, 80, 9);
        poner_bits(csd, 46, 46, 1);
        poner_bits(csd, 45, 39, 0x7F);
        poner_bits(csd, 25, 22, 9);
        csd[15] = (uint8_t)((crc7(csd, 15) << 1) | 1);
        poner(r1);
        bloque_de_datos(csd, sizeof csd, ciclo + CICLOS_LECTURA);
        return;
    }
    case 10: {
        uint8_t cid[16] = {0x03, 'O', 'S', 'O', 'L', 'A', 'S', '1', 0x10, 0x5D, 0x00, 0x00, 0x01, 0x01, 0x6C, 0};
        cid[15] = (uint8_t)((crc7(cid, 15) << 1) | 1);
        poner(r1);
        bloque_de_datos(cid, sizeof cid, ciclo + CICLOS_LECTURA);
        return;
    }
    case 13:
        poner(r1);
        poner(0x00);
        return;
    case 16:
    case 59:
        poner(r1);
        return;
    case 17:
    case 18: {
        uint32_t b = bloque_de(arg);
        if (b >= t->bloques()) { poner(r1 | 0x40); return; }
        poner(r1);
        if (leer_bloque(b, ciclo) && cmd == 18) {
            lectura_multiple_ = true;
            siguiente_bloque_ = b + 1;
        }
        return;
    }
    case 24:
    case 25:
        bloque_escritura_ = bloque_de(arg);
        if (bloque_escritura_ >= t->bloques()) { poner(r1 | 0x40); return; }
        poner(r1);
        estado_ = cmd == 24 ? Estado::DatosEscritura : Estado::EscrituraMultiple;
        dato_iniciado_ = false;
        return;
    case 32:
        borrar_desde_ = bloque_de(arg);
        poner(r1);
        return;
    case 33:
        borrar_hasta_ = bloque_de(arg);
        poner(r1);
        return;
    case 38:
        poner(t->borrar(borrar_desde_, borrar_hasta_) ? r1 : (uint8_t)(r1 | 0x20));
        listo_en_ = ciclo + CICLOS_BORRADO;
        return;
    case 55:
        app_cmd_ = true;
        poner(r1);
        return;
    case 58: {
        uint32_t ocr = 0x00FF8000u | (inactiva_ ? 0 : 0x80000000u) | (alta && !inactiva_ ? 0x40000000u : 0);
        poner(r1);
        for (int s = 24; s >= 0; s -= 8) poner((uint8_t)(ocr >> s));
        return;
    }
    default:
        poner(r1 | 0x04);  // illegal command
        return;
    }
}

}  // namespace samd21
