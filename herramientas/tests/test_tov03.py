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


def ejecutar(argumentos, entrada_terminal=False):
    """tov03's main with its outputs captured: (status, stdout, stderr)."""
    salida, error = io.StringIO(), io.StringIO()
    viejos = tov03.sys.stdout, tov03.sys.stderr, tov03.sys.stdin
    tov03.sys.stdout, tov03.sys.stderr = salida, error
    tov03.sys.stdin = Terminal("n\n") if entrada_terminal else io.StringIO("")
    try:
        estado = tov03.main(argumentos)
    finally:
        tov03.sys.stdout, tov03.sys.stderr, tov03.sys.stdin = viejos
    return estado, salida.getvalue(), error.getvalue()


class Terminal(io.StringIO):
    def isatty(self):
        return True


class BoyaFalsa:
    """The buoy at the far end of a serial line, as pyserial shows it: it reads
    a frame at the rate it listens at, answers at the rate it then has, and a
    mismatch garbles the bytes both ways. `respuestas` maps a frame's body to
    the reply's body; a rate change (13,code) moves the buoy before it answers."""

    def __init__(self, respuestas, baudios=38400):
        self.respuestas, self.baudios_boya = respuestas, baudios
        self.baudrate, self.pendiente, self.recibidas = 38400, b"", []
        self.perder = 0  # frames lost on the way, from the next one

    def __enter__(self):
        return self

    def __exit__(self, *a):
        return False

    def reset_input_buffer(self):
        self.pendiente = b""

    def flush(self):
        pass

    def write(self, datos):
        if self.baudrate != self.baudios_boya or self.perder > 0:
            self.perder -= 1
            return  # garbled: the buoy drops it
        cuerpo = datos.decode().strip()[1:].split("*")[0]
        self.recibidas.append(cuerpo)
        campos = cuerpo.split(",")[1:]
        if campos[0] == "13" and len(campos) > 1 and int(campos[1]) <= 8:
            self.baudios_boya = tov03.BAUD_CODES[int(campos[1])]
        respuesta = self.respuestas.get(",".join(campos))
        if respuesta is not None:
            self.pendiente += con_suma(respuesta).encode()

    def read(self, n):
        datos, self.pendiente = self.pendiente[:n], self.pendiente[n:]
        if self.baudrate != self.baudios_boya:
            return bytes((b * 7 + 3) & 0xFF for b in datos)
        return datos


