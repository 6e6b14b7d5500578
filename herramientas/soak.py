#!/usr/bin/python3
"""A month at sea (make soak): the simulated buoy deployed for DAYS days, one
olas-sim run per stretch of SEGMENT hours (12 by default) on the same EEPROM and SD card, the
world's UTC going on from one stretch to the next. The sea changes with every
stretch (calm spells long enough for the no-wave reset, storms up to the height
limit), the oscillator is 150 ppm off, and faults come at seeded random times:
garbage and stray "$TOV03" frames on the telemetry link, corrupted and dropped
sensor frames, GPS outages of hours, power cuts (at any instant, in the middle
of a card write, in the middle of an EEPROM commit), the card pulled out and
put back, and a restart storm on one day.

Afterwards it checks, and prints as a table:
- no crash and no hang: every run ends normally and every reset is one the
  firmware meant (a deliberate stop) or an injected power cut;
- the card passes fsck.fat -n; every interval that ended while the card was in
  and writing was allowed has its ".res" record; no record is torn except at a
  power cut;
- the EEPROM image was valid at every boot after the first;
- the heap comes back to the same level at the start of every interval, and
  static data, stack and heap together fit the target's 32 KB;
- the internal clock was within a few seconds of UTC at the end of every
  stretch that ended with a fix.
"""

import argparse
import datetime
import json
import os
import random
import re
import shutil
import subprocess
import sys

RAIZ = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
INICIO = datetime.datetime(2026, 12, 7, 14, 30, 0)
RAM_OBJETIVO = 32 * 1024


def con_suma(cuerpo):
    x = 0
    for c in cuerpo.encode("latin-1"):
        x ^= c
    return "$%s*%02X" % (cuerpo, x)


def utc_texto(t):
    return t.strftime("%Y-%m-%dT%H:%M:%SZ")


class Tramo:
    """One olas-sim run and the faults planned for it."""

    def __init__(self, n, inicio, horas):
        self.n = n
        self.inicio = inicio
        self.horas = horas
        self.args = []
        self.cortes = []        # seconds into the stretch: power cuts of any kind
        self.fuera = []         # (t1, t2) card out
        self.sin_gps = []       # (t1, t2) no fix
        self.mar = ""
        self.tormenta = False


def longitudes_tramos(dias, horas_tramo):
    """Hours of each stretch: whole stretches, then what is left of the
    days (a soak shorter than one stretch is one short stretch)."""
    total_h = dias * 24.0
    enteros = int(total_h / horas_tramo + 1e-9)
    horas = [horas_tramo] * enteros
    resto = total_h - enteros * horas_tramo
    if resto * 3600 >= 600:
        horas.append(resto)
    return horas


def asegurar_fallos(tramos, semilla):
    """A soak short enough to draw no power cut in an EEPROM commit, no
    pulled card or no cut in a card write gets one of each in its longest
    stretch, at seeded times, so that every fault is still tried."""
    if not tramos:
        return
    rnd = random.Random(semilla * 7919 + 1)
    t = max(tramos, key=lambda x: x.horas)
    dur = t.horas * 3600
    if not any("--eeprom-power-cut" in x.args for x in tramos):
        c = rnd.uniform(dur * 0.2, dur * 0.4)
        t.args += ["--eeprom-power-cut", "%.3f:%d" % (c, rnd.randrange(0, 272))]
        t.cortes.append(c)
    if not any("--card-power-cut" in x.args for x in tramos):
        c = rnd.uniform(dur * 0.45, dur * 0.55)
        t.cortes.append(c)
        t.args += ["--card-power-cut", "%.3f" % c, "--card-power-cut-bytes", str(rnd.randrange(1, 512))]
    if not any(x.fuera for x in tramos):
        a = rnd.uniform(dur * 0.6, dur * 0.7)
        b = a + rnd.uniform(60, min(900, dur * 0.1))
        t.fuera.append((a, b))
        t.args += ["--card-out", "%d-%d" % (a, b)]
    if not any("--power-cut" in x.args for x in tramos):
        c = rnd.uniform(dur * 0.75, dur * 0.85)
        t.cortes.append(c)
        t.args += ["--power-cut", "%.6f" % c]


