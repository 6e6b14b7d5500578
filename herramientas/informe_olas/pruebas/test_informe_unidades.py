"""The card report's pieces on inputs with known answers: record parsing
(torn lines, files of another kind), the time base and its gaps, and the
spectra and directions of synthetic seas."""

import math
import os
import sys
import unittest

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))

from informe_olas import analisis, espectro, pagina, principal, qc, registros, tiempo  # noqa: E402

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


def mar_sintetico(trenes, fs=10.0, duracion=1200.0, deriva=(0.0, 0.0), semilla=4):
    """Heave (positive down), vn, ve of wave trains (f Hz, amplitude m, from
    degrees), deep water; plus a drift that grows linearly."""
    rnd = np.random.default_rng(semilla)
    t = np.arange(int(duracion * fs)) / fs
    z = np.zeros_like(t)
    vn = deriva[0] + 0.0002 * t
    ve = deriva[1] - 0.0001 * t
    for f, a, desde in trenes:
        w = 2 * math.pi * f
        c = a * np.cos(w * t + rnd.uniform(0, 2 * math.pi))
        hacia = math.radians(desde + 180.0)
        z -= c
        vn = vn + w * c * math.cos(hacia)
        ve = ve + w * c * math.sin(hacia)
    return z, vn, ve


def analizar(z, vn, ve, fs=10.0):
    presente = np.ones(len(z), dtype=bool)
    f, P, nseg = espectro.welch([z, vn, ve], presente, fs)
    p = espectro.parametros(f, P[0, 0].real)
    a1, b1, d = espectro.direcciones(f, P, ip=p["ip"])
    p.update(d)
    return f, p, nseg


class Espectros(unittest.TestCase):
    def test_un_tren_de_cada_rumbo(self):
        # 0.125 Hz is not on a bin: the window spreads it, the sums keep it.
        for desde in (0.0, 45.0, 135.0, 200.0, 315.0):
            z, vn, ve = mar_sintetico([(0.125, 0.5, desde)], deriva=(0.4, -0.3))
            f, p, nseg = analizar(z, vn, ve)
            self.assertEqual(nseg, 22)
            self.assertAlmostEqual(p["hm0"], 4 * math.sqrt(0.5 ** 2 / 2), delta=0.01 * p["hm0"])
            self.assertLess(abs(1 / p["tp"] - 0.125), f[1])
            self.assertLess(qc._dif_angular(p["dir_mean"], desde), 0.5, desde)
            self.assertLess(qc._dif_angular(p["dir_peak"], desde), 0.5, desde)
            self.assertLess(p["spread"], 1.0)

    def test_dos_trenes_dan_la_media_circular_y_su_dispersion(self):
        # Equal energy from 20 and 80 degrees: mean 50, r1 = cos(30), and the
        # Kuik spread sqrt(2 (1 - cos 30 deg)) = 29.6 degrees.
        z, vn, ve = mar_sintetico([(0.10, 0.4, 20.0), (0.14, 0.4, 80.0)])
        f, p, _ = analizar(z, vn, ve)
        self.assertLess(qc._dif_angular(p["dir_mean"], 50.0), 0.5)
        esperado = math.degrees(math.sqrt(2 * (1 - math.cos(math.radians(30)))))
        self.assertAlmostEqual(p["spread"], esperado, delta=0.5)
        # The peak is the larger train's.
        z, vn, ve = mar_sintetico([(0.10, 0.6, 20.0), (0.14, 0.3, 80.0)])
        f, p, _ = analizar(z, vn, ve)
        self.assertLess(qc._dif_angular(p["dir_peak"], 20.0), 1.0)
        self.assertLess(abs(1 / p["tp"] - 0.10), f[1])

    def test_periodos_medios(self):
        # Two trains of equal variance at f1, f2: Tm01 = 2/(f1+f2), Tm02 = sqrt(2/(f1^2+f2^2)).
        f1, f2 = 0.0977, 0.1953  # on bins: no leakage
        z, vn, ve = mar_sintetico([(f1, 0.3, 90.0), (f2, 0.3, 90.0)], duracion=1228.8)
        f, p, _ = analizar(z, vn, ve)
        self.assertAlmostEqual(p["tm01"], 2 / (f1 + f2), delta=0.02)
        self.assertAlmostEqual(p["tm02"], math.sqrt(2 / (f1 ** 2 + f2 ** 2)), delta=0.02)

    def test_los_huecos_solo_quitan_sus_segmentos(self):
        z, vn, ve = mar_sintetico([(0.125, 0.5, 30.0)])
        presente = np.ones(len(z), dtype=bool)
        presente[5000:5010] = False
        z[5000:5010] = np.nan
        f, P, nseg = espectro.welch([z, vn, ve], presente, 10.0)
        self.assertEqual(nseg, 20)  # the two segments holding the gap are left out
        self.assertTrue(np.all(np.isfinite(P[0, 0].real)))
        self.assertEqual(espectro.segmentos_validos(np.zeros(3000, dtype=bool), 1024), [])


