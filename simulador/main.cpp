// olas-sim: the wave buoy's firmware on a simulated board.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <tuple>
#include <unistd.h>

#include "simulacion.h"
#include "tiempo_texto.h"

namespace {
void mostrar_resumen(const nlohmann::json &j, const Opciones &o)
{
    std::printf("olas-sim: %.3f virtual seconds from %s, %d boot(s)\n", j["virtual_seconds"].get<double>(),
                j["utc_start"].get<std::string>().c_str(), j["boots"].get<int>());
    for (const auto &r : j["watchdog_resets"])
        std::printf("  reset at %.3f s: %s\n", r["time_s"].get<double>(), r["cause"].get<std::string>().c_str());
    for (const char *p : {"Serial", "Serial1", "Serial2", "Serial3"}) {
        const nlohmann::json &causa = j["uart_dropped_bytes_by_cause"][p];
        std::printf("  %-8s sent %llu bytes, received %llu, dropped %llu", p,
                    (unsigned long long)j["uart_sent_bytes"][p].get<uint64_t>(),
                    (unsigned long long)j["uart_received_bytes"][p].get<uint64_t>(),
                    (unsigned long long)j["uart_dropped_bytes"][p].get<uint64_t>());
        if (j["uart_dropped_bytes"][p].get<uint64_t>() > 0)
            std::printf(" (receive buffer full %llu, hardware %llu)",
                        (unsigned long long)causa["receive_buffer"].get<uint64_t>(),
                        (unsigned long long)causa["hardware"].get<uint64_t>());
        std::printf("\n");
    }
    std::printf("  EEPROM commits: %llu\n", (unsigned long long)j["eeprom_commits"].get<uint64_t>());
    std::string ficheros;
    for (const char *f : {"debug.txt", "telemetry.txt", "summary.json", "card.img", "eeprom.bin", "world.json"})
        if (std::filesystem::exists(o.salida + "/" + f)) ficheros += std::string(ficheros.empty() ? "" : ", ") + f;
    std::printf("  output in %s/ (%s)\n", o.salida.c_str(), ficheros.c_str());
}
}  // namespace