class EnlaceConLaBoya(unittest.TestCase):
    """Exit statuses, confirmations and rate changes against a buoy on a line."""

    def setUp(self):
        self.boya = BoyaFalsa({"1,5": "OLA,01,01,5,00042", "1,8": "OLA,01,01,8,07,12,26,14,35,012,00042,07,12,26,14,31,1,2",
                               "4,26,12,07,14,30,00": "OLA,04,01", "13,1": "OLA,13,01", "13,5": "OLA,13,01",
                               "9,9": "OLA,09,01", "1,13": "OLA,01,01,13,"})
        self.aperturas = []
        self.viejo_abrir, self.viejo_dormir = tov03.open_port, tov03.time.sleep

        def abrir(puerto, baudios):
            if puerto != "/dev/boya":
                raise tov03.PortError("cannot open %s: No such file or directory" % puerto)
            self.aperturas.append(baudios)
            self.boya.baudrate = baudios
            return self.boya
        tov03.open_port = abrir
        tov03.time.sleep = lambda s: None

    def tearDown(self):
        tov03.open_port, tov03.time.sleep = self.viejo_abrir, self.viejo_dormir

    def test_aceptada_rechazada_y_sin_respuesta(self):
        self.assertEqual(ejecutar(["--port", "/dev/boya", "starts"])[0], 0)
        self.boya.respuestas["4,26,12,07,14,30,00"] = "OLA,04,33"
        estado, _, error = ejecutar(["--port", "/dev/boya", "set-clock", "2026-12-07T14:30:00"])
        self.assertEqual(estado, 3)
        self.assertIn("result 33", error)
        estado, _, error = ejecutar(["--port", "/dev/boya", "--timeout", "0.05", "file-limit"])
        self.assertEqual(estado, 1)
        self.assertIn("no reply", error)
        # A reply with a wrong checksum, or to another group, is not an answer.
        self.boya.respuestas["1,5"] = "OLA,01,01,5,00042"
        buena = con_suma("OLA,01,01,5,00042")
        self.assertEqual(tov03.judge(None, [1, 5], buena[:-4] + "00\r\n")[0], 1)
        self.assertEqual(tov03.judge(None, [1, 5], con_suma("OLA,02,01"))[0], 1)
        self.assertEqual(tov03.judge(None, [1, 1], con_suma("OLA,01,02"))[0], 0)

    def test_uso_malo_sale_con_dos_sin_traza(self):
        for argumentos in (["status"], ["--port", "/dev/nada", "status"], ["--port", "/dev/boya", "status2"],
                           ["--port", "/dev/boya", "--baud", "12345", "status"],
                           ["--port", "/dev/boya", "set-file-limit", "-5"], ["decode"], ["frame"]):
            estado, salida, error = ejecutar(argumentos)
            self.assertEqual(estado, 2, argumentos)
            self.assertNotIn("Traceback", error)
            self.assertEqual(error.count("\n"), 1, error)
        self.assertEqual(self.boya.recibidas, [])

    def test_confirmacion_de_lo_que_cambia_el_enlace_o_borra(self):
        for orden in (["format-sd"], ["set-baud-code", "1"], ["secondary-defaults"], ["reset"],
                      ["set-starts", "3"], ["erase-format-sd"], ["set-settings", ",,,,,,,,,,,,,"]):
            estado, _, error = ejecutar(["--port", "/dev/boya"] + orden)
            self.assertEqual(estado, 2, orden)
            self.assertIn("--yes", error)
            # At a terminal the operator is asked; "n" sends nothing.
            estado, _, error = ejecutar(["--port", "/dev/boya"] + orden, entrada_terminal=True)
            self.assertEqual(estado, 2, orden)
            self.assertIn("[y/N]", error)
        self.assertEqual(self.boya.recibidas, [])
        estado, _, error = ejecutar(["--port", "/dev/boya", "--yes", "format-sd"])
        self.assertEqual(estado, 0)
        self.assertIn("start counters", tov03.BY_NAME["format-sd"].confirm)

    def test_cambio_de_velocidad_y_busqueda(self):
        estado, _, error = ejecutar(["--port", "/dev/boya", "set-baud-code", "1", "--yes"])
        self.assertEqual(estado, 0, error)
        self.assertIn("--baud 9600", error)
        self.assertEqual(self.boya.baudios_boya, 9600)
        # The old rate no longer reaches it; auto tries the rates until it answers.
        self.assertEqual(ejecutar(["--port", "/dev/boya", "--timeout", "0.05", "starts"])[0], 1)
        self.aperturas.clear()
        estado, salida, error = ejecutar(["--port", "/dev/boya", "--baud", "auto", "--timeout", "0.05", "starts"])
        self.assertEqual(estado, 0, error)
        self.assertIn("00042", salida)
        self.assertEqual(self.aperturas, [38400, 9600, 9600])
        self.assertEqual(ejecutar(["--port", "/dev/boya", "--baud", "9600", "status"])[0], 0)
        # Nowhere to be found: status 1 after the nine rates.
        self.boya.baudios_boya = 1200
        self.aperturas.clear()
        self.assertEqual(ejecutar(["--port", "/dev/boya", "--baud", "auto", "--timeout", "0.05", "status"])[0], 1)
        self.assertEqual(sorted(self.aperturas), sorted(tov03.BAUD_CODES))

    def test_cambio_de_velocidad_sin_respuesta_legible(self):
        # The reply lost on the way: the tool asks at the new rate, then the old.
        self.boya.respuestas["13,1"] = None
        estado, _, error = ejecutar(["--port", "/dev/boya", "--timeout", "0.05", "set-baud-code", "1", "--yes"])
        self.assertEqual(estado, 0, error)
        self.assertIn("the change holds", error)
        self.assertEqual(self.boya.baudios_boya, 9600)
        # The frame lost on the way (the buoy still at its rate): said so.
        self.boya.perder = 1
        estado, _, error = ejecutar(["--port", "/dev/boya", "--baud", "9600", "--timeout", "0.05",
                                     "set-baud-code", "5", "--yes"])
        self.assertEqual(estado, 1, error)
        self.assertIn("still listens at 9600", error)
        self.assertEqual(self.boya.baudios_boya, 9600)

    def test_borrado_de_la_imagen_en_cuatro_pasos(self):
        # The buoy's arming counter: 30 arms or disarms, 31 steps; at 4 it erases.
        estado_boya = {"armado": 1}  # left armed by an earlier try: the first 30 disarms
        original = self.boya.write

        def escribir(datos):
            cuerpo = datos.decode().strip()[1:].split("*")[0]
            orden = cuerpo.split(",")[1:]
            if orden == ["1", "30"]:
                estado_boya["armado"] = 0 if estado_boya["armado"] else 1
            elif orden == ["1", "31"] and estado_boya["armado"]:
                estado_boya["armado"] = (estado_boya["armado"] + 1) % 4
                estado_boya["borrada"] = estado_boya["armado"] == 0
            self.boya.respuestas[",".join(orden)] = "OLA,01,01,%s,%d" % (orden[1], estado_boya["armado"])
            original(datos)
        self.boya.write = escribir
        self.assertEqual(ejecutar(["--port", "/dev/boya", "erase-image"])[0], 2)
        self.assertNotIn("borrada", estado_boya)
        estado, _, error = ejecutar(["--port", "/dev/boya", "--yes", "erase-image"])
        self.assertEqual(estado, 0, error)
        self.assertTrue(estado_boya["borrada"])
        self.assertEqual(self.boya.recibidas, ["TOV03,1,30"] * 2 + ["TOV03,1,31"] * 3)

    def test_raw_dice_que_orden_es(self):
        estado, _, error = ejecutar(["--port", "/dev/boya", "raw", "9,9"])
        self.assertEqual(estado, 0)
        self.assertIn("set-file-limit 9", error)
        self.assertEqual(ejecutar(["--port", "/dev/boya", "raw", "9,-5"])[0], 2)
        self.assertEqual(ejecutar(["--port", "/dev/boya", "raw", "1,27"])[0], 2)
        self.assertEqual(ejecutar(["--port", "/dev/boya", "raw", "13,1"])[0], 2)  # asks, as set-baud-code


