#include "tiempo_texto.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
int64_t dias_desde_civil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = (unsigned)(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + (int64_t)doe - 719468;
}

void civil_desde_dias(int64_t z, int &y, int &m, int &d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = (unsigned)(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t yy = (int64_t)yoe + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = (int)(doy - (153 * mp + 2) / 5 + 1);
    m = (int)(mp < 10 ? mp + 3 : mp - 9);
    y = (int)(yy + (m <= 2));
}
}  // namespace

std::optional<double> segundos_de_texto(const std::string &texto)
{
    if (texto.empty()) return std::nullopt;
    int h, m, s;
    char resto;
    if (std::sscanf(texto.c_str(), "%d:%d:%d%c", &h, &m, &s, &resto) == 3) {
        if (h < 0 || m < 0 || m > 59 || s < 0 || s > 59) return std::nullopt;
        return h * 3600.0 + m * 60.0 + s;
    }
    // Pieces of a number and its unit, the larger units first ("1d2h30m15s");
    // a lone number is seconds.
    struct Unidad {
        const char *nombre;
        double segundos;
    };
    static const Unidad unidades[] = {{"d", 86400.0}, {"h", 3600.0}, {"min", 60.0}, {"ms", 0.001},
                                      {"m", 60.0},    {"s", 1.0}};
    double total = 0, anterior = INFINITY;
    const char *p = texto.c_str();
    while (*p != '\0') {
        // Digits and a point only: no sign, exponent, blank or "inf" inside a piece.
        const char *inicio = p;
        while ((*p >= '0' && *p <= '9') || *p == '.') p++;
        if (p == inicio) return std::nullopt;
        std::string numero(inicio, p);
        char *fin = nullptr;
        double v = std::strtod(numero.c_str(), &fin);
        if (*fin != '\0' || !std::isfinite(v)) return std::nullopt;
        const Unidad *u = nullptr;
        for (const Unidad &c : unidades) {
            size_t n = std::strlen(c.nombre);
            if (std::strncmp(p, c.nombre, n) == 0 && !(p[n] >= 'a' && p[n] <= 'z')) {
                u = &c;
                p += n;
                break;
            }
        }
        if (!u) {
            if (*p != '\0' || inicio != texto.c_str()) return std::nullopt;
            return v;  // plain seconds
        }
        if (u->segundos >= anterior) return std::nullopt;  // "5m3h", "2h3h"
        anterior = u->segundos;
        total += v * u->segundos;
    }
    return total;
}

std::optional<int64_t> utc_de_texto(const std::string &texto)
{
    FechaHora f{};
    char z = 0, resto = 0;
    int n = std::sscanf(texto.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%c", &f.ano, &f.mes, &f.dia, &f.hora, &f.minuto,
                        &f.segundo, &z, &resto);
    if (n != 7 || z != 'Z') return std::nullopt;
    if (f.mes < 1 || f.mes > 12 || f.dia < 1 || f.dia > 31 || f.hora > 23 || f.minuto > 59 || f.segundo > 59 ||
        f.hora < 0 || f.minuto < 0 || f.segundo < 0)
        return std::nullopt;
    int64_t t = utc_de_fecha(f);
    FechaHora comprobada = fecha_de_utc(t);
    if (comprobada.dia != f.dia || comprobada.mes != f.mes) return std::nullopt;  // 31 April and the like
    return t;
}

int64_t utc_de_fecha(const FechaHora &f)
{
    return dias_desde_civil(f.ano, (unsigned)f.mes, (unsigned)f.dia) * 86400 + f.hora * 3600 + f.minuto * 60 +
           f.segundo;
}

FechaHora fecha_de_utc(int64_t segundos)
{
    int64_t dias = segundos >= 0 ? segundos / 86400 : -((-segundos + 86399) / 86400);
    int64_t resto = segundos - dias * 86400;
    FechaHora f{};
    civil_desde_dias(dias, f.ano, f.mes, f.dia);
    f.hora = (int)(resto / 3600);
    f.minuto = (int)(resto % 3600 / 60);
    f.segundo = (int)(resto % 60);
    return f;
}

std::string texto_de_utc(int64_t segundos)
{
    FechaHora f = fecha_de_utc(segundos);
    char t[40];
    std::snprintf(t, sizeof t, "%04d-%02d-%02dT%02d:%02d:%02dZ", f.ano, f.mes, f.dia, f.hora, f.minuto, f.segundo);
    return t;
}
