"""The operator's tool: frames it composes and records it decodes."""
import importlib.machinery
import importlib.util
import io
import os
import tempfile
import unittest

RUTA = os.path.join(os.path.dirname(__file__), "..", "tov03")
cargador = importlib.machinery.SourceFileLoader("tov03", RUTA)
spec = importlib.util.spec_from_loader("tov03", cargador)
tov03 = importlib.util.module_from_spec(spec)
cargador.exec_module(tov03)


def con_suma(cuerpo):
    return "$%s*%02X\r\n" % (cuerpo, tov03.checksum(cuerpo))


class Composicion(unittest.TestCase):
    def test_ordenes_legibles(self):
        self.assertEqual(tov03.compose(tov03.fields_for("status", [])), con_suma("TOV03,1,8"))
        self.assertEqual(tov03.compose(tov03.fields_for("settings", [])), con_suma("TOV03,2"))
        self.assertEqual(tov03.compose(tov03.fields_for("raw", ["1,5"])), con_suma("TOV03,1,5"))
        self.assertEqual(tov03.compose(tov03.fields_for("set-baud-code", ["8"])), con_suma("TOV03,13,8"))

    def test_hora_en_el_orden_del_buoy(self):
        self.assertEqual(tov03.compose(tov03.fields_for("set-clock", ["2026-12-07T14:30:05"])),
                         con_suma("TOV03,4,26,12,07,14,30,05"))

    def test_ordenes_malas(self):
        for orden, args in (("status2", []), ("set-clock", ["mañana"]), ("set-starts", []), ("raw", [])):
            with self.assertRaises(ValueError):
                tov03.fields_for(orden, args)

    def test_suma_conocida(self):
        # "$TOV03,1,5": the XOR of "TOV03,1,5".
        x = 0
        for c in b"TOV03,1,5":
            x ^= c
        self.assertEqual(tov03.checksum("TOV03,1,5"), x)


class Decodificacion(unittest.TestCase):
    def test_respuesta_de_arranques(self):
        tipo, campos, ok = tov03.decode_line(con_suma("OLA,01,01,5,00042"))
        self.assertEqual(tipo, "reply")
        self.assertTrue(ok)
        self.assertIn(("command", "5"), campos)
        self.assertIn(("value", "00042"), campos)

    def test_estado(self):
        cuerpo = "OLA,01,01,8,07,12,26,14,35,012,00042,07,12,26,14,31,1,2"
        tipo, campos, ok = tov03.decode_line(con_suma(cuerpo))
        self.assertTrue(ok)
        d = dict(campos)
        self.assertEqual(d["total_starts"], "00042")
        self.assertEqual(d["sd_ok"], "2")
        self.assertEqual(d["last_wave_minute"], "31")

    def test_registro_res_de_un_metodo(self):
        cuerpo = "RES,07,12,26,14,40,00123,0310,0201,0255,0150,112,098,087,095,081,2715,0123,100,100"
        self.assertEqual(len(cuerpo) - 4, 78)
        tipo, campos, ok = tov03.decode_line(con_suma(cuerpo))
        self.assertEqual(tipo, "interval")
        self.assertTrue(ok)
        d = dict(campos)
        self.assertEqual(d["waves"], "00123")
        self.assertEqual(d["H1/3_cm"], "0201")
        self.assertEqual(d["dir_mean_ddeg"], "2715")
        self.assertEqual(d["align_ok_pct"], "100")

    def test_registro_gps_del_ejemplo(self):
        cuerpo = "GPS,24,05,17,12,34,56,08,43,21,12345N,008,45,67890W,01,00,01"
        tipo, campos, ok = tov03.decode_line(con_suma(cuerpo))
        self.assertEqual(tipo, "gps")
        d = dict(campos)
        self.assertEqual(d["lon_frac_hemisphere"], "67890W")
        self.assertEqual(d["vdop"], "01")

    def test_suma_mala_o_minusculas(self):
        linea = con_suma("OLA,01,01,5,00042")
        mala = linea[:-4] + ("00" if linea[-4:-2] != "00" else "01") + "\r\n"
        self.assertFalse(tov03.decode_line(mala)[2])
        minusculas = "$GPS,1*%02x\r\n" % tov03.checksum("GPS,1")
        if minusculas != minusculas.upper():
            self.assertFalse(tov03.decode_line(minusculas)[2])

    def test_lineas_de_ola_y_punto(self):
        self.assertEqual(tov03.decode_line("#OLA,12,153,72,2715\r\n")[1][1], ("height_cm", "153"))
        self.assertEqual(tov03.decode_line("#PTO,-12.34,271\r\n")[1][0], ("heave_cm", "-12.34"))
        self.assertIsNone(tov03.decode_line("*** banner ***"))

    def test_fichero_capturado(self):
        texto = ("\r\n****\r\n\tSensor de olas\r\n#PTO,3.00,10\r\n" + con_suma("GPS,24,05,17,12,34,56,08,43,21,12345N,008,45,67890W,01,00,01")
                 + "#OLA,1,100,80,900\r\n" + con_suma("OLA,02,04,0,0,00000,03000,03,90,20,1,0,001,002,003,65535"))
        with tempfile.NamedTemporaryFile("wb", delete=False) as f:
            f.write(texto.encode("latin-1"))
        try:
            salida = io.StringIO()
            viejo = tov03.sys.stdout
            tov03.sys.stdout = salida
            try:
                n = tov03.decode_file(f.name)
            finally:
                tov03.sys.stdout = viejo
        finally:
            os.unlink(f.name)
        self.assertEqual(n, 4)
        self.assertIn("max_height_cm", salida.getvalue())
        self.assertNotIn("BAD CHECKSUM", salida.getvalue())


if __name__ == "__main__":
    unittest.main()
