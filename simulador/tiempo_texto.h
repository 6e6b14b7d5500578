// Texts of time on the simulator's command line.
#ifndef SIMULADOR_TIEMPO_TEXTO_H
#define SIMULADOR_TIEMPO_TEXTO_H

#include <cstdint>
#include <optional>
#include <string>

// "90s", "20m", "6h", "3d", "1.5h", "250ms" or plain seconds "12.5"; units
// combined, the larger first: "3h5m", "1d2h30m15s"; also "HH:MM:SS".
std::optional<double> segundos_de_texto(const std::string &texto);
// "YYYY-MM-DDTHH:MM:SSZ" as seconds since 1970-01-01 00:00:00 UTC.
std::optional<int64_t> utc_de_texto(const std::string &texto);
std::string texto_de_utc(int64_t segundos);

struct FechaHora {
    int ano, mes, dia, hora, minuto, segundo;
};
FechaHora fecha_de_utc(int64_t segundos);
int64_t utc_de_fecha(const FechaHora &f);

#endif
