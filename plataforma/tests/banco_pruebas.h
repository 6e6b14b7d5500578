// A simulated board for the unit tests of the firmware modules: the ports are
// open and what the firmware sends on each of them is captured as text.
#ifndef PLATAFORMA_TESTS_BANCO_PRUEBAS_H
#define PLATAFORMA_TESTS_BANCO_PRUEBAS_H

#include <memory>
#include <string>

#include "plataforma/host/placa_host.h"

class CapturaPuerto : public placa::DispositivoSerie {
public:
    void recibir(uint8_t byte, uint32_t baudios, uint64_t ciclo) override
    {
        (void)baudios;
        (void)ciclo;
        texto.push_back((char)byte);
    }
    std::string texto;
};

class BancoPruebas {
public:
    // Opens the four ports at the buoy's rates. With isr, the firmware's
    // TCC0_Handler runs when the tick timer is programmed.
    explicit BancoPruebas(bool con_isr = false);
    ~BancoPruebas();
    placa::Placa placa;
    CapturaPuerto puertos[placa::NUM_PUERTOS];
    // Everything sent so far on a port (0 = Serial ... 3 = Serial3).
    std::string salida(int puerto);
    void borrar_salidas();
    // Sends bytes to the board's port as its device would.
    void enviar(int puerto, const std::string &bytes);
};

// A file in the temporary folder that no other test process shares (CTest
// runs tests side by side), removed if an earlier run left it behind.
std::string fichero_temporal(const std::string &nombre);

// The same for a card image, kept under the build folder (images can be large).
std::string imagen_de_prueba(const std::string &nombre);

#endif
