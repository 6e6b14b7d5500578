"""The card report's spectra and directions on synthetic seas: bulk
parameters, first- and second-order moments, the check factor, degrees of
freedom and the maximum entropy estimate."""

import math
import os
import sys
import unittest

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from informe_olas import espectro, qc  # noqa: E402
from mares_sinteticos import analizar, mar_sintetico  # noqa: E402


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


if __name__ == "__main__":
    unittest.main()
