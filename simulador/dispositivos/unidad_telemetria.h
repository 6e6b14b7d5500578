// The telemetry unit on the buoy's telemetry link (Serial): it sends the
// command frames of a script at their virtual times, or bridges the link to a
// pseudo-terminal for an operator; everything the buoy sends stays in
// telemetry.txt.
#ifndef SIMULADOR_DISPOSITIVOS_UNIDAD_TELEMETRIA_H
#define SIMULADOR_DISPOSITIVOS_UNIDAD_TELEMETRIA_H

#include <cstdint>
#include <string>
#include <vector>

// One line of a telemetry script: a frame to send, or a change of the unit's rate.
struct OrdenTelemetria {
    double segundos = 0;
    std::string trama;     // with its line end, ready to send
    uint32_t baudios = 0;  // non-zero: "@baud N"
};

// Parses a script; throws std::runtime_error naming the line of an error.
std::vector<OrdenTelemetria> leer_guion_telemetria(const std::string &texto);
// "$TOV03,1,8" gets "*" and its checksum; a frame that has "*" is left as written.
std::string completar_trama(const std::string &trama);

#endif
