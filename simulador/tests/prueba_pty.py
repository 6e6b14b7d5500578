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


def main():
    sim = sys.argv[1]
    carpeta = tempfile.mkdtemp(prefix="olas_pty_")
    proceso = subprocess.Popen([sim, "--no-progress", "--tov-pty", "--realtime", "--duration", "40s",
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
        herramienta = os.path.join(os.path.dirname(__file__), "..", "..", "herramientas", "tov03")
        r = subprocess.run(["/usr/bin/python3", herramienta, "--port", ruta, "--timeout", "10", "status"],
                           capture_output=True, text=True, timeout=30)
        if r.returncode != 0 or "total_starts" not in r.stdout:
            print("tov03 status failed: %s %s" % (r.stdout, r.stderr))
            return 1
        print(r.stdout)
        return 0
    finally:
        proceso.terminate()
        proceso.wait(timeout=10)


if __name__ == "__main__":
    sys.exit(main())
