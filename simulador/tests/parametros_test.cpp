// The parameter store across boots of the same buoy (one EEPROM file).
#include <gtest/gtest.h>

#include "ayuda_escenarios.h"

namespace {

TEST(Parametros, TresArranquesSobreLaMismaEeprom)
{
    std::string c = carpeta_de_prueba("tres_arranques");
    std::string eeprom = c + "/eeprom.bin";
    uint64_t commits[3];
    std::string consolas[3];
    for (int i = 0; i < 3; i++) {
        std::string carpeta = c + "/r" + std::to_string(i);
        ASSERT_EQ(ejecutar_olas_sim("--duration 20s --eeprom " + eeprom + " --out " + carpeta), 0);
        commits[i] = leer_resumen(carpeta)["eeprom_commits"].get<uint64_t>();
        consolas[i] = leer_fichero(carpeta + "/debug.txt");
    }
    EXPECT_NE(consolas[0].find("IsValid.  Inizializada: 0\r\nGrabacion de parametros por defecto.\r\n"),
              std::string::npos);
    EXPECT_GT(commits[0], 0u);
    for (int i = 1; i < 3; i++) {
        EXPECT_NE(consolas[i].find("LECTURA DE PAR\xC1METROS DE EEPROM.\r\nIsValid.  Inizializada: 1\r\n"),
                  std::string::npos);
        EXPECT_EQ(consolas[i].find("Grabacion de parametros por defecto."), std::string::npos);
    }
    // Nothing needs repair: a later boot commits only what every boot commits
    // (its own start counters), the same on each.
    EXPECT_EQ(commits[1], commits[2]);
    EXPECT_LT(commits[1], commits[0]);
}

TEST(Parametros, EnlaceALaVelocidadGuardada)
{
    std::string c = carpeta_de_prueba("velocidad_guardada");
    ASSERT_EQ(ejecutar_olas_sim("--duration 5s --out " + c), 0);
    // The banner reaches a telemetry unit at the default 38400 baud intact.
    EXPECT_NE(leer_fichero(c + "/telemetry.txt").find("Hardware:1_0"), std::string::npos);
}

}  // namespace