def asegurar_olas(tramos, semilla):
    """The record check needs intervals with waves outside the restart storm:
    a soak so short that every such stretch drew a flat calm gets an
    ordinary sea in the first of them."""
    otros = [t for t in tramos if not t.tormenta]
    if not otros or any(not t.mar.startswith("hs=0,") for t in otros):
        return
    rnd = random.Random(semilla * 104729 + 3)
    t = otros[0]
    nuevo = "hs=%.1f,tp=%.1f,dir=%d,spread=%d,gamma=%.1f,seed=%d" % (
        rnd.uniform(0.5, 3), rnd.uniform(5, 12), rnd.randrange(360), rnd.randrange(0, 40), rnd.uniform(1, 5), t.n + 1)
    t.args[t.args.index(t.mar)] = nuevo
    t.mar = nuevo


def planificar(dias, horas_tramo, semilla, carpeta):
    rnd = random.Random(semilla)
    tramos = []
    longitudes = longitudes_tramos(dias, horas_tramo)
    total = len(longitudes)
    dia_tormenta = min(1, dias - 1) if dias >= 2 else 0
    for n in range(total):
        t = Tramo(n, INICIO + datetime.timedelta(hours=n * horas_tramo), longitudes[n])
        dur = longitudes[n] * 3600
        r = rnd.random()
        if r < 0.2:
            t.mar = "hs=0,tp=8,seed=%d" % (n + 1)  # flat calm: no waves at all
        elif r < 0.3:
            t.mar = "hs=%.1f,tp=%.1f,dir=%d,spread=30,gamma=3.3,seed=%d" % (
                rnd.uniform(9, 13), rnd.uniform(13, 16), rnd.randrange(360), n + 1)
        else:
            t.mar = "hs=%.1f,tp=%.1f,dir=%d,spread=%d,gamma=%.1f,seed=%d" % (
                rnd.uniform(0.3, 4), rnd.uniform(5, 12), rnd.randrange(360), rnd.randrange(0, 40),
                rnd.uniform(1, 5), n + 1)
        t.args += ["--sea", t.mar, "--sensor-corrupt", "0.0005", "--sensor-drop", "0.0005",
                   "--sensor-fault-seed", str(semilla * 1000 + n)]
        # GPS: an outage of hours now and then.
        if rnd.random() < 0.25:
            a = rnd.uniform(600, dur / 2)
            b = min(dur - 60, a + rnd.uniform(3600, 3 * 3600))
            t.sin_gps.append((a, b))
            t.args += ["--gps", "outage=%d-%d" % (a, b)]
        # Power cuts at any instant, in a card write, in an EEPROM commit.
        for _ in range(rnd.choice([0, 0, 1, 2])):
            c = rnd.uniform(120, dur - 120)
            t.cortes.append(c)
            t.args += ["--power-cut", "%.6f" % c]
        if rnd.random() < 0.3:
            c = rnd.uniform(120, dur - 120)
            t.cortes.append(c)
            t.args += ["--card-power-cut", "%.3f" % c, "--card-power-cut-bytes", str(rnd.randrange(1, 512))]
        if rnd.random() < 0.2:
            c = rnd.uniform(120, dur - 120)
            t.args += ["--eeprom-power-cut", "%.3f:%d" % (c, rnd.randrange(0, 272))]
            t.cortes.append(c)
        # The card pulled out and put back.
        if rnd.random() < 0.15:
            a = rnd.uniform(300, dur - 1200)
            b = a + rnd.uniform(60, 900)
            t.fuera.append((a, b))
            t.args += ["--card-out", "%d-%d" % (a, b)]
        # A restart storm: more starts in one day than the daily budget.
        if n == dia_tormenta * int(24 / horas_tramo) + 1:
            t.tormenta = True
            for k in range(34):
                c = 1800 + 45 * k
                t.cortes.append(c)
                t.args += ["--power-cut", str(c)]
        # The telemetry link: garbage and stray frames, and harmless questions.
        guion = []
        for _ in range(rnd.randrange(5, 15)):
            s = rnd.uniform(30, dur - 30)
            tipo = rnd.random()
            if tipo < 0.4:
                basura = "".join(chr(rnd.randrange(33, 127)) for _ in range(rnd.randrange(1, 60)))
                guion.append("%.1f %s*" % (s, basura.replace("*", "+").replace("#", "%")))
            elif tipo < 0.7:
                guion.append("%.1f $TOV03,%d,%d*%02X" % (s, rnd.randrange(0, 20), rnd.randrange(0, 40),
                                                          rnd.randrange(256)))
            else:
                guion.append("%.1f %s" % (s, con_suma(rnd.choice(
                    ["TOV03,1,8", "TOV03,1,4", "TOV03,1,5", "TOV03,2", "TOV03,1,6", "TOV03,1,17", "TOV03,1,22"]))))
        ruta_guion = os.path.join(carpeta, "tramo%03d.tov" % n)
        with open(ruta_guion, "w") as f:
            f.write("\n".join(sorted(guion, key=lambda l: float(l.split()[0]))) + "\n")
        t.args += ["--tov-script", ruta_guion]
        tramos.append(t)
    if dias < 2:
        # Too short for the restart storm's day or to draw every fault.
        asegurar_olas(tramos, semilla)
        asegurar_fallos(tramos, semilla)
    return tramos


