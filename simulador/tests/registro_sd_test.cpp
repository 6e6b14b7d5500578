// The buoy's card after simulated deployments, read with the PC's own FAT
// tools (fsck.fat, mdir, mtype) as the scientist reads it.
#include <gtest/gtest.h>

#include "plataforma/tests/salida_orden.h"

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ayuda_escenarios.h"

namespace {

// The card image of a run and its first partition.
struct Tarjeta {
    std::string imagen;
    std::string particion() const
    {
        std::ifstream f(imagen, std::ios::binary);
        unsigned char mbr[512] = {};
        f.read((char *)mbr, sizeof mbr);
        unsigned long inicio = mbr[454] | mbr[455] << 8 | mbr[456] << 16 | (unsigned long)mbr[457] << 24;
        return imagen + "@@" + std::to_string(inicio * 512);
    }
    std::string mtools(const std::string &orden, const std::string &ruta) const
    {
        return salida_de("MTOOLS_SKIP_CHECK=1 " + orden + " -i '" + particion() + "' '::" + ruta + "'");
    }
    std::string mdir(const std::string &ruta = "") const { return mtools("mdir -/", ruta); }
    std::string mtype(const std::string &ruta) const { return mtools("mtype", ruta); }
    // Every file of a directory of the card, by its full path.
    std::vector<std::string> ficheros(const std::string &dir) const
    {
        std::vector<std::string> v;
        std::istringstream s(mtools("mdir -b", dir));
        std::string l;
        while (std::getline(s, l))
            if (l.size() > 2 && l.find('.') != std::string::npos) v.push_back(l.substr(l.find("::") + 2));
        return v;
    }
    // fsck.fat -n on the partition copied out: true when nothing is to repair.
    bool limpia(std::string *informe) const
    {
        std::string vol = imagen + ".vol";
        std::string p = particion();
        std::string salto = p.substr(p.find("@@") + 2);
        int r = -1;
        salida_de("dd if='" + imagen + "' of='" + vol + "' bs=512 skip=" + std::to_string(std::stoull(salto) / 512) +
                      " conv=sparse status=none",
                  &r);
        if (r != 0) return false;
        *informe = salida_de("fsck.fat -n '" + vol + "'", &r);
        std::remove(vol.c_str());
        return r == 0 && informe->find(" clusters") != std::string::npos;
    }
};

// No file of the directory holds a zero byte: no size counts bytes that
// never reached the card.
void sin_ceros(const Tarjeta &t, const std::string &dir)
{
    std::vector<std::string> f = t.ficheros(dir);
    EXPECT_FALSE(f.empty()) << dir;
    for (const std::string &r : f) {
        std::string texto = t.mtype(r);
        size_t cero = texto.find('\0');
        EXPECT_EQ(cero, std::string::npos) << r << ": zero byte at " << cero << " of " << texto.size();
    }
}

std::vector<std::string> lineas(const std::string &texto)
{
    std::vector<std::string> v;
    std::istringstream s(texto);
    std::string l;
    while (std::getline(s, l)) v.push_back(l);
    return v;
}

// Raw records per second of the clock (fields 4 to 6: hour, minute, second).
std::map<std::string, int> por_segundo(const std::vector<std::string> &raw)
{
    std::map<std::string, int> n;
    for (const std::string &l : raw)
        if (l.size() > 17) n[l.substr(9, 8)]++;
    return n;
}

}  // namespace

