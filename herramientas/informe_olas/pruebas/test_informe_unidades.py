"""The card report's pieces on inputs with known answers: record parsing
(torn lines, files of another kind), the time base and its gaps, the
intervals' bounds and faults, and what the page shows."""

import os
import sys
import unittest

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))

from informe_olas import analisis, pagina, principal, registros, tiempo  # noqa: E402

RAW = b"07,03,24,15,42,09,00012,0247,-00035, 00000.1234,-00001.5000,1,1\r\n"
WAV = b"07,03,24,15,42,00012 0153 072 00036 2715 087 100\r\n"
RES = b"07,12,26,14,30,00087 0216 0146 0180 0095 109 077 074 072 065 0600 0000 100 100\r\n"


class Registros(unittest.TestCase):
    def test_lineas_validas_de_cada_tipo(self):
        r, inf = registros.leer_raw(RAW * 3)
        self.assertEqual(inf.problemas(), [])
        self.assertEqual(list(r["heave_cm"]), [-35] * 3)
        self.assertAlmostEqual(r["vn"][0], 0.1234)
        self.assertAlmostEqual(r["ve"][0], -1.5)
        self.assertEqual(r["contador"][0], 12)
        self.assertEqual(r["yaw_deg"][0], 247)
        import datetime
        cuando = datetime.datetime(2024, 3, 7, 15, 42, 9, tzinfo=datetime.timezone.utc).timestamp()
        self.assertEqual(r["segundo"][0], cuando)
        # 29 February of a leap year is a date; of another year it is not.
        r, inf = registros.leer_raw(RAW.replace(b"07,03,24", b"29,02,24") + RAW.replace(b"07,03,24", b"29,02,25"))
        self.assertEqual(len(r["segundo"]), 1)
        self.assertEqual(r["segundo"][0], cuando - 7 * 86400)
        o, inf = registros.leer_wav(WAV)
        self.assertEqual((o[0]["numero"], o[0]["altura_cm"], o[0]["periodo_ds"], o[0]["direcciones"]),
                         (12, 153, 72, [2715]))
        self.assertEqual(inf.problemas(), [])
        s, inf = registros.leer_res(RES)
        self.assertEqual((s[0]["olas"], s[0]["h13_cm"], s[0]["dir_ddeg"], s[0]["desv_ddeg"], s[0]["tav_ds"]),
                         (87, 146, 600, 0, 65))
        # Both direction methods: two directions, then two spreads.
        ambos = RES.replace(b" 0600 0000 ", b" 0600 0610 0011 0012 ")
        s, _ = registros.leer_res(ambos)
        self.assertEqual((s[0]["dir_ddeg"], s[0]["dir2_ddeg"], s[0]["desv_ddeg"], s[0]["desv2_ddeg"]),
                         (600, 610, 11, 12))

    def test_linea_cortada_al_final_se_informa_y_el_resto_se_lee(self):
        datos = RAW * 5 + RAW[:30]
        r, inf = registros.leer_raw(datos, "d/1430.raw")
        self.assertEqual(len(r["heave_cm"]), 5)
        self.assertTrue(inf.cortada)
        self.assertIn("torn last line 6", inf.problemas()[0])
        # Zeros after the last line (the size was written, the data not) are no line.
        r, inf = registros.leer_raw(RAW * 2 + b"\x00" * 300)
        self.assertEqual((len(r["heave_cm"]), inf.problemas()), (2, []))
        # A line of zeros in the middle is reported and skipped.
        r, inf = registros.leer_raw(RAW + b"\x00" * 20 + b"\r\n" + RAW)
        self.assertEqual(len(r["heave_cm"]), 2)
        self.assertIn("zero bytes", inf.problemas()[0])

    def test_fichero_de_otro_tipo_o_vacio(self):
        r, inf = registros.leer_raw(WAV * 4, "d/1430.raw")
        self.assertTrue(inf.otro_tipo)
        self.assertEqual(len(r["heave_cm"]), 0)
        self.assertIn("not a raw file", inf.problemas()[0])
        o, inf = registros.leer_wav(RES * 2)
        self.assertEqual((o, inf.otro_tipo), ([], True))
        s, inf = registros.leer_res(b"")
        self.assertEqual((s, inf.vacio), ([], True))
        self.assertIn("empty", inf.problemas()[0])
        # A single torn line of the right kind is a torn line, not another kind.
        _, inf = registros.leer_res(RES[:40])
        self.assertFalse(inf.otro_tipo)
        self.assertTrue(inf.cortada)

    def test_campos_imposibles(self):
        malo = RAW.replace(b"07,03,24", b"31,02,24")  # 31 February
        r, inf = registros.leer_raw(RAW + malo)
        self.assertEqual(len(r["heave_cm"]), 1)
        self.assertIn("impossible date", inf.problemas()[0])
        # The out-of-range placeholders are missing values, not velocities.
        fuera = RAW.replace(b" 00000.1234", b" 99999.9999").replace(b"-00001.5000", b"-99999.9999")
        r, _ = registros.leer_raw(fuera)
        self.assertTrue(np.isnan(r["vn"][0]) and np.isnan(r["ve"][0]))
        # No clock yet: kept, without a time.
        r, inf = registros.leer_raw(b"00,00,00,00,00,00" + RAW[17:])
        self.assertTrue(np.isnan(r["segundo"][0]))
        self.assertIn("1 samples written before the clock was set", inf.problemas()[0])

    def test_heave_vuelve_al_centro_de_su_centimetro(self):
        # The buoy writes 1 for (0, 1] cm and -1 for [-1, 0) cm.
        h = analisis.heave_metros(np.array([0, 1, -1, 35, -35]))
        np.testing.assert_allclose(h, [0.0, 0.005, -0.005, 0.345, -0.345])