def desplazamiento_particion(imagen):
    with open(imagen, "rb") as f:
        mbr = f.read(512)
    if mbr[510:512] == b"\x55\xaa" and mbr[450] in (0x01, 0x04, 0x06, 0x0B, 0x0C, 0x0E):
        return int.from_bytes(mbr[454:458], "little") * 512
    return 0


# What fsck.fat reports of a card whose writes were cut by power failures:
# clusters already taken in the FAT that no directory entry reached yet. FAT
# has no journal, so a cut in the middle of an append leaves them; they hold
# nothing any file refers to, and no file is damaged.
RE_FSCK_CORTES = re.compile(r"^(Reclaimed \d+ unused clusters?.*|Free cluster summary wrong.*|  Auto-correcting\.|"
                            r"Leaving filesystem unchanged\.|fsck\.fat .*|.*: \d+ files, \d+/\d+ clusters|)$")


def fsck_limpio(imagen):
    off = desplazamiento_particion(imagen)
    if off:
        # fsck.fat works on a file: the partition is copied out sparsely.
        parte = imagen + ".part"
        subprocess.run(["dd", "if=" + imagen, "of=" + parte, "bs=512", "skip=%d" % (off // 512), "conv=sparse",
                        "status=none"], check=True)
        r = subprocess.run(["fsck.fat", "-n", parte], capture_output=True, text=True)
        os.unlink(parte)
    else:
        r = subprocess.run(["fsck.fat", "-n", imagen], capture_output=True, text=True)
    return r.returncode == 0, r.stdout + r.stderr


def registros_tarjeta(imagen):
    """Every line of every .res file on the card."""
    off = desplazamiento_particion(imagen)
    img = "%s@@%d" % (imagen, off)
    env = dict(os.environ, MTOOLS_SKIP_CHECK="1")
    r = subprocess.run(["mdir", "-/", "-b", "-i", img, "::/"], capture_output=True, text=True, env=env)
    lineas = []
    for ruta in r.stdout.split():
        if ruta.lower().endswith(".res"):
            t = subprocess.run(["mtype", "-i", img, ruta], capture_output=True, env=env).stdout
            lineas += t.decode("latin-1").split("\n")
    return lineas, r.stdout


RE_RES_TELE = re.compile(r"\$RES,([0-9,]+)\*([0-9A-F]{2})\r\n")
RE_RES_CARD = re.compile(r"^(\d{2}),(\d{2}),(\d{2}),\d{2},\d{2},(\d{5}(?: \d{3,4})+)\r?$")


def tamano_estatico():
    try:
        sys.path.insert(0, os.path.join(RAIZ, "herramientas"))
        import importlib.util
        spec = importlib.util.spec_from_file_location("bench", os.path.join(RAIZ, "herramientas", "bench.py"))
        bench = importlib.util.module_from_spec(spec)
        spec.loader.exec_module(bench)
        return bench.tamanos().get("static_ram_bytes")
    except Exception:  # noqa: BLE001 - the size is reported, not required
        return None


def imagen_ram_estatica(elf):
    """Static RAM of the linked image, from the size report beside it."""
    try:
        return json.load(open(os.path.join(os.path.dirname(elf), "size.json")))["static_ram_bytes"]
    except (OSError, KeyError, ValueError):
        return None


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--days", type=float, default=30)
    # A stretch is one boot: long enough for the clock-rate correction to
    # reach its GPS comparison (the third fix after a start, up to 8 h).
    p.add_argument("--segment-hours", type=float, default=12)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--sim", default=os.path.join(RAIZ, "build", "olas-sim"))
    p.add_argument("--out", default=os.path.join(RAIZ, "build", "soak"))
    p.add_argument("--board", choices=["host", "samd21"], default="host",
                   help="the firmware on the simulated board, or the flashable image on the emulated chip")
    p.add_argument("--firmware", default=os.path.join(RAIZ, "build-samd21", "olas.elf"),
                   help="the image for --board samd21 (make firmware)")
    a = p.parse_args()

    shutil.rmtree(a.out, ignore_errors=True)
    os.makedirs(a.out)
    eeprom = os.path.join(a.out, "eeprom.bin")
    tarjeta = os.path.join(a.out, "card.img")
    tramos = planificar(a.days, a.segment_hours, a.seed, a.out)

    resultados = []
    fallos_ejecucion = []
    for t in tramos:
        carpeta = os.path.join(a.out, "tramo%03d" % t.n)
        args = [a.sim, "--no-progress", "--out", carpeta, "--eeprom", eeprom, "--card", tarjeta,
                "--card-size", "4096", "--utc", utc_texto(t.inicio), "--duration", "%gh" % t.horas,
                "--xtal-ppm", "150"] + t.args
        if a.board == "samd21":
            args += ["--board", "samd21", "--firmware", a.firmware]
        r = subprocess.run(args, capture_output=True, text=True)
        if r.returncode != 0:
            fallos_ejecucion.append("stretch %d exited %d: %s" % (t.n, r.returncode, r.stderr[-300:]))
            continue
        resumen = json.load(open(os.path.join(carpeta, "summary.json")))
        debug = open(os.path.join(carpeta, "debug.txt"), "rb").read().decode("latin-1")
        tele = open(os.path.join(carpeta, "telemetry.txt"), "rb").read().decode("latin-1")
        resultados.append((t, resumen, debug, tele))
        sys.stderr.write("\rsoak: stretch %d of %d" % (t.n + 1, len(tramos)))
    sys.stderr.write("\n")

    filas = []

    def fila(nombre, ok, detalle):
        filas.append((nombre, ok, detalle))

    # No crash, no hang; only meant resets.
    causas = {}
    inesperados = 0
    for t, r, _, _ in resultados:
        for w in r["watchdog_resets"]:
            causas[w["cause"]] = causas.get(w["cause"], 0) + 1
            if w["cause"] not in ("firmware_stop", "power_cut"):
                inesperados += 1
    fila("every stretch ran to its end", not fallos_ejecucion,
         "%d of %d" % (len(resultados), len(tramos)) + ("; " + fallos_ejecucion[0] if fallos_ejecucion else ""))
    fila("every reset meant or injected", inesperados == 0,
         ", ".join("%s %d" % kv for kv in sorted(causas.items())) or "none")
    paradas = sum(c["cause"] == "firmware_stop" for _, r, _, _ in resultados for c in r["watchdog_resets"])
    motivos = sum(d.count("RESET GENERAL POR FALTA DE OLAS (LOOP)") + d.count("error: ")
                  for _, _, d, _ in resultados)
    fila("each deliberate stop has its reason", paradas <= motivos + sum(
        tele.count("$OLA,01,01*") for _, _, _, tele in resultados),
        "%d stops, %d no-wave or card-error lines" % (paradas, motivos))

    # The card.
    if os.path.exists(tarjeta):
        limpio, salida = fsck_limpio(tarjeta)
        perdidos = sum(int(x) for x in re.findall(r"Reclaimed (\d+) unused clusters?", salida))
        solo_cortes = all(RE_FSCK_CORTES.match(l) for l in salida.splitlines())
        hubo_cortes = any(t.cortes or t.fuera for t, _, _, _ in resultados)
        fila("card passes fsck.fat -n", limpio or (solo_cortes and hubo_cortes),
             "clean" if limpio else ("%d lost clusters of writes cut by power cuts, nothing else" % perdidos
                                     if solo_cortes else salida.strip().splitlines()[-1]))
        lineas, listado = registros_tarjeta(tarjeta)
        registros = set()
        rotos = 0
        for l in lineas:
            if not l.strip():
                continue
            m = RE_RES_CARD.match(l)
            if m:
                registros.add((m.group(1), m.group(2), m.group(3), m.group(4).replace(" ", ",")))
            else:
                rotos += 1
        cortes = sum(len(t.cortes) for t, _, _, _ in resultados)
        fila("no torn record but at a power cut", rotos <= cortes, "%d malformed lines, %d cuts" % (rotos, cortes))
        esperados = faltan = 0
        ejemplo = ""
        for t, r, d, tele in resultados:
            if t.tormenta or r.get("sd_card", {}).get("present") is False:
                continue
            # A card pulled out is found missing at the next write and started
            # again once a minute until it is back; the interval that ends in
            # that time has nowhere to go.
            excluir = [(c - 90, c + 90) for c in t.cortes] + [(x - 90, y + 150) for x, y in t.fuera]
            excluir.append((t.horas * 3600 - 90, 1e12))
            for m in RE_RES_TELE.finditer(tele):
                campos = m.group(1).split(",")
                if int(campos[5]) == 0:
                    continue  # an interval without waves has no card record
                if int(campos[2]) == 0:
                    continue  # closed by sensor time before the clock had a date: no card work yet
                hh, mm = int(campos[3]), int(campos[4])
                fin = datetime.datetime(2000 + int(campos[2]), max(1, int(campos[1])), max(1, int(campos[0])), hh, mm)
                s = (fin - t.inicio).total_seconds()
                if any(x <= s <= y for x, y in excluir) or "Prohibida la escritura" in d:
                    continue
                esperados += 1
                clave = (campos[0], campos[1], campos[2], ",".join(campos[5:]))
                if clave not in registros:
                    faltan += 1
                    ejemplo = ejemplo or "%s (stretch %d)" % (m.group(0).strip(), t.n)
        fila("every interval has its .res record", faltan == 0 and esperados > 0,
             "%d of %d found%s" % (esperados - faltan, esperados, ("; missing e.g. " + ejemplo) if ejemplo else ""))
        dias = sorted(set(re.findall(r"::/(\d{6})/", listado)))
        fila("day directories on the card", len(dias) >= int(a.days), "%d: %s" % (len(dias), " ".join(dias[:5])))
    else:
        fila("card passes fsck.fat -n", False, "no card image")

    # The EEPROM at every boot.
    invalidos = sum(d.count("IsValid.  Inizializada: 0") for _, _, d, _ in resultados)
    arranques = sum(r["boots"] for _, r, _, _ in resultados)
    fila("EEPROM valid at every boot after the first", invalidos <= 1,
         "%d boots, %d found it never written" % (arranques, invalidos))

    # Memory.
    niveles = sorted({v for _, r, _, _ in resultados for v in r.get("heap_at_interval_start", [])})
    rechazos = sum(r.get("heap_refused_requests", 0) for _, r, _, _ in resultados)
    if a.board == "samd21":
        # On the chip the figure is newlib-nano's break, the heap's high-water
        # mark since the boot: it never comes down, so the check is that it
        # stays within the room between the static data and the stack, and
        # that no request was refused.
        sala = min((r["samd21"]["heap"]["limit_bytes"] for _, r, _, _ in resultados), default=0)
        fila("heap within its room at every interval", bool(niveles) and max(niveles) <= sala and rechazos == 0,
             "break at interval starts %d..%d of %d bytes, %d refused" % (
                 min(niveles) if niveles else 0, max(niveles) if niveles else 0, sala, rechazos))
    else:
        fila("heap back to its level at every interval", len(niveles) <= 1 and rechazos == 0,
             "levels %s bytes, %d refused" % (niveles, rechazos))
    monticulo = max((r.get("heap_peak_bytes") or 0 for _, r, _, _ in resultados), default=0)
    if a.board == "samd21":
        # The chip's own figures: the deepest stack painted in its RAM, the
        # heap's break, and the linked image's static RAM.
        pila = max((r["samd21"]["stack"]["deepest_bytes"] for _, r, _, _ in resultados), default=0)
        reserva = all(r["samd21"]["stack"]["within_reserve"] for _, r, _, _ in resultados)
        estatico = imagen_ram_estatica(a.firmware)
        total = (estatico or 0) + pila + monticulo
        fila("static + stack + heap within 32 KB", reserva and estatico is not None and total <= RAM_OBJETIVO,
             "%s + %d (deepest, %s the reserve) + %d = %d bytes" % (
                 estatico, pila, "within" if reserva else "BEYOND", monticulo, total))
    else:
        pila = max((r.get("stack_peak_bytes_host") or 0 for _, r, _, _ in resultados), default=0)
        estatico = tamano_estatico()
        if estatico is not None:
            total = estatico + pila + monticulo
            fila("static + stack + heap within 32 KB", total <= RAM_OBJETIVO,
                 "%d + %d (host frames) + %d = %d bytes" % (estatico, pila, monticulo, total))
        else:
            fila("static + stack + heap within 32 KB", pila + monticulo <= RAM_OBJETIVO,
                 "stack %d (host frames) + heap %d bytes; static not measured" % (pila, monticulo))

    # The clock.
    peores = []
    for t, r, _, _ in resultados:
        fin = t.horas * 3600
        if any(x <= fin <= y + 600 for x, y in t.sin_gps) or any(c > fin - 900 for c in t.cortes):
            continue
        off = r.get("clock", {}).get("offset_s")
        if off is not None:
            peores.append(abs(off))
    # Every resynchronisation sets the clock from the fix, and the tick is
    # measured against the sensor after every start to within some tens of
    # ppm: between two fixes the clock drifts well under a second.
    fila("clock within a few seconds of UTC with a fix", bool(peores) and max(peores) <= 3,
         "worst %.1f s over %d stretches" % (max(peores) if peores else float("nan"), len(peores)))

    ancho = max(len(f[0]) for f in filas)
    print("%-*s  %-4s  %s" % (ancho, "check (%g days, seed %d, %s)" % (a.days, a.seed, a.board), "", "measured"))
    for nombre, ok, detalle in filas:
        print("%-*s  %-4s  %s" % (ancho, nombre, "ok" if ok else "FAIL", detalle))
    with open(os.path.join(a.out, "soak.json"), "w") as f:
        json.dump([{"check": n, "ok": ok, "measured": d} for n, ok, d in filas], f, indent=2)
    return 0 if all(ok for _, ok, _ in filas) else 1


if __name__ == "__main__":
    sys.exit(main())
