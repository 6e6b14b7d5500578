#include "registrador.h"

#include <stdexcept>

Registrador::Registrador(placa::Placa &placa, int puerto, const std::string &ruta, uint32_t baudios)
    : placa_(placa), puerto_(puerto), baudios_(baudios)
{
    fichero_ = std::fopen(ruta.c_str(), "wb");
    if (!fichero_) throw std::runtime_error("cannot write " + ruta);
    placa_.conectar(puerto_, this);
}

Registrador::~Registrador()
{
    placa_.conectar(puerto_, nullptr);
    if (fichero_) std::fclose(fichero_);
}

void Registrador::recibir(uint8_t byte, uint32_t baudios_placa, uint64_t ciclo)
{
    uint8_t leido = placa::byte_recibido(byte, baudios_placa, baudios_);
    std::fputc(leido, fichero_);
    bytes_++;
    for (auto &f : oyentes_) f(leido, ciclo);
}

void Registrador::enviar(const std::string &texto, uint64_t ciclo)
{
    placa_.enviar_a_placa(puerto_, reinterpret_cast<const uint8_t *>(texto.data()), texto.size(), baudios_, ciclo);
}

void Registrador::vaciar()
{
    if (fichero_) std::fflush(fichero_);
}
