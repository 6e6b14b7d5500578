// The SD card in the buoy's slot: an image file kept between runs (a new,
// formatted card when it does not exist yet), and the faults of the world:
// the card pulled out and put back, worn blocks, the power lost in the middle
// of a card write.
#ifndef SIMULADOR_DISPOSITIVOS_TARJETA_SD_H
#define SIMULADOR_DISPOSITIVOS_TARJETA_SD_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "../../plataforma/host/tarjeta_host.h"
#include "../simulacion.h"

// What is wrong with an existing card image, as a reader of its file system
// would find it: a volume that runs past the image's end (a truncated copy),
// or no partition table and no FAT volume to read. Empty when it looks sound.
std::string aviso_imagen_tarjeta(const std::string &ruta);

class ExtensionTarjetaSd : public Extension {
public:
    void opciones(CLI::App &app) override;
    void validar(const Opciones &opciones) override;
    void preparar(Simulacion &sim) override;
    void terminar(Simulacion &sim) override;
    void resumen(Simulacion &sim, nlohmann::json &j) override;

    placa::TarjetaHost *tarjeta() { return tarjeta_.get(); }

private:
    std::string ruta_;
    uint32_t megabytes_ = 4096;
    bool sin_tarjeta_ = false;
    std::vector<std::string> retiradas_;   // T1-T2: out at T1, back at T2 (T2 may be empty)
    std::vector<std::pair<double, double>> intervalos_retirada_;
    int64_t error_desde_ = -1;
    std::string texto_corte_;
    double corte_s_ = -1;
    uint32_t corte_bytes_ = 256;
    bool creada_ = false;
    std::unique_ptr<placa::TarjetaHost> tarjeta_;
};

#endif
