"""The card report's quality checks on synthetic seas: repairs, each
test's code, and the rate of change between intervals."""

import os
import sys
import unittest

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from informe_olas import analisis, qc  # noqa: E402
from mares_sinteticos import mar_sintetico  # noqa: E402


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


if __name__ == "__main__":
    unittest.main()