class ValoresComprobados(unittest.TestCase):
    def test_rangos_y_tipos(self):
        malos = [("set-file-limit", "-5"), ("set-file-limit", "65531"), ("set-file-limit", "1e3"),
                 ("set-baud-code", "9"), ("set-tick-period", "46499"), ("set-tick-period", "49001"),
                 ("set-sd-permission", "2"), ("set-app-stream", "１"), ("set-starts", ""),
                 ("set-clock", "2026-02-29T00:00:00"), ("set-clock", "2026-04-31T00:00:00"),
                 ("set-clock", "2018-12-07T00:00:00"), ("set-clock", "2026-12-07T24:00:00"),
                 ("set-clock", "2026-12-07"), ("status", "1")]
        for orden, valor in malos:
            with self.assertRaises(ValueError, msg=(orden, valor)):
                tov03.fields_for(orden, [valor])
        self.assertEqual(tov03.fields_for("set-tick-period", ["46500"]), [11, 46500])
        self.assertEqual(tov03.fields_for("set-file-limit", ["0065"]), [9, 65])

    def test_los_catorce_ajustes(self):
        with self.assertRaises(ValueError):
            tov03.fields_for("set-settings", ["1,2,3"])
        for malo in ("25,,,,,,,,,,,,,", ",,,,,,,25,,,,,,", ",,,,,,,,,,,,,65536", ",,,,3001,,,,,,,,,",
                     ",,,,200,100,,,,,,,,", ",,1,,,,,,,,,,,"):
            with self.assertRaises(ValueError, msg=malo):
                tov03.fields_for("set-settings", [malo])
        campos = tov03.fields_for("set-settings", ["4,1,0,0,3000,3,90,20,1,0,1,2,3,65535"])
        self.assertEqual(campos[0], 3)
        self.assertEqual(len(campos), 15)
        self.assertEqual(tov03.compose(tov03.fields_for("set-settings", [",,,,,,,60,,,,,,"])),
                         con_suma("TOV03,3,,,,,,,,60,,,,,,"))

    def test_la_lista_nombra_cada_orden(self):
        texto = tov03.commands_text()
        for c in tov03.COMMANDS:
            self.assertIn(c.name, texto)
        for codigo, _ in tov03.RESULT_CODES:
            self.assertIn(codigo, texto)
        estado, salida, _ = ejecutar(["commands"])
        self.assertEqual(estado, 0)
        self.assertEqual(salida, texto)
        # Every command of the buoy's groups, and group 1's commands, have a name.
        grupos = {c.fields[0] for c in tov03.COMMANDS}
        self.assertEqual(grupos, set(range(1, 16)))
        del_grupo_1 = {c.fields[1] for c in tov03.COMMANDS if c.fields[0] == 1}
        self.assertEqual(del_grupo_1, set(range(1, 24)) | {30, 31})


class DecodificarFicheros(unittest.TestCase):
    def fichero(self, contenido):
        f = tempfile.NamedTemporaryFile("wb", delete=False)
        f.write(contenido)
        f.close()
        self.addCleanup(os.unlink, f.name)
        return f.name

    def test_lo_que_no_es_un_registro_de_telemetria(self):
        imagen = self.fichero(b"\xeb\x58\x90MSDOS5.0" + bytes(70000))
        estado, salida, error = ejecutar(["decode", imagen])
        self.assertEqual((estado, salida), (2, ""))
        self.assertIn("not a telemetry log", error)
        texto = self.fichero(b"\r\n****\r\n\tSensor de olas\r\nnothing else\r\n")
        estado, _, error = ejecutar(["decode", texto])
        self.assertEqual(estado, 2)
        self.assertIn("no telemetry record", error)
        estado, _, error = ejecutar(["decode", texto + ".falta"])
        self.assertEqual(estado, 2)
        self.assertNotIn("Traceback", error)

    def test_lineas_largas_y_ruido_entre_registros(self):
        # Noise without line ends between records (a unit at another rate) is
        # skipped in bounded pieces; the records after it are still read.
        ruido = bytes((i * 37 + 11) % 251 + 1 for i in range(300000)).replace(b"\n", b" ").replace(b"$", b" ")
        ruido = ruido.replace(b"#", b" ")
        cuerpo = "RES,07,12,26,14,40,00123,0310,0201,0255,0150,112,098,087,095,081,2715,0123,100,100"
        nombre = self.fichero(con_suma(cuerpo).encode() + ruido + b"\r\n" + con_suma(cuerpo).encode())
        estado, salida, _ = ejecutar(["decode", nombre])
        self.assertEqual(estado, 0)
        self.assertEqual(salida.count("interval"), 2)
        # The link's record carries the interval's end.
        self.assertIn("end_hour", salida)


if __name__ == "__main__":
    unittest.main()
