"""An operator's serial client talks to the simulated buoy through its
pseudo-terminal: olas-sim --tov-pty --realtime, pyserial on the other end."""
import os
import subprocess
import sys
import tempfile
import time

import serial  # python3-serial


def con_suma(cuerpo):
    x = 0
    for c in cuerpo.encode():
        x ^= c
    return "$%s*%02X\r\n" % (cuerpo, x)


def tov03(herramienta, ruta, *argumentos):
    r = subprocess.run(["/usr/bin/python3", herramienta, "--port", ruta, "--timeout", "4"] + list(argumentos),
                       capture_output=True, text=True, timeout=60, stdin=subprocess.DEVNULL)
    return r.returncode, r.stdout, r.stderr


def cambio_de_velocidad(herramienta, ruta):
    """The link's rate changed by command: the reply at the new rate, the buoy
    found again by probing, reached at the new rate and no longer at the old
    one (the pseudo-terminal's line garbles a mismatch as a real one would)."""
    pasos = [
        # Without a terminal and without --yes the change is not sent.
        (("set-baud-code", "1"), 2, None),
        (("set-baud-code", "1", "--yes"), 0, "9600"),
        (("--baud", "auto", "status"), 0, "total_starts"),
        (("--baud", "9600", "starts"), 0, "value"),
        (("--baud", "38400", "starts"), 1, None),
        # Back to the factory rate; a date the buoy's calendar lacks is not sent.
        (("--baud", "9600", "set-baud-code", "5", "--yes"), 0, "38400"),
        (("raw", "4,26,02,29,12,00,00"), 2, "29 February"),
        (("--baud", "38400", "set-clock", "2026-12-07T14:31:00"), 0, "accepted"),
    ]
    for argumentos, esperado, texto in pasos:
        estado, salida, error = tov03(herramienta, ruta, *argumentos)
        if estado != esperado or (texto and texto not in salida + error) or "Traceback" in error:
            print("tov03 %s: status %d (expected %d)\n%s%s" % (" ".join(argumentos), estado, esperado, salida, error))
            return 1
        print("tov03 %s: status %d" % (" ".join(argumentos), estado))
    return 0


def main():
    sim = sys.argv[1]
    herramienta = os.path.join(os.path.dirname(__file__), "..", "..", "herramientas", "tov03")
    if sys.argv[2:] == ["samd21"]:
        return en_el_chip(sim, herramienta)
    carpeta = tempfile.mkdtemp(prefix="olas_pty_")
    proceso = subprocess.Popen([sim, "--no-progress", "--tov-pty", "--realtime", "--duration", "120s",
                                "--out", carpeta], stdout=subprocess.PIPE, text=True)
    try:
        linea = proceso.stdout.readline()
        if "telemetry link on " not in linea:
            print("no pseudo-terminal announced: %r" % linea)
            return 1
        ruta = linea.strip().split("telemetry link on ")[1]
        with serial.Serial(ruta, 38400, timeout=0.2) as enlace:
            time.sleep(0.5)  # the buoy's start-up and banner
            enlace.reset_input_buffer()
            enlace.write(con_suma("TOV03,1,5").encode())
            recibido = b""
            limite = time.monotonic() + 15
            while time.monotonic() < limite and b"\r\n" not in recibido.partition(b"$OLA,")[2]:
                recibido += enlace.read(256)
            inicio = recibido.find(b"$OLA,01,01,5,")
            respuesta = recibido[inicio:].split(b"\r\n")[0].decode() if inicio >= 0 else ""
            # The stored count of starts, with a valid checksum.
            if not respuesta or con_suma(respuesta[1:respuesta.index("*")]).strip() != respuesta:
                print("reply not seen: %r" % recibido)
                return 1
        print("reply over the pseudo-terminal: %s" % respuesta)
        # The operator's tool on the same link: the status, decoded.
        r = subprocess.run(["/usr/bin/python3", herramienta, "--port", ruta, "--timeout", "10", "status"],
                           capture_output=True, text=True, timeout=30)
        if r.returncode != 0 or "total_starts" not in r.stdout:
            print("tov03 status failed: %s %s" % (r.stdout, r.stderr))
            return 1
        print(r.stdout)
        return cambio_de_velocidad(herramienta, ruta)
    finally:
        proceso.terminate()
        proceso.wait(timeout=10)


def en_el_chip(sim, herramienta):
    """The same change of rate on the emulated chip, whose USART takes its rate
    from the BAUD register the runtime programs (skipped without the image)."""
    imagen = os.path.join(os.path.dirname(__file__), "..", "..", "build-samd21", "olas.elf")
    if not os.path.exists(imagen):
        print("no image at %s: the chip's part is skipped" % imagen)
        return 0
    carpeta = tempfile.mkdtemp(prefix="olas_pty_chip_")
    proceso = subprocess.Popen([sim, "--no-progress", "--board", "samd21", "--firmware", imagen, "--tov-pty",
                                "--duration", "90s", "--out", carpeta], stdout=subprocess.PIPE, text=True)
    try:
        linea = proceso.stdout.readline()
        if "telemetry link on " not in linea:
            print("no pseudo-terminal announced on the chip: %r" % linea)
            return 1
        ruta = linea.strip().split("telemetry link on ")[1]
        # A frame sent while the chip still starts (its serial port not yet
        # open) is lost, as on a real buoy: ask until it answers, the way an
        # operator would, within a minute of the wall clock.
        for _ in range(6):
            estado, salida, error = tov03(herramienta, ruta, "--timeout", "10", "starts")
            if estado == 0:
                break
        else:
            print("chip: the buoy never answered on the pseudo-terminal\n%s%s" % (salida, error))
            return 1
        print("chip: tov03 starts: status 0")
        pasos = [(("set-baud-code", "1", "--yes"), 0),
                 (("--baud", "auto", "starts"), 0), (("--baud", "38400", "starts"), 1)]
        for argumentos, esperado in pasos:
            estado, salida, error = tov03(herramienta, ruta, *argumentos)
            if estado != esperado or "Traceback" in error:
                print("chip: tov03 %s: status %d (expected %d)\n%s%s" % (" ".join(argumentos), estado, esperado,
                                                                         salida, error))
                return 1
            print("chip: tov03 %s: status %d" % (" ".join(argumentos), estado))
        return 0
    finally:
        proceso.terminate()
        proceso.wait(timeout=10)


if __name__ == "__main__":
    sys.exit(main())
