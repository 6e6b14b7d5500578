// The card in olas-sim's slot: a new card image when there is none, kept
// between runs, and the options of its faults.
#include <gtest/gtest.h>

#include <filesystem>

#include "ayuda_escenarios.h"

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
