// A small formatted card in the test board's slot, mounted by the firmware's
// miSD and holding the given empty files, for tests of the modules that look
// for their files on the card. The slot is empty again when it goes.
#ifndef GESTION_SD_TESTS_TARJETA_PRUEBA_H
#define GESTION_SD_TESTS_TARJETA_PRUEBA_H

#include <initializer_list>
#include <memory>
#include <string>

#include "plataforma/host/tarjeta_host.h"

class TarjetaDePrueba {
public:
    // mb: size of the new card; nombre: its image under the build folder.
    explicit TarjetaDePrueba(std::initializer_list<const char *> ficheros = {}, uint32_t mb = 64,
                             const std::string &nombre = "tarjeta_prueba.img", placa::Placa *placa = nullptr);
    ~TarjetaDePrueba();
    TarjetaDePrueba(const TarjetaDePrueba &) = delete;
    TarjetaDePrueba &operator=(const TarjetaDePrueba &) = delete;
    // Makes an empty file (and its directories) through miSD.
    bool crear_fichero(const char *ruta);
    placa::TarjetaHost &tarjeta() { return *tarjeta_; }
    const std::string &imagen() const { return imagen_; }

private:
    std::unique_ptr<placa::TarjetaHost> tarjeta_;
    std::string imagen_;
};

#endif
