#include "reinicios.h"

#include <cstdio>

namespace samd21 {

const char *nombre_rcause(uint8_t rcause)
{
    if (rcause & 0x01) return "POR";
    if (rcause & 0x02) return "BOD12";
    if (rcause & 0x04) return "BOD33";
    if (rcause & 0x10) return "EXT";
    if (rcause & 0x20) return "WDT";
    if (rcause & 0x40) return "SYST";
    return "?";
}

nlohmann::json RegistroReinicios::resumen() const
{
    nlohmann::json r = nlohmann::json::array();
    for (const Reset &e : lista_)
        r.push_back({{"time_s", e.segundos}, {"cause", nombre_rcause(e.rcause)}, {"application_started", e.arrancada}});
    return r;
}

std::string palabra_hex(uint32_t v)
{
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", v);
    return b;
}

}  // namespace samd21
