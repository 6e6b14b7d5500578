// A device that keeps every byte the board sends on its port in a file, and
// that can also send bytes to the board (a telemetry unit, a console).
#ifndef SIMULADOR_DISPOSITIVOS_REGISTRADOR_H
#define SIMULADOR_DISPOSITIVOS_REGISTRADOR_H

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "../../plataforma/host/placa_host.h"

class Registrador : public placa::DispositivoSerie {
public:
    Registrador(placa::Placa &placa, int puerto, const std::string &ruta, uint32_t baudios);
    ~Registrador() override;
    Registrador(const Registrador &) = delete;
    Registrador &operator=(const Registrador &) = delete;

    void recibir(uint8_t byte, uint32_t baudios_placa, uint64_t ciclo) override;

    // The device's own line rate; bytes at another rate arrive garbled.
    void configurar_baudios(uint32_t baudios) { baudios_ = baudios; }
    uint32_t baudios() const { return baudios_; }
    // Sends bytes to the board, starting at that cycle or when the line is free.
    void enviar(const std::string &texto, uint64_t ciclo);
    // Called for every byte received (as read at the device's own rate).
    void al_recibir(std::function<void(uint8_t, uint64_t)> f) { oyentes_.push_back(std::move(f)); }
    uint64_t bytes() const { return bytes_; }
    void vaciar();

private:
    placa::Placa &placa_;
    int puerto_;
    FILE *fichero_ = nullptr;
    uint32_t baudios_;
    uint64_t bytes_ = 0;
    std::vector<std::function<void(uint8_t, uint64_t)>> oyentes_;
};

#endif