def _segundos(t):
    return np.floor(t)


class BaseDeTiempo(unittest.TestCase):
    """Lines as the buoy writes them: stamped with the second they were
    built in, one line fewer in a second where the sensor lost a frame (the
    wave counter does not skip for it)."""

    def serie(self, n=3000, fs=10.0, fase=0.37):
        t = 1.8e9 + fase + np.arange(n) / fs
        contador = np.arange(n) % 73  # a wave every 7.3 s
        return t, contador

    @staticmethod
    def movimiento(t):
        """Heave in centimetres and velocities to 0.1 mm/s of a 9-s swell and
        a 5-s sea."""
        z = 60 * np.sin(2 * np.pi * t / 9.0) + 25 * np.sin(2 * np.pi * t / 5.0 + 1.0)
        vn = np.round(0.4 * np.cos(2 * np.pi * t / 9.0) + 0.3 * np.cos(2 * np.pi * t / 5.0 + 1.0), 4)
        ve = np.round(0.2 * np.cos(2 * np.pi * t / 9.0 + 0.3), 4)
        return ((np.round(z), 1.0), (vn, 1e-4), (ve, 1e-4))

    def perdidas(self, quitar, contador_salta=False):
        t, c = self.serie()
        keep = np.setdiff1d(np.arange(len(t)), quitar)
        cc = c[keep] if contador_salta else np.arange(len(keep)) % 73
        series = tuple((x[keep], q) for x, q in self.movimiento(t))
        tt, huecos = tiempo.tiempos(_segundos(t[keep]), cc, 10.0, series)
        return t[keep], tt, huecos

    def test_frecuencia_y_tiempos_sin_huecos(self):
        t, c = self.serie()
        fs = tiempo.frecuencia_muestreo(_segundos(t))
        self.assertEqual(fs, 10.0)
        tt, huecos = tiempo.tiempos(_segundos(t), c, fs, self.movimiento(t))
        self.assertEqual(huecos, [])
        self.assertLess(np.max(np.abs(tt - t)), 0.05)

    def test_muestras_perdidas_en_su_sitio_dentro_del_segundo(self):
        # Single lines anywhere in their second (first, middle, last), two
        # in a row, and four across a wave's end.
        quitar = np.r_[500, 1203, 1459, 1960:1962, 2240:2244]
        verdad, tt, huecos = self.perdidas(quitar)
        self.assertEqual(sorted(h[2] for h in huecos), [1, 1, 1, 2, 4])
        self.assertLess(np.max(np.abs(tt - verdad)), 0.05)
        # The gaps sit where the samples went: between the lines around them.
        for t0, t1, n in huecos:
            self.assertAlmostEqual(t1 - t0, (n + 1) / 10.0, places=6)
        # A counter that skips tells the same.
        verdad, tt, huecos = self.perdidas(quitar, contador_salta=True)
        self.assertEqual(sorted(h[2] for h in huecos), [1, 1, 1, 2, 4])
        self.assertLess(np.max(np.abs(tt - verdad)), 0.05)

    def test_sin_el_movimiento_la_perdida_queda_en_su_segundo(self):
        # No series to tell where: the loss goes to the end of its short
        # second, so no sample strays more than one period (plus the half
        # period of the grid's place that stamps cannot tell).
        t, c = self.serie()
        keep = np.setdiff1d(np.arange(len(t)), [500, 1201])
        tt, huecos = tiempo.tiempos(_segundos(t[keep]), np.arange(len(keep)) % 73, 10.0)
        self.assertEqual(sum(h[2] for h in huecos), 2)
        self.assertLessEqual(np.max(np.abs(tt - t[keep])), 0.15 + 1e-6)

    def test_sellos_tardios_y_pasos_del_reloj(self):
        t, c = self.serie()
        sellos = _segundos(t)
        # The loop held up 1.5 s: fifteen lines built in a burst, one stamp.
        sellos[1200:1215] = _segundos(t[1215])
        # The clock put a tenth of a second ahead from line 2000 on.
        sellos[2000:] = _segundos(t[2000:] + 0.1)
        tt, huecos = tiempo.tiempos(sellos, c, 10.0, self.movimiento(t))
        # The burst loses nothing; the step ahead leaves one slot of the
        # clock's time empty, and the times follow the clock.
        self.assertLessEqual(sum(h[2] for h in huecos), 1)
        self.assertTrue(np.all(np.diff(tt) > 0))
        self.assertLess(np.max(np.abs(tt[:1900] - t[:1900])), 0.05)
        self.assertLess(np.max(np.abs(tt[2100:] - (t[2100:] + 0.1))), 0.05)

    def test_un_reloj_que_adelanta_no_acumula_error(self):
        # The buoy's clock 300 ppm fast over three hours (3.2 s by the end):
        # every line stays within a period of its own stamped second.
        t = 1.8e9 + 0.37 + np.arange(108000) / 10.0
        reloj = 1.8e9 + (t - 1.8e9) * (1 + 300e-6)
        sellos = _segundos(reloj)
        tt, huecos = tiempo.tiempos(sellos, np.arange(len(t)) % 73, 10.0, self.movimiento(t))
        self.assertLessEqual(np.max(np.abs(tt - reloj)), 0.1 + 1e-6)
        self.assertTrue(np.all((tt >= sellos - 0.1) & (tt < sellos + 1.1)))
        # One slot of the clock's time in every 1 / (10 Hz x 300 ppm) s has no sample.
        self.assertAlmostEqual(sum(h[2] for h in huecos), 32, delta=3)

    def test_un_ritmo_que_no_es_entero(self):
        # 1.28 Hz: one or two lines a second. The rate is the lines per
        # second, no loss is made up from the uneven counts, and each sample
        # stays within half a period of its time; one lost line is found.
        t = 1.8e9 + 0.21 + np.arange(4000) / 1.28
        fs = tiempo.frecuencia_muestreo(_segundos(t))
        self.assertEqual(fs, 1.28)
        tt, huecos = tiempo.tiempos(_segundos(t), np.arange(4000) % 9, fs, self.movimiento(t))
        self.assertEqual(huecos, [])
        self.assertLess(np.max(np.abs(tt - t)), 0.5 / 1.28)
        keep = np.setdiff1d(np.arange(4000), [1500])
        tt, huecos = tiempo.tiempos(_segundos(t[keep]), np.arange(3999) % 9, fs, tuple(
            (x[keep], q) for x, q in self.movimiento(t)))
        self.assertEqual(sum(h[2] for h in huecos), 1)
        self.assertLess(np.max(np.abs(tt - t[keep])), 1.0 / 1.28 + 0.5 / 1.28)

    def test_un_corte_largo_y_un_reloj_puesto_en_hora(self):
        t, c = self.serie()
        t2 = t.copy()
        t2[2000:] += 95.0           # 95 s without samples (a power cut)
        c2 = c.copy()
        c2[2000:] = np.arange(1000) % 61
        tt, huecos = tiempo.tiempos(_segundos(t2), c2, 10.0)
        self.assertEqual(len(huecos), 1)
        self.assertAlmostEqual(huecos[0][2], 950, delta=10)
        self.assertLess(np.max(np.abs(tt - t2)), 0.1)
        # A clock set back starts a new stretch; stamps without a clock have no time.
        sellos = _segundos(t)
        sellos[1500:] -= 3600.0
        sellos[:100] = np.nan
        tt, huecos = tiempo.tiempos(sellos, c, 10.0)
        self.assertTrue(np.all(np.isnan(tt[:100])))
        self.assertLess(np.max(np.abs(tt[100:1500] - t[100:1500])), 0.05)
        self.assertLess(np.max(np.abs(tt[1500:] - (t[1500:] - 3600.0))), 0.05)


