// The same records on both boards: the firmware as a library on the host
// board and the flashable image on the emulated ATSAMD21, in one world whose
// averaging intervals close by sensor time (no GPS fix), with faults injected
// in the motion sensor's stream. The records on the telemetry link ("#PTO,",
// "#OLA,", "$RES,", from their sixth field on) and the replies to commands
// are the same, line for line.
//
// A first short run on each board stores ten-minute intervals in its
// EEPROM; the run itself lasts OLAS_MISMOS_REGISTROS_MIN virtual minutes
// (default 11: one interval closed and asked for);
// `OLAS_MISMOS_REGISTROS_MIN=60 ctest -R MismosRegistros` runs the hour.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "ayuda_escenarios.h"

namespace {

struct Registros {
    std::vector<std::string> datos;      // records, from their sixth field on
    std::vector<std::string> respuestas; // replies to commands, whole
    size_t pto = 0, ola = 0, res = 0;
};

Registros registros(const std::string &telemetria)
{
    Registros r;
    std::istringstream in(telemetria);
    std::string l;
    while (std::getline(in, l)) {
        if (!l.empty() && l.back() == '\r') l.pop_back();
        bool pto = l.rfind("#PTO,", 0) == 0, ola = l.rfind("#OLA,", 0) == 0, res = l.rfind("$RES,", 0) == 0;
        if (pto || ola || res) {
            size_t p = 0;
            for (int i = 0; i < 5 && p != std::string::npos; i++) p = l.find(',', p + 1);
            r.datos.push_back(l.substr(0, 5) + (p == std::string::npos ? "" : l.substr(p)));
            r.pto += pto;
            r.ola += ola;
            r.res += res;
        } else if (l.rfind("$OLA,", 0) == 0) {
            r.respuestas.push_back(l);
        }
    }
    return r;
}

TEST(MismosRegistros, HostYSamd21)
{
    SALTAR_SIN_IMAGEN(std::string("samd21"));
    const char *e = std::getenv("OLAS_MISMOS_REGISTROS_MIN");
    int minutos = e ? std::atoi(e) : 11;
    if (minutos < 11) minutos = 11;
    std::string base = carpeta_de_prueba("mismos_registros");
    std::ofstream(base + "/ajustes.tov") << "5 $TOV03,3,,,,,,,,10\n";
    // The link's record stream on, and a few questions; the interval's
    // statistics asked for after every interval.
    std::ofstream guion(base + "/guion.tov");
    guion << "5 $TOV03,12,1\n60 $TOV03,1,8\n150 $TOV03,2\n170 $TOV03,1,4\n";
    for (int m = 10; m < minutos; m += 10) guion << m * 60 + 40 << " $TOV03,1,4\n";
    guion.close();
    std::string mundo = " --gps nofix --no-card --sensor-corrupt 0.01 --sensor-drop 0.01 --sensor-second-nav 0.01 "
                        "--sensor-zero-stamp 0.01 --sensor-nan-velocity 0.01 --sensor-fault-seed 7";
    Registros r[2];
    for (int i = 0; i < 2; i++) {
        std::string placa = i ? "samd21" : "host";
        std::string c = base + "/" + placa;
        ASSERT_EQ(ejecutar_olas_sim(opciones_placa(placa) + mundo + " --duration 15s --tov-script " + base +
                                        "/ajustes.tov --out " + c + "/ajustes --eeprom " + c + "/eeprom.bin",
                                    c + "_ajustes"),
                  0)
            << placa;
        ASSERT_EQ(ejecutar_olas_sim(opciones_placa(placa) + mundo + " --duration " + std::to_string(minutos) +
                                        "m --tov-script " + base + "/guion.tov --eeprom " + c + "/eeprom.bin --out " + c,
                                    c),
                  0)
            << placa;
        r[i] = registros(leer_fichero(c + "/telemetry.txt"));
        nlohmann::json j = leer_resumen(c);
        EXPECT_GT(j["sensor"]["faults"].dump().size(), 2u);
        EXPECT_EQ(j["boots"], 1) << placa;
        comprobar_pila_y_monticulo(j);
    }
    // Ten samples a second, less the epochs the faults took; an interval's
    // statistics for most of the questions.
    EXPECT_GT(r[0].pto, (size_t)minutos * 500);
    EXPECT_GE(r[0].res, (size_t)std::max(1, minutos / 10 - 2));
    EXPECT_GT(r[0].ola, 10u);
    EXPECT_GE(r[0].respuestas.size(), 4u);
    EXPECT_EQ(r[0].pto, r[1].pto);
    EXPECT_EQ(r[0].ola, r[1].ola);
    EXPECT_EQ(r[0].res, r[1].res);
    ASSERT_EQ(r[0].datos.size(), r[1].datos.size());
    for (size_t k = 0; k < r[0].datos.size(); k++) ASSERT_EQ(r[0].datos[k], r[1].datos[k]) << "record " << k;
    EXPECT_EQ(r[0].respuestas, r[1].respuestas);
}

}  // namespace