// Three days on one card: a night across midnight with a power cut in the
// middle of an interval, then, after a recovery, a third day.
TEST(RegistroSd, DeploymentOverThreeDaysLeavesAReadableCard)
{
    std::string c = carpeta_de_prueba("registro_sd_dias");
    Tarjeta t{c + "/card.img"};
    ASSERT_EQ(ejecutar_olas_sim("--duration 45m --card-size 64 --power-cut 10m --utc 2026-12-07T23:40:00Z --out " + c,
                                c + "/noche"),
              0);
    std::string informe;
    EXPECT_TRUE(t.limpia(&informe)) << informe;
    std::string consola = leer_fichero(c + "/debug.txt");
    ASSERT_EQ(ejecutar_olas_sim("--duration 25m --utc 2026-12-09T12:00:00Z --out " + c, c + "/dia3"), 0);
    EXPECT_TRUE(t.limpia(&informe)) << informe;

    std::string raiz = t.mtools("mdir", "");
    for (const char *d : {"_sd", "261207", "261208", "261209"})
        EXPECT_NE(raiz.find(std::string(d) + " "), std::string::npos) << raiz;
    EXPECT_EQ(contar(raiz, "<DIR>"), 4u) << raiz;

    // Before the cut: the interval from 23:40; after it the summary file of
    // the day is found again and new raw and wave files are made.
    std::string d7 = t.mdir("/261207");
    for (const char *f : {"2340     raw", "2340     wav", "2340     res"})
        EXPECT_NE(d7.find(f), std::string::npos) << d7;
    EXPECT_EQ(contar(d7, " res "), 1u) << d7;
    EXPECT_EQ(contar(d7, " raw "), contar(d7, " wav ")) << d7;
    EXPECT_GE(contar(d7, " raw "), 2u) << d7;
    EXPECT_NE(consola.find("Fichero RES localizado: /261207/2340.res"), std::string::npos);

    // What the raw file of the cut interval held up to the last block stays.
    std::vector<std::string> cortado = lineas(t.mtype("/261207/2340.raw"));
    ASSERT_GT(cortado.size(), 5000u);
    std::string ultima = cortado.back().substr(0, 14);
    EXPECT_TRUE(ultima == "07,12,26,23,49" || ultima == "07,12,26,23,50") << cortado.back();
    for (const std::string &l : cortado) ASSERT_EQ(contar(l, ","), 12u) << l;

    // One summary record per interval: 23:40-00:00 on the first day, 00:00-00:20 on the second.
    std::vector<std::string> res7 = lineas(t.mtype("/261207/2340.res"));
    ASSERT_EQ(res7.size(), 1u);
    EXPECT_EQ(res7[0].substr(0, 9), "07,12,26,");
    std::vector<std::string> res8 = lineas(t.mtype("/261208/0000.res"));
    ASSERT_EQ(res8.size(), 1u);
    EXPECT_EQ(res8[0].substr(0, 15), "08,12,26,00,00,");
    std::vector<std::string> res9 = lineas(t.mtype("/261209/1200.res"));
    ASSERT_EQ(res9.size(), 1u);
    EXPECT_EQ(res9[0].substr(0, 12), "09,12,26,12,");

    // The whole interval 00:00-00:20 at 10 samples a second: one line per
    // sample, every second full. A second of the buoy's clock now and then
    // holds one sample more or less: the clock keeps its own pace between GPS
    // settings, and a setting moves it by a fraction of a second.
    std::vector<std::string> raw = lineas(t.mtype("/261208/0000.raw"));
    EXPECT_GT(raw.size(), 11880u);
    EXPECT_LT(raw.size(), 12060u);  // closed within 5 s of 00:20:00
    std::map<std::string, int> n = por_segundo(raw);
    int desiguales = 0;
    for (auto &s : n) {
        if (s.first == n.begin()->first || s.first == n.rbegin()->first) continue;
        EXPECT_LE(s.second, 11) << s.first;
        EXPECT_GE(s.second, 9) << s.first;
        if (s.second != 10) desiguales++;
    }
    EXPECT_LT(desiguales, 30);
    std::string fin = n.rbegin()->first;
    EXPECT_EQ(fin.substr(0, 5), "00,20") << fin;  // the interval is closed just after 00:20:00
    EXPECT_LE(std::stoi(fin.substr(6)), 5) << fin;
    // The wave file of that interval: "#OLA," records' data, one line per wave.
    std::vector<std::string> olas = lineas(t.mtype("/261208/0000.wav"));
    EXPECT_GT(olas.size(), 50u);
    for (const std::string &l : olas) EXPECT_EQ(l.substr(0, 9), "08,12,26,") << l;
    std::string d8 = t.mdir("/261208");
    EXPECT_NE(d8.find("0020     raw"), std::string::npos) << d8;
}