class Presentacion(unittest.TestCase):
    def test_eje_de_direcciones_que_cruzan_el_norte(self):
        u, lo, hi = pagina.limites_direccion([355.0, 2.0, 5.0, np.nan])
        np.testing.assert_allclose(u[:3], [-5.0, 2.0, 5.0])
        self.assertTrue(lo < -5.0 and hi > 5.0 and hi - lo < 20.0)
        # A change of a degree still gets an axis of about ten degrees, not 360.
        u, lo, hi = pagina.limites_direccion([120.0, 121.0])
        self.assertTrue(lo < 120.0 and hi > 121.0 and 10.0 <= hi - lo < 15.0)
        self.assertEqual(pagina.limites_direccion([np.nan])[1:], (0.0, 360.0))

    def test_un_mar_en_calma_no_da_numeros_ni_rompe_nada(self):
        # A sensor that gives zeros (a dead one, a flat calm) and one whose
        # velocities are all missing: the files are written, and where no
        # number is known there is none (not a zero, not a direction).
        import datetime
        import tempfile
        import shutil
        import netCDF4
        from informe_olas import salidas
        U = datetime.timezone.utc
        ini = datetime.datetime(2026, 12, 7, 10, 0, 1, tzinfo=U)
        t = ini.timestamp() + np.arange(12000) / 10.0
        ints = []
        for h, v in ((np.zeros(12000), np.zeros(12000)), (np.sin(t), np.full(12000, np.nan))):
            it = analisis.Intervalo(ini, ini + datetime.timedelta(minutes=20))
            analisis.analizar_intervalo(it, dict(t=t, heave_m=h, vn=v, ve=v), 10.0)
            ints.append(it)
        self.assertTrue(all(np.isnan(ints[0].esp[k]) for k in ("hm0", "a2", "b2", "dir_principal", "spread2")))
        d = tempfile.mkdtemp()
        try:
            nc = salidas.NetCDF(os.path.join(d, "olas.nc"), "card.img")
            nc.olas([])
            nc.intervalos(ints)
            nc.cerrar("informe card.img", [], {})
            import warnings
            with warnings.catch_warnings():
                warnings.simplefilter("error", UserWarning)
                pagina.escribir(os.path.join(d, "informe.html"), ints, [], [], ints[0], "calm", direccional=ints[0])
            with netCDF4.Dataset(os.path.join(d, "olas.nc")) as g:
                for n in ("a2", "b2", "check_factor", "directional_spectrum"):
                    self.assertTrue(np.all(np.isnan(g[n][:].filled(np.nan))), n)
                self.assertEqual(g["station"][...], "unnamed")
            with open(os.path.join(d, "informe.html")) as h:
                self.assertIn("no variance", h.read())
        finally:
            shutil.rmtree(d, ignore_errors=True)

    def test_intervalo_del_espectro_direccional(self):
        import datetime
        U = datetime.timezone.utc
        a = analisis.Intervalo(datetime.datetime(2026, 12, 7, 10, 0, 1, tzinfo=U),
                               datetime.datetime(2026, 12, 7, 10, 20, 1, tzinfo=U))
        b = analisis.Intervalo(a.fin, datetime.datetime(2026, 12, 7, 10, 40, 1, tzinfo=U))
        a.espectro = b.espectro = object()
        a.qc, b.qc = {"qc_flag": 1}, {"qc_flag": 1}
        a.esp, b.esp = {"hm0": 2.0}, {"hm0": 1.0}
        self.assertIs(principal._direccional([a, b], None), a)
        self.assertIs(principal._direccional([a, b], datetime.datetime(2026, 12, 7, 10, 30, tzinfo=U)), b)
        self.assertIsNone(principal._direccional([a, b], datetime.datetime(2026, 12, 8, tzinfo=U)))

    def test_historia_sin_rutas_de_la_maquina(self):
        h = principal._historia(["/home/ana/boyas/card.img", "--out", "/tmp/x/informe", "--station", "B 1"])
        self.assertEqual(h, "informe card.img --out informe --station 'B 1'")
        h = principal._historia(["--quiet", "/media/a/TARJETA/", "--out=/srv/x/y", "--institution", "Univ. A/B"])
        self.assertEqual(h, "informe --quiet TARJETA --out=y --institution 'Univ. A/B'")
        # Two cards of one name are told apart as the dataset's source does.
        tarjetas = ["/srv/boya/2026a/card.img", "/srv/boya/2026b/card.img"]
        self.assertEqual(principal.nombres_de_tarjetas(tarjetas), ["2026a/card.img", "2026b/card.img"])
        h = principal._historia(tarjetas + ["--out", "/tmp/x"], principal.nombres_de_tarjetas(tarjetas))
        self.assertEqual(h, "informe 2026a/card.img 2026b/card.img --out x")


