// The host board's block device of the card library: the card in the
// world's slot (simulador/mundo/tarjeta.h).
#include "tarjeta_host.h"

#include "../sd/bloques_sd.h"

// ---------------------------------------------------------------- the library's block device

bool sd_bloques_iniciar(uint32_t *insercion)
{
    placa::TarjetaHost *t = placa::tarjeta_actual();
    if (!t || !t->presente()) return false;
    *insercion = t->insercion();
    return true;
}

static placa::TarjetaHost *tarjeta_de(uint32_t insercion)
{
    placa::TarjetaHost *t = placa::tarjeta_actual();
    if (!t || !t->presente() || t->insercion() != insercion) return nullptr;
    return t;
}

uint32_t sd_bloques_cantidad(uint32_t insercion)
{
    placa::TarjetaHost *t = tarjeta_de(insercion);
    return t ? t->bloques() : 0;
}

bool sd_bloques_leer(uint32_t insercion, uint32_t bloque, uint8_t *datos)
{
    placa::TarjetaHost *t = tarjeta_de(insercion);
    if (!t) {
        if (placa::tarjeta_actual()) return placa::tarjeta_actual()->leer(UINT32_MAX, datos);
        return false;
    }
    return t->leer(bloque, datos);
}

bool sd_bloques_escribir(uint32_t insercion, uint32_t bloque, const uint8_t *datos)
{
    placa::TarjetaHost *t = tarjeta_de(insercion);
    if (!t) {
        if (placa::tarjeta_actual()) return placa::tarjeta_actual()->escribir(UINT32_MAX, datos);
        return false;
    }
    return t->escribir(bloque, datos);
}

bool sd_bloques_borrar(uint32_t insercion, uint32_t primero, uint32_t ultimo)
{
    placa::TarjetaHost *t = tarjeta_de(insercion);
    return t ? t->borrar(primero, ultimo) : false;
}