int main(int argc, char **argv)
{
    CLI::App app{"olas-sim: runs the wave buoy's firmware on a simulated board, in virtual time"};
    Opciones o;
    std::string duracion = "1h", utc = "2026-12-07T14:30:00Z";
    std::vector<std::string> jumpers, cortes, cortes_eeprom;
    bool sin_progreso = false;
    app.add_option("--duration", duracion,
                   "virtual time to run: 90s, 20m, 6h, 3d, or units combined, larger first: 3h5m, 1d2h30m15s "
                   "(default 1h)");
    app.add_option("--out", o.salida, "output folder");
    app.add_option("--eeprom", o.eeprom, "EEPROM flash file, kept between runs (default OUT/eeprom.bin)");
    app.add_option("--utc", utc, "the world's UTC at virtual time 0, YYYY-MM-DDTHH:MM:SSZ");
    app.add_option("--xtal-ppm", o.xtal_ppm, "error of the MCU's oscillator in parts per million");
    app.add_option("--jumper", jumpers, "debug jumper fitted between two virtual times, T1-T2 (repeatable)");
    app.add_option("--power-cut", cortes, "a power cut (a reset at any instruction) at this virtual time (repeatable)");
    app.add_option("--eeprom-power-cut", cortes_eeprom,
                   "T[:N]: a power cut in the first EEPROM commit after time T, N bytes into the page (repeatable)");
    app.add_option("--board", o.placa, "the board the firmware runs on: host (the firmware as a library) or samd21 "
                   "(the flashable image on an emulated ATSAMD21)")
        ->check(CLI::IsMember({"host", "samd21"}));
    app.add_option("--firmware", o.firmware,
                   "firmware to run: the library (host; default: the one next to olas-sim) or the ELF image "
                   "(samd21; default: build-samd21/olas.elf)");
    app.add_option("--mmio-log", o.registro_mmio,
                   "samd21: write one line per distinct register access, 0xADDRESS WIDTH R|W COUNT, sorted by address");
    app.add_flag("--no-progress", sin_progreso, "no progress bar");
    app.add_flag("--echo-console", o.eco_consola, "also write the debug console to standard output");
    app.add_flag("--realtime", o.tiempo_real, "pace virtual time to the wall clock");
    // The emulated chip's bootloader, oscillators and resets from outside.
    std::vector<std::string> osciladores, pulsaciones, caidas;
    app.add_option("--bootloader", o.bootloader,
                   "samd21: the bootloader before the application, none or double-tap (default double-tap)")
        ->check(CLI::IsMember({"none", "double-tap"}));
    app.add_option("--oscillator", osciladores,
                   "samd21: NAME=ERROR, the frequency error of OSCULP32K, OSC8M or DFLL48M (open loop), "
                   "+20% or -150ppm (repeatable)");
    app.add_option("--reset-pin", pulsaciones, "samd21: the reset button pressed at this virtual time (repeatable)");
    app.add_option("--brown-out", caidas,
                   "samd21: the supply dips below the BOD33 level at this virtual time (repeatable)");
    for (Extension *e : extensiones()) e->opciones(app);

    try {
        app.parse(argc, argv);
        auto d = segundos_de_texto(duracion);
        if (!d) throw CLI::ValidationError("--duration", "not a duration: " + duracion);
        if (*d <= 0) throw CLI::ValidationError("--duration", "must be longer than 0s: " + duracion);
        o.duracion_s = *d;
        auto t = utc_de_texto(utc);
        if (!t) throw CLI::ValidationError("--utc", "not a UTC time YYYY-MM-DDTHH:MM:SSZ: " + utc);
        o.utc_inicial = *t;
        if (o.xtal_ppm <= -1e6 || o.xtal_ppm >= 1e6) throw CLI::ValidationError("--xtal-ppm", "out of range");
        for (const std::string &j : jumpers) {
            size_t guion = j.find('-');
            auto a = guion == std::string::npos ? std::nullopt : segundos_de_texto(j.substr(0, guion));
            auto b = guion == std::string::npos ? std::nullopt : segundos_de_texto(j.substr(guion + 1));
            if (!a || !b || *b < *a) throw CLI::ValidationError("--jumper", "not an interval T1-T2: " + j);
            o.jumpers.emplace_back(*a, *b);
        }
        for (const std::string &c : cortes) {
            auto t = segundos_de_texto(c);
            if (!t) throw CLI::ValidationError("--power-cut", "not a time: " + c);
            o.cortes.push_back(*t);
        }
        for (const std::string &c : cortes_eeprom) {
            size_t dos = c.find(':');
            auto t = segundos_de_texto(c.substr(0, dos));
            long n = dos == std::string::npos ? 137 : std::strtol(c.c_str() + dos + 1, nullptr, 10);
            if (!t || n < 0) throw CLI::ValidationError("--eeprom-power-cut", "not T[:N]: " + c);
            o.cortes_eeprom.emplace_back(*t, (size_t)n);
        }
        for (const std::string &t : osciladores) {
            std::string error = samd21::leer_error_oscilador(t, o.osciladores);
            if (!error.empty()) throw CLI::ValidationError("--oscillator", error);
        }
        for (auto [textos, destino, nombre] : {std::tuple{&pulsaciones, &o.pulsaciones_reset, "--reset-pin"},
                                               std::tuple{&caidas, &o.caidas_tension, "--brown-out"}})
            for (const std::string &c : *textos) {
                auto t = segundos_de_texto(c);
                if (!t || *t < 0) throw CLI::ValidationError(nombre, "not a time: " + c);
                destino->push_back(*t);
            }
        bool de_chip = !osciladores.empty() || !pulsaciones.empty() || !caidas.empty() ||
                       app.count("--bootloader") > 0;
        if (de_chip && o.placa != "samd21")
            throw CLI::ValidationError("--bootloader, --oscillator, --reset-pin, --brown-out", "only with --board samd21");
        o.progreso = !sin_progreso;
        if (!o.registro_mmio.empty() && o.placa != "samd21")
            throw CLI::ValidationError("--mmio-log", "only with --board samd21");
        for (Extension *e : extensiones()) e->validar(o);
        // ---- the link, the output folder and the world's clock
        if (app.count("--tov-pty") && !o.tiempo_real) {
            o.tiempo_real = true;  // an operator at the other end needs the buoy's own pace
            std::fprintf(stderr, "olas-sim: --tov-pty runs in real time (--realtime implied)\n");
        }
        std::error_code error;
        std::filesystem::create_directories(o.salida, error);
        if (error || !std::filesystem::is_directory(o.salida) || access(o.salida.c_str(), W_OK) != 0)
            throw CLI::ValidationError("--out", "cannot write into " + o.salida +
                                                    (error ? ": " + error.message() : std::string()));
        std::string origen = "--utc";
        if (!app.count("--utc")) {
            origen = "the default";
            if (auto antes = mundo_anterior(o.salida)) {
                o.utc_inicial = antes->utc_fin;
                o.mundo_vivido_s = antes->segundos;
                origen = "the end of the last run in " + o.salida + "/ (" + ESTADO_MUNDO + "; --utc sets another)";
            }
        }
        std::fprintf(stderr, "olas-sim: the world's UTC at start is %s, from %s\n",
                     texto_de_utc(o.utc_inicial).c_str(), origen.c_str());
    } catch (const CLI::CallForHelp &e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp &e) {
        return app.exit(e);
    } catch (const CLI::ParseError &e) {
        std::fprintf(stderr, "olas-sim: %s\nRun with --help for the options.\n", e.what());
        return 2;
    }

    try {
        Simulacion sim(o);
        nlohmann::json j = sim.ejecutar();
        mostrar_resumen(j, sim.opciones());
    } catch (const std::exception &e) {
        std::fprintf(stderr, "olas-sim: %s\n", e.what());
        return 1;
    }
    return 0;
}
