// The start-up's check of the NVM user row: which fuse fields it sets, what it
// leaves as the row holds it, and how a refused command ends.
#include <gtest/gtest.h>

#include <string>

#include "plataforma/tests/banco_pruebas.h"
#include "principal/principal.h"

namespace {

constexpr uint32_t FABRICA0 = 0xD8E0C7FAu;   // as the bootloader leaves the row
constexpr uint32_t FABRICA1 = 0xFFFFFC5Du;
constexpr uint32_t WDT_ENABLE = 1u << 25, WDT_ALWAYSON = 1u << 26;

class FilaUsuario : public ::testing::Test {
protected:
    void poner(uint32_t w0, uint32_t w1)
    {
        banco.placa.nvm_poner_fila(0, w0);
        banco.placa.nvm_poner_fila(1, w1);
    }
    uint32_t fila(int i) const { return banco.placa.nvm_fila((uint8_t)i); }
    BancoPruebas banco;
};

TEST_F(FilaUsuario, UnaFilaDeFabricaConElBootloaderNoSeToca)
{
    revision_fila_usuario_nvm();
    EXPECT_EQ(fila(0), FABRICA0);
    EXPECT_EQ(fila(1), FABRICA1);
    EXPECT_EQ(banco.placa.nvm_borrados_fila(), 0u);
    EXPECT_EQ(banco.placa.nvm_escrituras_fila(), 0u);
    EXPECT_EQ(banco.salida(1), "");
}

TEST_F(FilaUsuario, ElWatchdogDeLosFusiblesSeApagaYLoDemasSeConserva)
{
    // The row the firmware used to write: watchdog on from every reset.
    poner(0xDAE0C7FAu, FABRICA1);
    banco.placa.nvm_poner_fila(5, 0x12345678u);   // data of someone else's in the same page
    revision_fila_usuario_nvm();
    EXPECT_EQ(fila(0), FABRICA0);
    EXPECT_EQ(fila(1), FABRICA1);
    EXPECT_EQ(fila(5), 0x12345678u);
    EXPECT_EQ(banco.placa.nvm_borrados_fila(), 1u);
    EXPECT_EQ(banco.placa.nvm_escrituras_fila(), 1u);
    // Once right, the next boots leave it.
    revision_fila_usuario_nvm();
    banco.placa.reinicio_hardware();
    revision_fila_usuario_nvm();
    EXPECT_EQ(banco.placa.nvm_escrituras_fila(), 1u);
    EXPECT_EQ(banco.salida(1), "");
}

TEST_F(FilaUsuario, SoloCambianLosCamposDelFirmwareYLosReservadosQuedan)
{
    // Reserved factory bits 24:17 unlike the usual, an EEPROM section of
    // 2 kB (bits 6:4 = 3), BOD33 hysteresis on and other watchdog timings
    // in word 1, no boot protection, BOD33 off at level 0x30, always-on set.
    uint32_t w0 = 0x5D4A30FFu | WDT_ALWAYSON | WDT_ENABLE;
    w0 = (w0 & ~0x70u) | (3u << 4);
    w0 &= ~(1u << 14);
    uint32_t w1 = 0xFFFF0123u;
    poner(w0, w1);
    revision_fila_usuario_nvm();
    uint32_t r = fila(0);
    EXPECT_EQ(r & 0x7u, 0x2u) << "BOOTPROT: 8 kB";
    EXPECT_EQ((r >> 8) & 0x3Fu, 7u) << "BOD33 level";
    EXPECT_EQ((r >> 14) & 1u, 1u) << "BOD33 enable";
    EXPECT_EQ((r >> 15) & 3u, 1u) << "BOD33 action: reset";
    EXPECT_EQ(r & (WDT_ENABLE | WDT_ALWAYSON), 0u) << "no watchdog from the fuses";
    EXPECT_EQ(r & ~0x0601FF07u, w0 & ~0x0601FF07u) << "every other bit as it was";
    EXPECT_EQ(fila(1), w1);
}

TEST_F(FilaUsuario, UnaFilaBorradaSeEscribeDeNuevo)
{
    // An erase that was not followed by its write (a cut between the two).
    poner(0xFFFFFFFFu, 0xFFFFFFFFu);
    revision_fila_usuario_nvm();
    EXPECT_EQ(fila(0), 0xF9FEC7FAu);
    EXPECT_EQ(fila(1), 0xFFFFFFFFu);
}

TEST(FilaUsuarioRechazo, UnaOrdenRechazadaSeTrazaYNoCambiaNada)
{
    for (uint32_t bits : {0x04u, 0x08u}) {   // PROGE, LOCKE
        BancoPruebas b;
        b.placa.nvm_poner_fila(0, 0xDAE0C7FAu);
        b.placa.nvm_rechazar_ordenes(bits);
        revision_fila_usuario_nvm();
        EXPECT_EQ(b.placa.nvm_fila(0), 0xDAE0C7FAu) << bits;
        EXPECT_EQ(b.placa.nvm_escrituras_fila(), 0u) << bits;
        std::string consola = b.salida(1);
        // Traced once, at the first command, and given up for this boot.
        EXPECT_NE(consola.find("Error NVM fila usuario (EAR). STATUS = 0x" + std::string(bits == 4 ? "4" : "8")),
                  std::string::npos)
            << consola;
        EXPECT_EQ(consola.find("WAP"), std::string::npos) << consola;
        EXPECT_EQ(b.placa.nvm_status() & 0x1Cu, 0u) << "errors cleared behind it";
    }
}

TEST(FusiblesDeseados, PalabraCero)
{
    EXPECT_EQ(fusibles_deseados_palabra0(0xDAE0C7FAu), FABRICA0);
    EXPECT_EQ(fusibles_deseados_palabra0(FABRICA0), FABRICA0);
    // The vendor's own default row, without the bootloader's protection.
    EXPECT_EQ(fusibles_deseados_palabra0(0xD8E0C7FFu), FABRICA0);
}

}  // namespace
