#include "SdFat.h"
#include "bloques_sd.h"

// A card above 2 GB is a high-capacity (block-addressed) card.
static constexpr uint32_t BLOQUES_2GB = 4194304;

bool Sd2Card::fallo(uint8_t codigo)
{
    error_ = codigo;
    return false;
}

bool Sd2Card::begin(uint8_t chipSelect, uint32_t spi)
{
    (void)spi;
    iniciada_ = false;
    en_escritura_ = false;
    tipo_ = 0;
    estado_ = 0;
    // Only line PA13 reaches the card's chip select.
    if (chipSelect != SD_CHIP_SELECT_PIN && chipSelect != SD_CHIP_SELECT_PIN_FORMATEO) {
        estado_ = 0xFF;
        return fallo(SD_CARD_ERROR_CMD0);
    }
    if (!sd_bloques_iniciar(&insercion_)) {
        estado_ = 0xFF;
        return fallo(SD_CARD_ERROR_CMD0);
    }
    uint32_t n = sd_bloques_cantidad(insercion_);
    if (n == 0) {
        estado_ = 0xFF;
        return fallo(SD_CARD_ERROR_CMD0);
    }
    tipo_ = n > BLOQUES_2GB ? SD_CARD_TYPE_SDHC : SD_CARD_TYPE_SD2;
    error_ = SD_CARD_ERROR_NONE;
    iniciada_ = true;
    return true;
}

uint32_t Sd2Card::cardSize()
{
    if (!iniciada_) return 0;
    return sd_bloques_cantidad(insercion_);
}

bool Sd2Card::erase(uint32_t first, uint32_t last)
{
    if (!iniciada_) return fallo(SD_CARD_ERROR_NOT_STARTED);
    if (!sd_bloques_borrar(insercion_, first, last)) return fallo(SD_CARD_ERROR_ERASE);
    return true;
}

bool Sd2Card::readBlock(uint32_t block, uint8_t *dst)
{
    if (!iniciada_) return fallo(SD_CARD_ERROR_NOT_STARTED);
    if (!sd_bloques_leer(insercion_, block, dst)) return fallo(SD_CARD_ERROR_CMD17);
    return true;
}

bool Sd2Card::writeBlock(uint32_t block, const uint8_t *src)
{
    if (!iniciada_) return fallo(SD_CARD_ERROR_NOT_STARTED);
    if (!sd_bloques_escribir(insercion_, block, src)) return fallo(SD_CARD_ERROR_CMD24);
    return true;
}

bool Sd2Card::writeStart(uint32_t block, uint32_t count)
{
    en_escritura_ = false;
    if (!iniciada_) return fallo(SD_CARD_ERROR_NOT_STARTED);
    uint32_t n = sd_bloques_cantidad(insercion_);
    if (count == 0 || block >= n || count > n - block) return fallo(SD_CARD_ERROR_CMD25);
    en_escritura_ = true;
    proximo_ = block;
    quedan_ = count;
    return true;
}

bool Sd2Card::writeData(const uint8_t *src)
{
    if (!iniciada_) return fallo(SD_CARD_ERROR_NOT_STARTED);
    if (!en_escritura_ || quedan_ == 0) return fallo(SD_CARD_ERROR_WRITE);
    if (!sd_bloques_escribir(insercion_, proximo_, src)) {
        en_escritura_ = false;
        return fallo(SD_CARD_ERROR_WRITE);
    }
    proximo_++;
    quedan_--;
    return true;
}

bool Sd2Card::writeStop()
{
    if (!iniciada_) return fallo(SD_CARD_ERROR_NOT_STARTED);
    en_escritura_ = false;
    quedan_ = 0;
    // A card pulled out during the transfer does not answer the stop.
    if (sd_bloques_cantidad(insercion_) == 0) return fallo(SD_CARD_ERROR_STOP_TRAN);
    return true;
}