// Formatting on command: the card is cleared, fsck.fat accepts it and the
// buoy logs onto it again.
// On both boards (the card on the chip's SPI bus in the SD protocol's SPI mode).
class FormatoEnPlaca : public ::testing::TestWithParam<std::string> {};
INSTANTIATE_TEST_SUITE_P(Placas, FormatoEnPlaca, ::testing::Values("host", "samd21"), NombrePlaca());

TEST_P(FormatoEnPlaca, FormatOnCommandLeavesACardTheBuoyLogsOnto)
{
    SALTAR_SIN_IMAGEN(GetParam());
    std::string c = carpeta_de_prueba("registro_sd_formato_" + GetParam());
    Tarjeta t{c + "/card.img"};
    std::ofstream(c + "/guion.tov") << "300 $TOV03,1,14\n";
    ASSERT_EQ(ejecutar_olas_sim(opciones_placa(GetParam()) + "--duration 9m --card-size 128 --utc 2026-12-07T14:30:00Z --tov-script " +
                                    c + "/guion.tov --out " + c,
                                c + "/formato"),
              0);
    std::string informe;
    EXPECT_TRUE(t.limpia(&informe)) << informe;
    std::string consola = leer_fichero(c + "/debug.txt");
    size_t formato = consola.find("Format done\n");
    ASSERT_NE(formato, std::string::npos);
    EXPECT_NE(consola.find("Erase done\n"), std::string::npos);
    EXPECT_NE(consola.find("SD inicializada", formato), std::string::npos);
    EXPECT_NE(consola.find("Nuevo directorio creado: 261207", formato), std::string::npos);
    // The files of before the format are gone; those made after it hold records.
    std::string d = t.mdir("/261207");
    EXPECT_EQ(d.find("1430     raw"), std::string::npos) << d;
    EXPECT_NE(d.find("1435     raw"), std::string::npos) << d;
    EXPECT_GT(lineas(t.mtype("/261207/1435.raw")).size(), 1000u);
    EXPECT_EQ(t.mtype("/_sd/escritura_sd.txt").substr(0, 17), "Escritura sd ok: ");
    comprobar_pila_y_monticulo(leer_resumen(c));
}

// A card put in only after start-up: tried again once a minute, then logged onto.
TEST(RegistroSd, ACardInsertedLateIsMountedAtTheNextMinuteRetry)
{
    std::string c = carpeta_de_prueba("registro_sd_tarde");
    Tarjeta t{c + "/card.img"};
    ASSERT_EQ(ejecutar_olas_sim("--duration 4m --card-size 64 --card-out 0s-90s --utc 2026-12-07T14:30:00Z --out " + c,
                                c + "/tarde"),
              0);
    std::string consola = leer_fichero(c + "/debug.txt");
    size_t montada = consola.find("SD inicializada");
    ASSERT_NE(montada, std::string::npos);
    EXPECT_EQ(contar(consola.substr(0, montada), "SD no presente\r\n"), 2u);
    EXPECT_EQ(contar(consola, "SD no presente"), 2u);
    // Mounted two minutes after start-up: the first files are named 14:32.
    std::string d = t.mdir("/261207");
    EXPECT_NE(d.find("1432     raw"), std::string::npos) << d;
    EXPECT_NE(d.find("1432     res"), std::string::npos) << d;
    std::string informe;
    EXPECT_TRUE(t.limpia(&informe)) << informe;
}