def momentos_de(D, th):
    """a1, b1, a2, b2 of a distribution D (rad^-1) on the directions th (degrees)."""
    t = np.radians(th)
    paso = 2 * math.pi / len(th)
    return [float(np.sum(D * g(k * t)) * paso) for k, g in ((1, np.cos), (1, np.sin), (2, np.cos), (2, np.sin))]


class Direccional(unittest.TestCase):
    """Second-order moments, check factor, degrees of freedom and the
    maximum entropy directional distribution on seas with a known answer."""

    def productos(self, z, vn, ve, fs=10.0):
        presente = np.ones(len(z), dtype=bool)
        f, P, _ = espectro.welch([z, vn, ve], presente, fs)
        S = P[0, 0].real
        p = espectro.parametros(f, S)
        a1, b1, d = espectro.direcciones(f, P, ip=p["ip"])
        _, _, a2, b2, k = espectro.momentos(f, P)
        d.update(espectro.segundo_orden(f, S, a2, b2, d["dir_mean"]))
        return f, S, a1, b1, a2, b2, k, d

    def test_un_tren_da_los_momentos_de_su_direccion_y_el_factor_de_control(self):
        f0 = 12 / 102.4  # on a bin: the check factor compares w of the bin with the train's
        for desde in (0.0, 45.0, 135.0, 200.0, 315.0):
            z, vn, ve = mar_sintetico([(f0, 0.5, desde)], deriva=(0.4, -0.3))
            f, S, a1, b1, a2, b2, k, d = self.productos(z, vn, ve)
            t = math.radians(desde)
            self.assertAlmostEqual(d["a2"], math.cos(2 * t), delta=0.01, msg=desde)
            self.assertAlmostEqual(d["b2"], math.sin(2 * t), delta=0.01, msg=desde)
            # The principal direction is on the side the waves come from, not the opposite one.
            self.assertLess(qc._dif_angular(d["dir_principal"], desde), 0.5, desde)
            self.assertLess(d["spread2"], 1.0)
            i = int(np.argmax(S))
            self.assertAlmostEqual(k[i], 1.0, delta=0.01)
            dirf, s1, dir2, s2 = espectro.direcciones_por_frecuencia(a1, b1, a2, b2)
            self.assertLess(qc._dif_angular(dirf[i], desde), 0.5)
            self.assertLess(qc._dif_angular(dir2[i], desde), 0.5)
        # In water of depth h the horizontal motion is 1/tanh(kh) times the
        # vertical one: the check factor says so, the moments do not change.
        z, vn, ve = mar_sintetico([(f0, 0.5, 30.0)])
        factor = 1.0 / math.tanh(0.6)
        f, S, a1, b1, a2, b2, k, d = self.productos(z, vn * factor, ve * factor)
        i = int(np.argmax(S))
        self.assertAlmostEqual(k[i], factor, delta=0.01)
        self.assertAlmostEqual(a1[i], math.cos(math.radians(30.0)), delta=0.01)
        self.assertAlmostEqual(a2[i], math.cos(math.radians(60.0)), delta=0.01)

    def test_dos_trenes_dan_el_segundo_orden_de_su_mezcla(self):
        # Equal energy from 20 and 80 degrees: a2 = (cos 40 + cos 160) / 2,
        # b2 = (sin 40 + sin 160) / 2, principal direction 50, and a second-
        # order spread sqrt((1 - m2) / 2) with m2 = |cos 60| = 0.5.
        z, vn, ve = mar_sintetico([(0.10, 0.4, 20.0), (0.14, 0.4, 80.0)])
        d = self.productos(z, vn, ve)[-1]
        r = math.radians
        self.assertAlmostEqual(d["a2"], (math.cos(r(40)) + math.cos(r(160))) / 2, delta=0.01)
        self.assertAlmostEqual(d["b2"], (math.sin(r(40)) + math.sin(r(160))) / 2, delta=0.01)
        self.assertLess(qc._dif_angular(d["dir_principal"], 50.0), 0.5)
        self.assertAlmostEqual(d["spread2"], math.degrees(math.sqrt(0.25)), delta=0.5)
        # A sea without a second-order moment (no energy) gives no numbers, not zeros.
        vacio = espectro.segundo_orden(np.arange(10) * 0.01, np.zeros(10), np.full(10, np.nan),
                                       np.full(10, np.nan), 30.0)
        self.assertTrue(all(np.isnan(v) for v in vacio.values()))

    def test_grados_de_libertad_y_limites_de_confianza(self):
        n = 1024
        # Segments that do not overlap count 2 each; half-overlapped Hann
        # segments share a correlation of about 1/6 (Welch, 1967).
        self.assertAlmostEqual(espectro.grados_de_libertad([0, n, 2 * n], n), 6.0)
        self.assertAlmostEqual(espectro.correlacion_ventana(n), 1 / 6, delta=0.001)
        contiguos = list(range(0, 22 * n // 2, n // 2))
        self.assertAlmostEqual(espectro.grados_de_libertad(contiguos, n), 41.8, delta=0.1)
        self.assertEqual(espectro.grados_de_libertad([], n), 0.0)
        # Two degrees of freedom: the chi-squared quantiles 5.991 and 0.1026.
        lo, hi = espectro.limites_confianza(2.0)
        self.assertAlmostEqual(lo, 2 / 5.991, delta=0.001)
        self.assertAlmostEqual(hi, 2 / 0.1026, delta=0.02)
        self.assertTrue(all(np.isnan(espectro.limites_confianza(0.0))))
        # On white noise the limits hold the true density in about 90 % of the bins.
        rnd = np.random.default_rng(7)
        dentro = []
        for _ in range(4):
            x, y, w = (rnd.normal(0.0, 0.3, 12000) for _ in range(3))
            presente = np.ones(12000, dtype=bool)
            f, P, _ = espectro.welch([x, y, w], presente, 10.0)
            lo, hi = espectro.limites_confianza(espectro.grados_de_libertad_de(presente, 10.0))
            S = P[0, 0].real[1:-1]
            verdad = 2 * 0.09 / 10.0
            dentro.append(np.mean((S * lo <= verdad) & (verdad <= S * hi)))
        self.assertGreater(np.mean(dentro), 0.86)
        self.assertLess(np.mean(dentro), 0.95)

    def test_maxima_entropia(self):
        th = espectro.direcciones_mem(1.0)
        t = np.radians(th)
        # Whatever the law, the estimate has the four moments it was given
        # and integrates to 1.
        for s, centro in ((20, 60.0), (5, 300.0), (1, 170.0)):
            D0 = np.cos((t - math.radians(centro)) / 2) ** (2 * s)
            D0 /= D0.sum() * math.radians(1.0)
            m = momentos_de(D0, th)
            D = espectro.mem(*[[x] for x in m], th)[0]
            np.testing.assert_allclose(momentos_de(D, th), m, atol=1e-4)
            self.assertAlmostEqual(np.sum(D) * math.radians(1.0), 1.0, places=6)
            self.assertTrue(np.all(D >= 0))
        # A peak over an even background: the estimate peaks where it is.
        for desde in (10.0, 200.0, 350.0):
            p, r = 0.6, math.radians(desde)
            D = espectro.mem([p * math.cos(r)], [p * math.sin(r)], [p * math.cos(2 * r)], [p * math.sin(2 * r)], th)[0]
            self.assertLess(qc._dif_angular(th[int(np.argmax(D))], desde), 1.0)
        # A single train (r1 = 1), moments no distribution has, and missing
        # ones: no crash, no negative density, no number where none is known.
        D = espectro.mem([1.0, 0.9, np.nan], [0.0, 0.0, 0.2], [1.0, -0.9, 0.1], [0.0, 0.0, 0.1],
                         espectro.direcciones_mem())
        paso = math.radians(espectro.PASO_DIRECCION)
        self.assertAlmostEqual(np.sum(D[0]) * paso, 1.0, places=6)
        self.assertLess(qc._dif_angular(espectro.direcciones_mem()[int(np.argmax(D[0]))], 0.0), 1.0)
        self.assertAlmostEqual(np.sum(D[1]) * paso, 1.0, places=6)
        self.assertTrue(np.all(D[:2] >= 0))
        self.assertTrue(np.all(np.isnan(D[2])))


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


class Calidad(unittest.TestCase):
    """The interval's repair and tests, through the same path as the cards
    (samples on a clock, the interval's grid, the spectra), on a sea that
    passes them all, spoiled in one way at a time."""

    FW = dict(olas=170, heading_pct=100, align_pct=100, dir_ddeg=390, h13_cm=85)   # Hm0 0.89 m, from 39 degrees
    T0 = 1.8e9  # a whole second

    def intervalo(self, z, vn, ve, fw=None):
        import datetime
        U = datetime.timezone.utc
        t = self.T0 + 0.05 + np.arange(len(z)) / 10.0
        hay = np.isfinite(z)   # a sample with no heave has no line on the card
        m = dict(t=t[hay], heave_m=z[hay], vn=vn[hay], ve=ve[hay])
        it = analisis.Intervalo(datetime.datetime.fromtimestamp(self.T0, U),
                                datetime.datetime.fromtimestamp(self.T0 + len(z) / 10.0, U),
                                dict(self.FW, **(fw or {})))
        return analisis.analizar_intervalo(it, m, 10.0)

    def mar(self):
        trenes = [(0.08 + 0.005 * k, 0.1, 30.0 + 2 * k) for k in range(10)]
        z, vn, ve = mar_sintetico(trenes)
        return np.round(z, 2), np.round(vn, 4), np.round(ve, 4)   # the buoy's resolution

    def test_un_mar_limpio_pasa_todo(self):
        it = self.intervalo(*self.mar())
        # The rate of change needs the interval before it: alone, not evaluated.
        self.assertEqual(it.qc, dict({k: qc.PASA for k in qc.NOMBRES}, qc_flag=qc.PASA,
                                     rate_of_change=qc.NO_EVALUADO), it.qc)
        self.assertEqual((it.reparacion["faltan"], it.reparacion["reparadas_heave"],
                          it.reparacion["reparadas_velocidad"]), (0, 0, 0))
        self.assertEqual(it.esp["segmentos"], 22)

    def test_fallos_cortos_reparados_sin_perder_datos(self):
        z, vn, ve = self.mar()
        limpio = self.intervalo(z, vn, ve)
        # A velocity not a number every 1000 samples: the heave's products
        # do not change at all, the direction keeps every segment.
        vn2 = vn.copy()
        vn2[500::1000] = np.nan
        it = self.intervalo(z, vn2, ve)
        for k in ("hm0", "tp", "tm01", "tm02"):
            self.assertEqual(it.esp[k], limpio.esp[k], k)
        self.assertEqual((it.esp["segmentos"], it.esp["segmentos_direccion"]), (22, 22))
        self.assertLess(qc._dif_angular(it.esp["dir_mean"], limpio.esp["dir_mean"]), 0.2)
        self.assertEqual(it.reparacion["reparadas_velocidad"], 12)
        self.assertEqual(it.qc["qc_flag"], qc.PASA, it.qc)
        # 1 % of the samples lost one at a time, and 24 heave spikes.
        z2 = z.copy()
        rnd = np.random.default_rng(7)
        z2[rnd.choice(np.arange(2, 11998, 3), 120, replace=False)] = np.nan
        z2[250::500] += 3.0
        it = self.intervalo(z2, vn, ve)
        self.assertEqual(it.reparacion["faltan"], 120)
        self.assertEqual(it.reparacion["reparadas_heave"], 144)
        self.assertLess(abs(it.esp["hm0"] / limpio.esp["hm0"] - 1), 0.005)
        self.assertLess(abs(it.esp["tp"] / limpio.esp["tp"] - 1), 0.005)
        self.assertEqual(it.esp["segmentos"], 22)
        self.assertEqual((it.qc["gap"], it.qc["spike"], it.qc["percent_good"], it.qc["qc_flag"]),
                         (qc.PASA, qc.PASA, qc.PASA, qc.PASA), it.qc)
        # A rare high crest, smooth as a wave is, more than 5 standard
        # deviations up: counted by the mean and standard deviation test,
        # kept as it was.
        z2 = z.copy()
        tiempo_s = np.arange(len(z)) / 10.0
        z2 -= 1.6 * np.exp(-0.5 * ((tiempo_s - 600.0) / 1.2) ** 2)   # heave is positive down
        it = self.intervalo(z2, vn, ve)
        self.assertGreater(np.sum(np.abs(z2 - np.mean(z2)) > 5 * np.std(z2)), 0)
        self.assertEqual(it.reparacion["reparadas_heave"], 0)
        np.testing.assert_array_equal(it.traza[1], z2)
        self.assertEqual(it.qc["mean_std"], qc.PASA)   # a few samples of 12000
        # Five velocities in a row are too many to make up: only the
        # direction loses the segments that hold them.
        vn2 = vn.copy()
        vn2[6000:6005] = np.nan
        it = self.intervalo(z, vn2, ve)
        self.assertEqual((it.esp["segmentos"], it.esp["segmentos_direccion"]), (22, 20))

    def test_cada_fallo_da_su_codigo(self):
        z, vn, ve = self.mar()
        ev = lambda z2=z, vn2=vn, ve2=ve, **fw: self.intervalo(z2, vn2, ve2, fw).qc
        z2, vn2, ve2 = z.copy(), vn.copy(), ve.copy()
        z2[3000:3040] = z2[3000]
        vn2[3000:3040] = vn2[3000]
        ve2[3000:3040] = ve2[3000]
        self.assertEqual(ev(z2, vn2, ve2)["flat_line"], qc.FALLA)              # 4 s stuck
        z2 = z.copy()
        z2[100] = 25.0
        r = ev(z2)
        self.assertEqual((r["range"], r["spike"]), (qc.SOSPECHOSO, qc.PASA))   # one sample, repaired
        z2 = z.copy()
        z2[4000:5000] = np.nan                                                 # 8 % missing in one piece
        r = ev(z2)
        self.assertEqual((r["gap"], r["percent_good"], r["qc_flag"]), (qc.SOSPECHOSO, qc.SOSPECHOSO, qc.SOSPECHOSO))
        z2 = z.copy()
        z2[2000:5000] = np.nan                                                 # 25 %
        r = ev(z2)
        self.assertEqual((r["gap"], r["percent_good"], r["qc_flag"]), (qc.FALLA, qc.FALLA, qc.FALLA))
        z2 = z.copy()
        z2[6000:] += 0.5                                                       # the mean jumps
        self.assertEqual(ev(z2)["segment_shift"], qc.FALLA)
        z2 = z + 1.0 * np.sin(2 * np.pi * 0.01 * np.arange(len(z)) / 10.0)   # a 100-s surge
        self.assertEqual(ev(z2)["low_frequency"], qc.FALLA)
        self.assertEqual(ev(z * 0.02)["bulk_range"], qc.SOSPECHOSO)           # Hm0 2 cm
        # Horizontal against vertical motion: 1 in deep water, a little more
        # in shallow water, twice that from a wrong velocity scale or a
        # snagged mooring (suspect only: the test has no fail).
        self.assertAlmostEqual(self.intervalo(z, vn, ve).esp["check_factor"], 1.0, delta=0.05)
        self.assertEqual(ev(z, vn * 1.2, ve * 1.2)["check_factor"], qc.PASA)
        r = ev(z, vn * 2.0, ve * 2.0)
        self.assertEqual((r["check_factor"], r["qc_flag"]), (qc.SOSPECHOSO, qc.SOSPECHOSO), r)
        self.assertEqual(ev(z, vn * 0.5, ve * 0.5)["check_factor"], qc.SOSPECHOSO)
        self.assertEqual(ev(z, vn * np.nan, ve)["check_factor"], qc.NO_EVALUADO)   # no velocities
        self.assertEqual(ev(heading_pct=70)["fw_quality"], qc.SOSPECHOSO)
        self.assertEqual(ev(align_pct=20)["fw_quality"], qc.FALLA)

    def test_rango_operativo_de_frecuencias(self):
        z, vn, ve = self.mar()
        tiempo_s = np.arange(len(z)) / 10.0
        op = lambda z2: self.intervalo(np.round(z2, 2), vn, ve).qc["operational_frequency"]
        # A hull or mooring ringing at 0.8 Hz, stronger than the sea: the
        # spectrum's peak lies outside the band the buoy follows the surface in.
        self.assertEqual(op(z + 0.5 * np.sin(2 * np.pi * 0.8 * tiempo_s)), qc.FALLA)
        # Motion just above 0.5 Hz of half the sea's variance, spread over
        # many frequencies: the peak is still the sea's, the rest is suspect.
        rnd = np.random.default_rng(3)
        ruido = sum(0.05 * np.sin(2 * np.pi * (fr * tiempo_s + rnd.random()))
                    for fr in rnd.uniform(0.52, 0.6, 20))
        self.assertEqual(op(z + ruido), qc.SOSPECHOSO)
        self.assertEqual(op(z + 0.3 * ruido), qc.PASA)
        # No spectrum (too few samples for one segment): not evaluated.
        z2 = z.copy()
        z2[1000:] = np.nan
        self.assertEqual(op(z2), qc.NO_EVALUADO)
        self.assertEqual(qc._frecuencia_operativa((np.arange(5.0), np.zeros(5))), qc.NO_EVALUADO)

    def test_la_boya_contra_el_espectro_no_suspende_el_intervalo(self):
        z, vn, ve = self.mar()
        ev = lambda **fw: self.intervalo(z, vn, ve, fw).qc
        C = qc.COMPARACION
        # The buoy's direction half a turn off, or its heights in another
        # unit: the comparison says so; the interval's own values still pass.
        for fw, codigo in ((dict(dir_ddeg=2100), qc.FALLA), (dict(dir_ddeg=720), qc.SOSPECHOSO),
                           (dict(h13_cm=170), qc.FALLA), (dict(h13_cm=40), qc.FALLA),
                           (dict(h13_cm=65), qc.SOSPECHOSO)):
            r = ev(**fw)
            self.assertEqual((r[C], r["qc_flag"]), (codigo, qc.PASA), fw)
        self.assertEqual(ev(olas=5, dir_ddeg=2100)[C], qc.NO_EVALUADO)
        self.assertEqual(ev(dir_ddeg=9999)[C], qc.PASA)   # no direction: only the heights compared


class TasaDeCambio(unittest.TestCase):
    """Each interval's bulk values against the interval before it."""

    def serie(self, valores, minutos=None, codigos=None):
        import datetime
        U = datetime.timezone.utc
        t0 = datetime.datetime(2027, 1, 1, tzinfo=U)
        ints = []
        for k, v in enumerate(valores):
            inicio = t0 + datetime.timedelta(minutes=(minutos[k] if minutos else 20 * k))
            it = analisis.Intervalo(inicio, inicio + datetime.timedelta(minutes=20))
            it.esp = dict(dict(hm0=1.0, tm02=8.0, dir_mean=30.0, spread=30.0), **v)
            c = codigos[k] if codigos else qc.PASA
            it.qc = dict({n: c for n in qc.NOMBRES}, qc_flag=c, rate_of_change=qc.NO_EVALUADO)
            ints.append(it)
        qc.tasa_de_cambio(ints)
        r = [(i.qc["rate_of_change"], i.qc["qc_flag"]) for i in ints]
        # The report runs it again as each day is added: the same codes.
        qc.tasa_de_cambio(ints)
        self.assertEqual([(i.qc["rate_of_change"], i.qc["qc_flag"]) for i in ints], r)
        return r

    def test_cada_valor_da_su_codigo_en_20_minutos(self):
        P, N, S, F = qc.PASA, qc.NO_EVALUADO, qc.SOSPECHOSO, qc.FALLA
        for ahora, codigo in ((dict(), P),
                              (dict(hm0=1.5), P),                  # 1.5 m/h
                              (dict(hm0=2.0), S),                  # 3 m/h
                              (dict(hm0=3.0), F),                  # 6 m/h
                              (dict(hm0=0.4), P),                  # 1.8 m/h down
                              (dict(tm02=10.0), P),                # 6 s/h
                              (dict(tm02=11.0), S),
                              (dict(tm02=14.0), F),
                              (dict(dir_mean=55.0), P),            # 75 degrees/h
                              (dict(dir_mean=80.0), S),
                              (dict(dir_mean=250.0), S),           # half a turn: suspect, never fail
                              (dict(dir_mean=80.0, spread=70.0), P),   # a spread sea: direction not judged
                              (dict(hm0=np.nan, tm02=np.nan, dir_mean=np.nan), N)):
            self.assertEqual(self.serie([dict(), ahora]), [(N, P), (codigo, codigo if codigo != N else P)], ahora)
        # A storm: 8 m to 9 m in 20 minutes is 3 m/h, an eighth of its height.
        self.assertEqual(self.serie([dict(hm0=8.0), dict(hm0=9.0)])[1][0], P)
        self.assertEqual(self.serie([dict(hm0=8.0), dict(hm0=12.0)])[1][0], S)
        # A calm: the direction of a 2-cm sea is not judged.
        self.assertEqual(self.serie([dict(hm0=0.02), dict(hm0=0.02, dir_mean=200.0)])[1][0], P)

    def test_sin_intervalo_anterior_valido_no_se_evalua(self):
        P, N, S, F, M = qc.PASA, qc.NO_EVALUADO, qc.SOSPECHOSO, qc.FALLA, qc.FALTA
        salto = [dict(), dict(hm0=3.0)]
        # After a gap of one interval, 40 minutes apart: not evaluated.
        self.assertEqual(self.serie(salto, minutos=[0, 40]), [(N, P), (N, P)])
        # Out of order on input: judged in time order.
        self.assertEqual(self.serie([dict(hm0=3.0), dict()], minutos=[20, 0]), [(F, F), (N, P)])
        # A failed or missing interval before it says nothing of this one;
        # a suspect one still does.
        self.assertEqual(self.serie(salto, codigos=[F, P]), [(N, F), (N, P)])
        self.assertEqual(self.serie(salto, codigos=[M, P]), [(M, M), (N, P)])
        self.assertEqual(self.serie(salto, codigos=[S, P]), [(N, S), (F, F)])
        # A missing interval stays missing.
        self.assertEqual(self.serie(salto, codigos=[P, M]), [(N, P), (M, M)])
        self.assertEqual(self.serie([]), [])
        # Only this test evaluated: its own code is the aggregate.
        self.assertEqual(self.serie(salto, codigos=[N, N]), [(N, N), (F, F)])


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
