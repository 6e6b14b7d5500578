"""The closing summary of make run, on a run's folder and on folders without one."""
import importlib.machinery
import importlib.util
import json
import os
import tempfile
import unittest

RUTA = os.path.join(os.path.dirname(__file__), "..", "resumen_ejecucion.py")
cargador = importlib.machinery.SourceFileLoader("resumen_ejecucion", RUTA)
spec = importlib.util.spec_from_loader("resumen_ejecucion", cargador)
resumen = importlib.util.module_from_spec(spec)
cargador.exec_module(resumen)


class ResumenDeUnaEjecucion(unittest.TestCase):
    def setUp(self):
        self.carpeta = tempfile.mkdtemp(prefix="resumen_")

    def escribir(self, nombre, contenido):
        with open(os.path.join(self.carpeta, nombre), "w") as f:
            f.write(contenido)

    def test_lo_que_corrio_sus_ficheros_y_sus_cuentas(self):
        j = {"board": "host", "virtual_seconds": 1800.0, "utc_start": "2026-12-07T14:30:00Z", "boots": 2,
             "watchdog_resets": [{"time_s": 610.5, "cause": "power_cut"}],
             "uart_sent_bytes": {"Serial": 793}, "uart_received_bytes": {"Serial3": 9561},
             "uart_dropped_bytes": {"Serial3": 345945},
             "uart_dropped_bytes_by_cause": {"Serial3": {"receive_buffer": 345940, "hardware": 5}},
             "eeprom_commits": 11, "clock": {"offset_s": None}}
        self.escribir("summary.json", json.dumps(j))
        self.escribir("telemetry.txt", "$RES,1*00\r\n$GPS,1*00\r\n$RES,2*00\r\n")
        self.escribir("card.img", "")
        texto = resumen.summary_text(self.carpeta)
        self.assertIn("30 min of virtual time", texto)
        self.assertIn("power_cut at 610 s", texto)
        self.assertIn("2 interval record(s)", texto)
        self.assertIn("card.img", texto)
        self.assertNotIn("eeprom.bin", texto)  # only the files that are there
        self.assertIn("receive buffer full: 345940, lost by the hardware: 5", texto)
        self.assertIn("GPS port a large count is expected", texto)
        self.assertIn("never set", texto)

    def test_sin_resumen_o_con_uno_roto(self):
        self.assertIn("No summary", resumen.summary_text(self.carpeta))
        self.escribir("summary.json", "[1, 2")
        self.assertIn("No summary", resumen.summary_text(self.carpeta))
        self.escribir("summary.json", "[1, 2]")
        self.assertIn("not a summary", resumen.summary_text(self.carpeta))
        self.escribir("summary.json", json.dumps({"watchdog_resets": [3], "uart_dropped_bytes": 7}))
        self.assertIn("What ran", resumen.summary_text(self.carpeta))


if __name__ == "__main__":
    unittest.main()