// A card pulled out in the middle of an interval and put back three minutes
// later: the failed writes show that it no longer answers, it is started
// again once a minute until it is back, and logging goes on with new files
// and the day's summary file found again.
TEST(RegistroSd, ACardPutBackIsStartedAgainAndLoggedOnto)
{
    std::string c = carpeta_de_prueba("registro_sd_vuelta");
    Tarjeta t{c + "/card.img"};
    ASSERT_EQ(ejecutar_olas_sim("--duration 45m --card-size 64 --card-out 8m-11m --utc 2026-12-07T14:30:00Z --out " + c,
                                c + "/vuelta"),
              0);
    std::string consola = leer_fichero(c + "/debug.txt");
    size_t primera = consola.find("SD inicializada");
    ASSERT_NE(primera, std::string::npos);
    size_t perdida = consola.find("SD no presente", primera);
    ASSERT_NE(perdida, std::string::npos);
    size_t segunda = consola.find("SD inicializada", perdida);
    ASSERT_NE(segunda, std::string::npos);
    // Tried once a minute while out: at most four attempts for three minutes.
    size_t intentos = contar(consola.substr(perdida, segunda - perdida), "SD no presente");
    EXPECT_GE(intentos, 3u);
    EXPECT_LE(intentos, 4u);
    EXPECT_NE(consola.find("Fichero RES localizado: /261207/1430.res", segunda), std::string::npos);
    // The raw file made on the card's return is named after the minute it came back in.
    size_t nuevo = consola.find("Nuevo fichero creado:261207/", segunda);
    ASSERT_NE(nuevo, std::string::npos);
    std::string vuelta = consola.substr(nuevo + 28, 4);
    EXPECT_TRUE(vuelta == "1441" || vuelta == "1442") << vuelta;
    std::string d = t.mdir("/261207");
    EXPECT_NE(d.find("1430     raw"), std::string::npos) << d;
    EXPECT_NE(d.find(vuelta + "     raw"), std::string::npos) << d;
    EXPECT_NE(d.find("1500     raw"), std::string::npos) << d;
    // The interval that ended while the card was out is lost; the next one is on the card.
    std::vector<std::string> res = lineas(t.mtype("/261207/1430.res"));
    ASSERT_EQ(res.size(), 1u);
    EXPECT_EQ(res[0].substr(0, 15), "07,12,26,14,40,") << res[0];
    EXPECT_GT(lineas(t.mtype("/261207/" + vuelta + ".raw")).size(), 10000u);
    sin_ceros(t, "/261207");
    std::string informe;
    EXPECT_TRUE(t.limpia(&informe)) << informe;
}

// SD writing switched off and on again by command: the open interval files
// are closed with their records when writing is withdrawn, the card is
// started again, and logging goes on in new files; nothing on the card holds
// bytes that never reached it.
TEST(RegistroSd, WritingSwitchedOffAndOnByCommandLeavesNoHoles)
{
    std::string c = carpeta_de_prueba("registro_sd_7_0_7_1");
    Tarjeta t{c + "/card.img"};
    std::ofstream(c + "/guion.tov") << "150.05 $TOV03,7,0\n200 $TOV03,7,1\n";
    ASSERT_EQ(ejecutar_olas_sim("--duration 5m --card-size 64 --utc 2026-12-07T14:30:00Z --tov-script " + c +
                                    "/guion.tov --out " + c,
                                c + "/apagado"),
              0);
    std::string consola = leer_fichero(c + "/debug.txt");
    size_t anulada = consola.find("==> Anulada por Telemando la escritura SD.");
    ASSERT_NE(anulada, std::string::npos);
    EXPECT_NE(consola.find("SD inicializada", anulada), std::string::npos);
    std::string telemetria = leer_fichero(c + "/telemetry.txt");
    EXPECT_EQ(contar(telemetria, "$OLA,07,01*"), 2u) << telemetria;
    // The raw file of before the command ends with a whole record.
    std::vector<std::string> antes = lineas(t.mtype("/261207/1430.raw"));
    ASSERT_GT(antes.size(), 500u);
    for (const std::string &l : antes) ASSERT_EQ(contar(l, ","), 12u) << l;
    std::string d = t.mdir("/261207");
    EXPECT_GE(contar(d, " raw "), 2u) << d;
    sin_ceros(t, "/261207");
    std::string informe;
    EXPECT_TRUE(t.limpia(&informe)) << informe;
}

