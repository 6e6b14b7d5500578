// The card in the host board's slot is the world's (simulador/mundo/tarjeta.h):
// the same image and faults serve the emulated chip's SPI bus.
#ifndef PLATAFORMA_HOST_TARJETA_HOST_H
#define PLATAFORMA_HOST_TARJETA_HOST_H

#include "../../simulador/mundo/tarjeta.h"

namespace placa {

class Placa;
using TarjetaHost = mundo::Tarjeta;
using mundo::EstadisticasTarjeta;
using mundo::instalar_tarjeta;
using mundo::tarjeta_actual;

}  // namespace placa

#endif