class Intervalos(unittest.TestCase):
    def test_fin_del_intervalo_como_la_boya(self):
        import datetime
        U = datetime.timezone.utc
        ini = datetime.datetime(2026, 12, 7, 10, 7, 33, tzinfo=U)
        self.assertEqual(analisis.fin_de_intervalo(ini, 15).time(), datetime.time(10, 15, 1))
        ini = datetime.datetime(2026, 12, 7, 23, 52, 10, tzinfo=U)
        self.assertEqual(analisis.fin_de_intervalo(ini, 10), datetime.datetime(2026, 12, 7, 23, 59, 50, tzinfo=U))
        self.assertEqual(analisis.longitud_intervalo([870, 880, 900, 920, 940]), 20)
        self.assertEqual(analisis.longitud_intervalo([]), 20)

    def test_una_pausa_al_cerrar_el_intervalo_no_es_un_reinicio(self):
        import datetime
        from informe_olas import fallos
        U = datetime.timezone.utc
        T = datetime.datetime(2026, 12, 7, 18, 0, 1, tzinfo=U).timestamp()
        d = analisis.Dia("261207")
        d.primeras = {"1740.raw": T - 1200.0, "1800.raw": T - 0.2, "1810.raw": T + 603.5}
        # A second lost as the buoy closes the 17:40 interval, whose record
        # is on the card: its own pause, not a restart. Three seconds lost
        # mid-interval as a new file starts: a restart.
        d.huecos = [(T - 2.0, T - 1.0, 9), (T + 600.0, T + 603.0, 28)]
        d.intervalos = [analisis.Intervalo(datetime.datetime.fromtimestamp(T - 1200.0, U),
                                           datetime.datetime.fromtimestamp(T, U), dict(olas=150)),
                        analisis.Intervalo(datetime.datetime.fromtimestamp(T, U),
                                           datetime.datetime.fromtimestamp(T + 1200.0, U), None)]
        tipos = [(f["tipo"], f["donde"]) for f in fallos.del_dia(d, [])]
        self.assertEqual(tipos, [("pause at an interval's end", "261207/1800.raw"),
                                 ("restart (power cut or reset)", "261207/1810.raw"),
                                 ("interval without the buoy's record", "261207")])
        # Without the buoy's record of the interval the same gap is a restart.
        d.intervalos[0].fw = None
        self.assertEqual(fallos.del_dia(d, [])[0]["tipo"], "restart (power cut or reset)")


if __name__ == "__main__":
    unittest.main()
