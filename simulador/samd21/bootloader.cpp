#include "bootloader.h"

namespace samd21 {

namespace {
constexpr uint8_t RCAUSE_POR = 0x01;
}

DecisionBootloader decidir_bootloader(ModoBootloader modo, uint8_t rcause, uint32_t sp_aplicacion,
                                      uint32_t &palabra, double error_osc8m)
{
    if (modo == ModoBootloader::ninguno) return {PasoBootloader::aplicacion, 0.0};
    if (sp_aplicacion == 0xFFFFFFFFu) return {PasoBootloader::queda, 0.0};   // nothing flashed
    if (rcause & RCAUSE_POR) {
        palabra = 0;
        return {PasoBootloader::aplicacion, 0.0};
    }
    if (palabra == MARCA_DOBLE_TOQUE) {
        palabra = 0;   // the second tap
        return {PasoBootloader::queda, 0.0};
    }
    palabra = MARCA_DOBLE_TOQUE;
    return {PasoBootloader::espera, CICLOS_ESPERA_DOBLE_TOQUE / (HZ_RELOJ_RESET * (1.0 + error_osc8m))};
}

bool modo_bootloader_de(const std::string &texto, ModoBootloader &modo)
{
    if (texto == "none") modo = ModoBootloader::ninguno;
    else if (texto == "double-tap") modo = ModoBootloader::doble_toque;
    else return false;
    return true;
}

}  // namespace samd21