// The same folder run again is the same buoy a moment later: its world goes on
// from the UTC where the last run ended, so the card gets no second twice;
// --utc still chooses the world's clock.
TEST(RegistroSd, ASecondRunOnTheSameFolderGoesOnWhereTheFirstEnded)
{
    std::string c = carpeta_de_prueba("registro_sd_continuacion");
    Tarjeta t{c + "/card.img"};
    ASSERT_EQ(ejecutar_olas_sim("--duration 12m --card-size 64 --out " + c, c + "/primera"), 0);
    EXPECT_NE(leer_fichero(c + "/primera.stderr").find("at start is 2026-12-07T14:30:00Z, from the default"),
              std::string::npos);
    ASSERT_EQ(ejecutar_olas_sim("--duration 12m --sensor-truth " + c + "/verdad2.csv --out " + c, c + "/segunda"), 0);
    EXPECT_NE(leer_fichero(c + "/segunda.stderr").find("at start is 2026-12-07T14:42:00Z, from the end of the last run"),
              std::string::npos);
    EXPECT_EQ(leer_resumen(c)["utc_start"], "2026-12-07T14:42:00Z");
    std::vector<std::string> raws;
    for (const std::string &f : t.ficheros("/261207"))
        if (f.size() > 4 && f.substr(f.size() - 4) == ".raw") raws.push_back(f);
    ASSERT_GE(raws.size(), 2u);
    size_t lineas_total = 0;
    for (const std::string &f : raws) {
        std::vector<std::string> raw = lineas(t.mtype(f));
        lineas_total += raw.size();
        for (const auto &s : por_segundo(raw)) EXPECT_LE(s.second, 10) << f << " " << s.first;
    }
    // Both runs recorded: about 11 minutes each after the GPS sets the clock.
    EXPECT_GT(lineas_total, 2u * 10 * 600);
    // The sea goes on too: the second run's first epoch is the one a single
    // run would have sent 12 minutes later.
    std::string r = carpeta_de_prueba("registro_sd_continuacion_una");
    ASSERT_EQ(ejecutar_olas_sim("--duration 12m4s --no-card --sensor-truth " + r + "/verdad.csv --out " + r), 0);
    std::vector<std::string> una = lineas(leer_fichero(r + "/verdad.csv")), dos = lineas(leer_fichero(c + "/verdad2.csv"));
    ASSERT_GT(una.size(), 7202u);
    ASSERT_GT(dos.size(), 2u);
    auto sin_tiempos = [](const std::string &l) { return l.substr(l.find(',', l.find(',', l.find(',') + 1) + 1)); };
    EXPECT_EQ(sin_tiempos(dos[1]), sin_tiempos(una[7201]));

    // A folder's world that cannot be read starts afresh, with a warning;
    // --utc wins over the folder's.
    std::ofstream(c + "/world.json") << "{ not json";
    ASSERT_EQ(ejecutar_olas_sim("--duration 5s --out " + c, c + "/tercera"), 0);
    EXPECT_NE(leer_fichero(c + "/tercera.stderr").find("world.json cannot be read"), std::string::npos);
    EXPECT_EQ(leer_resumen(c)["utc_start"], "2026-12-07T14:30:00Z");
    ASSERT_EQ(ejecutar_olas_sim("--duration 5s --utc 2027-01-01T00:00:00Z --out " + c, c + "/cuarta"), 0);
    EXPECT_NE(leer_fichero(c + "/cuarta.stderr").find("from --utc"), std::string::npos);
    EXPECT_EQ(leer_resumen(c)["utc_start"], "2027-01-01T00:00:00Z");
}
