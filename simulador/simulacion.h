// olas-sim: runs the firmware on the simulated board and plays the world
// around it (the devices at the far ends of the ports, the card, the EEPROM
// file), in virtual time. The devices of each port plug in as extensions.
#ifndef SIMULADOR_SIMULACION_H
#define SIMULADOR_SIMULACION_H

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "../plataforma/host/placa_host.h"
#include "cargador_firmware.h"
#include "samd21/chip.h"
#include "samd21/osciladores.h"
#include "dispositivos/registrador.h"

struct Opciones {
    double duracion_s = 3600.0;
    std::string salida = "out";
    std::string eeprom;  // empty: <salida>/eeprom.bin
    int64_t utc_inicial = 0;
    double mundo_vivido_s = 0.0;  // the world's time before this run (a folder run again): the sea goes on
    double xtal_ppm = 0.0;
    std::vector<std::pair<double, double>> jumpers;  // jumper fitted between these virtual times
    std::vector<double> cortes;                      // power cuts at these virtual times
    std::vector<std::pair<double, size_t>> cortes_eeprom;  // a cut in the first EEPROM commit after, after N bytes
    std::string placa = "host";                      // host: the firmware as a library; samd21: the emulated chip
    std::string firmware;                            // empty: next to the executable (host) or build-samd21/olas.elf
    std::string registro_mmio;                       // samd21: one line per distinct register access
    // samd21: the bootloader, the chip's oscillators and resets from outside.
    std::string bootloader = "double-tap";           // none | double-tap
    samd21::ErroresOsciladores osciladores;
    std::vector<double> pulsaciones_reset;           // the reset pin pressed at these virtual times
    std::vector<double> caidas_tension;              // the supply below the BOD33 level at these times
    bool progreso = true;
    bool eco_consola = false;  // the debug console also on standard output
    bool tiempo_real = false;  // virtual time paced to the wall clock
};

class Simulacion;

// A device or world model that adds its options, its devices on the ports and
// its counts in summary.json.
class Extension {
public:
    virtual ~Extension() = default;
    virtual void opciones(CLI::App &app) { (void)app; }
    // After parsing: throw CLI::ValidationError for a bad combination.
    virtual void validar(const Opciones &opciones) { (void)opciones; }
    virtual void preparar(Simulacion &sim) { (void)sim; }
    // After a fresh firmware copy was loaded, before its setup runs.
    virtual void arranque(Simulacion &sim, int numero) { (void)sim; (void)numero; }
    // At the end of every boot, while the firmware copy is still loaded (its
    // globals can be read with sim.firmware().simbolo).
    virtual void antes_de_descargar(Simulacion &sim) { (void)sim; }
    virtual void terminar(Simulacion &sim) { (void)sim; }
    virtual void resumen(Simulacion &sim, nlohmann::json &j) { (void)sim; (void)j; }
};

std::vector<Extension *> &extensiones();

// The world kept in the output folder between runs: the UTC at which the
// last run ended, so that the next run on the same folder (the same buoy,
// its EEPROM and card) goes on from there instead of living the same
// minutes again.
inline const std::string ESTADO_MUNDO = "world.json";
struct MundoAnterior {
    int64_t utc_fin;     // the first whole second the last run did not live
    double segundos;     // how long the world has lived in all runs so far
};
// That state, or nothing when the folder holds none (or an unreadable one).
std::optional<MundoAnterior> mundo_anterior(const std::string &carpeta);
struct RegistroExtension {
    explicit RegistroExtension(Extension *e) { extensiones().push_back(e); }
};

class Simulacion {
public:
    explicit Simulacion(Opciones opciones);
    // Runs the whole simulation; returns the summary that was written.
    nlohmann::json ejecutar();

    const Opciones &opciones() const { return opciones_; }
    placa::Placa &placa() { return placa_; }
    SimbolosFirmware &firmware() { return *simbolos_; }
    bool en_chip() const { return chip_ != nullptr; }
    std::string ruta_salida(const std::string &fichero) const { return opciones_.salida + "/" + fichero; }
    double segundos() const { return placa_.segundos_reales(placa_.ciclo()); }
    uint64_t ciclo_de(double segundos) const { return placa_.ciclo_de_segundos_reales(segundos); }
    // The world's UTC now, in seconds since 1970.
    double utc() const { return (double)opciones_.utc_inicial + segundos(); }
    int arranques() const { return arranques_; }

    // Ports: the telemetry unit on Serial and the debug console on Serial1
    // are always there; other devices are connected by their extensions.
    Registrador &telemetria() { return *telemetria_; }
    Registrador &consola() { return *consola_; }

    // With --realtime: waits until the wall clock reaches virtual time now.
    void acompasar();

private:
    void mostrar_progreso(bool final);
    void ejecutar_host(bool &fin);
    void ejecutar_chip(bool &fin, samd21::TipoReset &tipo);
    uint64_t monticulo_en_uso() const;
    void contar_descartes_runtime();
    void guardar_mundo();

    Opciones opciones_;
    placa::Placa placa_;
    std::unique_ptr<CargadorFirmware> firmware_;
    std::unique_ptr<samd21::Chip> chip_;
    std::unique_ptr<SimbolosFirmware> simbolos_chip_;
    SimbolosFirmware *simbolos_ = nullptr;
    std::unique_ptr<Registrador> telemetria_;
    std::unique_ptr<Registrador> consola_;
    int arranques_ = 0;
    // On the chip: bytes its runtime's receive buffers could not take, summed
    // over the boots (the runtime counts from zero at each start).
    uint64_t descartes_runtime_[placa::NUM_PUERTOS] = {};
    int progreso_mostrado_ = -1;
    size_t coincidencia_ = 0;
    std::vector<uint64_t> monticulo_inicio_intervalo_;
    bool terminal_ = false;
    std::unique_ptr<std::chrono::steady_clock::time_point> inicio_real_;
};

#endif
