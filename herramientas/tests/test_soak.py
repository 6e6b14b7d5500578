"""The soak's plan: stretches for any number of days, and short soaks that
still get waves and every fault."""
import importlib.util
import os
import tempfile
import unittest

RUTA = os.path.join(os.path.dirname(__file__), "..", "soak.py")
spec = importlib.util.spec_from_file_location("soak", RUTA)
soak = importlib.util.module_from_spec(spec)
spec.loader.exec_module(soak)


def plan(dias, semilla=1):
    with tempfile.TemporaryDirectory() as d:
        return soak.planificar(dias, 12, semilla, d)


class Tramos(unittest.TestCase):
    def test_dias_enteros_fracciones_y_restos(self):
        self.assertEqual(soak.longitudes_tramos(30, 12), [12] * 60)
        self.assertEqual(soak.longitudes_tramos(2, 12), [12] * 4)
        self.assertEqual([round(h, 6) for h in soak.longitudes_tramos(0.1, 12)], [2.4])
        self.assertEqual(soak.longitudes_tramos(2.25, 12), [12] * 4 + [6.0])
        # A remainder under ten minutes is no stretch of its own.
        self.assertEqual(soak.longitudes_tramos(1 + 5 / 1440, 12), [12, 12])
        self.assertEqual(soak.longitudes_tramos(0, 12), [])

    def test_cada_tramo_sigue_al_anterior(self):
        tramos = plan(2.25)
        self.assertEqual(len(tramos), 5)
        for a, b in zip(tramos, tramos[1:]):
            self.assertEqual((b.inicio - a.inicio).total_seconds(), a.horas * 3600)
        self.assertEqual(tramos[-1].horas, 6.0)


class SoakCorto(unittest.TestCase):
    def test_olas_y_cada_fallo_en_menos_de_dos_dias(self):
        for dias in (0.1, 0.5, 1, 1.5):
            for semilla in (1, 2, 3, 4):
                with self.subTest(dias=dias, semilla=semilla):
                    tramos = plan(dias, semilla)
                    args = [x for t in tramos for x in t.args]
                    for opcion in ("--eeprom-power-cut", "--card-power-cut", "--card-out", "--power-cut"):
                        self.assertIn(opcion, args)
                    self.assertTrue(any(not t.tormenta and not t.mar.startswith("hs=0,") for t in tramos))
                    for t in tramos:
                        # Every fault inside its stretch, and every cut counted.
                        for c in t.cortes:
                            self.assertTrue(0 < c < t.horas * 3600)
                        for a, b in t.fuera:
                            self.assertTrue(0 < a < b < t.horas * 3600)
                        self.assertEqual(t.args.count("--sea"), 1)
                        self.assertEqual(t.args[t.args.index("--sea") + 1], t.mar)

    def test_un_mar_en_calma_se_cambia_solo_si_no_queda_otro(self):
        t = soak.Tramo(0, soak.INICIO, 12)
        t.mar = "hs=0,tp=8,seed=1"
        t.args = ["--sea", t.mar]
        soak.asegurar_olas([t], 1)
        self.assertFalse(t.mar.startswith("hs=0,"))
        self.assertEqual(t.args, ["--sea", t.mar])
        calma = soak.Tramo(0, soak.INICIO, 12)
        calma.mar = "hs=0,tp=8,seed=1"
        calma.args = ["--sea", calma.mar]
        olas = soak.Tramo(1, soak.INICIO, 12)
        olas.mar = "hs=1.0,tp=8.0,dir=10,spread=10,gamma=3.3,seed=2"
        olas.args = ["--sea", olas.mar]
        soak.asegurar_olas([calma, olas], 1)
        self.assertEqual(calma.mar, "hs=0,tp=8,seed=1")


if __name__ == "__main__":
    unittest.main()
