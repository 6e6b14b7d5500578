// The card in olas-sim's slot: a new card image when there is none, kept
// between runs, and the options of its faults.
#include <gtest/gtest.h>

#include <filesystem>

#include "ayuda_escenarios.h"
#include "simulador/dispositivos/tarjeta_sd.h"

TEST(TarjetaSim, ANewCardIsMadeOnceAndKeptBetweenRuns)
{
    std::string c = carpeta_de_prueba("tarjeta_sim");
    ASSERT_EQ(ejecutar_olas_sim("--duration 2s --card-size 64 --out " + c, c + "/run1"), 0);
    nlohmann::json j = leer_resumen(c);
    EXPECT_TRUE(j["sd_card"]["present"].get<bool>());
    EXPECT_TRUE(j["sd_card"]["created"].get<bool>());
    EXPECT_EQ(j["sd_card"]["blocks"].get<uint64_t>(), 64u * 2048u);
    EXPECT_EQ(std::filesystem::file_size(c + "/card.img"), 64ull << 20);
    // A FAT16 card as it comes new: fsck.fat finds the partition's volume clean.
    std::string vol = c + "/vol.img";
    ASSERT_EQ(std::system(("dd if=" + c + "/card.img of=" + vol + " bs=512 skip=$(( $(od -An -tu4 -j454 -N4 " + c +
                           "/card.img) )) status=none && fsck.fat -n " + vol + " > /dev/null")
                              .c_str()),
              0);

    ASSERT_EQ(ejecutar_olas_sim("--duration 2s --out " + c, c + "/run2"), 0);
    j = leer_resumen(c);
    EXPECT_FALSE(j["sd_card"]["created"].get<bool>());  // the same card again, not a 4 GB one
    EXPECT_EQ(j["sd_card"]["blocks"].get<uint64_t>(), 64u * 2048u);

    ASSERT_EQ(ejecutar_olas_sim("--duration 2s --no-card --out " + c, c + "/run3"), 0);
    EXPECT_FALSE(leer_resumen(c)["sd_card"]["present"].get<bool>());

    ASSERT_EQ(ejecutar_olas_sim("--duration 4s --card-out 1s-3s --card-out 3.5s --out " + c, c + "/run4"), 0);
    EXPECT_FALSE(leer_resumen(c)["sd_card"]["present"].get<bool>());  // pulled out for good at 3.5 s

    EXPECT_NE(ejecutar_olas_sim("--duration 2s --card-out 3s-1s --out " + c, c + "/run5"), 0);
    EXPECT_NE(ejecutar_olas_sim("--duration 2s --card-power-cut-bytes 600 --out " + c, c + "/run6"), 0);
}

// A damaged card image is still put in the slot, as the card it is, but the
// operator hears of it at start: a copy cut short, or bytes that hold no file
// system. A sound card gets no warning.
TEST(TarjetaSim, ADamagedCardImageGetsAWarningAtStart)
{
    std::string c = carpeta_de_prueba("tarjeta_danada");
    ASSERT_EQ(ejecutar_olas_sim("--duration 2s --card-size 64 --out " + c, c + "/nueva"), 0);
    ASSERT_EQ(ejecutar_olas_sim("--duration 2s --out " + c, c + "/sana"), 0);
    EXPECT_EQ(leer_fichero(c + "/sana.stderr").find("warning"), std::string::npos);
    EXPECT_EQ(aviso_imagen_tarjeta(c + "/card.img"), "");

    // Cut in the middle of a block: the card ends at its last whole block.
    std::filesystem::resize_file(c + "/card.img", (64ull << 20) - 100);
    ASSERT_EQ(ejecutar_olas_sim("--duration 2s --out " + c, c + "/media"), 0);
    EXPECT_NE(leer_fichero(c + "/media.stderr").find("truncated: it ends 412 bytes into block 131071; "),
              std::string::npos)
        << leer_fichero(c + "/media.stderr");
    EXPECT_EQ(leer_resumen(c)["sd_card"]["blocks"], 131071);
    EXPECT_EQ(std::filesystem::file_size(c + "/card.img"), (64ull << 20) - 100);  // left as it was

    std::filesystem::resize_file(c + "/card.img", 32ull << 20);
    ASSERT_EQ(ejecutar_olas_sim("--duration 2s --out " + c, c + "/cortada"), 0);
    EXPECT_NE(leer_fichero(c + "/cortada.stderr").find("is damaged: truncated: its first partition runs to block"),
              std::string::npos)
        << leer_fichero(c + "/cortada.stderr");

    {
        std::ofstream f(c + "/card.img", std::ios::binary | std::ios::trunc);
        uint32_t x = 12345;
        for (int i = 0; i < 1 << 20; i++) {
            x = x * 1103515245u + 12345u;
            f.put((char)(x >> 24));
        }
    }
    ASSERT_EQ(ejecutar_olas_sim("--duration 2s --out " + c, c + "/azar"), 0);
    EXPECT_NE(leer_fichero(c + "/azar.stderr").find("no partition table and no FAT file system"), std::string::npos);
    EXPECT_TRUE(leer_resumen(c)["sd_card"]["present"].get<bool>());  // the card is there; the buoy cannot use it
    EXPECT_EQ(leer_resumen(c)["sd_card"]["blocks_written"], 0);

    // A partition whose block holds no FAT volume.
    std::string mbr(512, '\0');
    mbr[446 + 4] = 0x06;
    mbr[446 + 8] = 8;
    mbr[446 + 12] = 16;
    mbr[510] = 0x55;
    mbr[511] = (char)0xAA;
    {
        std::ofstream f(c + "/card.img", std::ios::binary | std::ios::trunc);
        f << mbr << std::string(63 * 512, '\0');
    }
    EXPECT_EQ(aviso_imagen_tarjeta(c + "/card.img"), "no FAT file system at block 8");
}
