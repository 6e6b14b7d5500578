#!/usr/bin/python3
"""Benchmarks of the buoy's firmware (make bench), printed as a table and
written as JSON:

- simulation speed: simulated seconds per wall-clock second of a 24-hour
  deployment at 10 Hz with GPS and card;
- instructions per sensor epoch in the firmware's own code, counted with
  valgrind's callgrind (repeatable on any machine), split by module;
- the flashable image on the emulated ATSAMD21 (olas-sim --board samd21):
  speed of an emulated hour at 10 Hz with GPS and card against real time,
  instructions per sensor epoch by module, the CPU's busy fraction, the
  deepest stack and the heap's peak;
- static RAM (.data + .bss) and code size of the firmware modules compiled for
  the Cortex-M0+ with -Os, against the target's 32 KB and 256 KB;
- the linked image of make firmware (build-samd21/size.json): flash and RAM by
  part, the stack reserve and the heap room beside the worst interval's need.
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

RAIZ = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
MODULOS = ["principal", "sensor", "waves", "modulo_gps", "tov03", "virtual_e2prom", "gestion_sd",
           "formateo_sd", "comunicaciones_pc", "declaraciones"]
RAM_OBJETIVO = 32 * 1024
FLASH_OBJETIVO = 256 * 1024


def opciones_despliegue(sim, carpeta, duracion):
    """Options of a deployment with every device the simulator offers."""
    ayuda = subprocess.run([sim, "--help"], capture_output=True, text=True).stdout
    args = [sim, "--no-progress", "--out", carpeta, "--duration", duracion]
    if "--sea" in ayuda:
        args += ["--sea", "hs=2,tp=9,dir=270,spread=20,gamma=3.3,seed=7", "--sensor-rate", "10"]
    if "--gps" in ayuda:
        args += ["--gps", "fix-after=40"]
    if "--card" in ayuda:
        args += ["--card", os.path.join(carpeta, "card.img"), "--card-size", "4096"]
    return args


def velocidad(sim, horas):
    carpeta = tempfile.mkdtemp(prefix="olas_bench_")
    try:
        args = opciones_despliegue(sim, carpeta, "%gh" % horas)
        t0 = time.monotonic()
        subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
        real = time.monotonic() - t0
        resumen = json.load(open(os.path.join(carpeta, "summary.json")))
        return {"simulated_s": resumen["virtual_seconds"], "wall_s": round(real, 3),
                "speedup": round(resumen["virtual_seconds"] / real, 1), "options": " ".join(args[1:])}
    finally:
        shutil.rmtree(carpeta, ignore_errors=True)


def instrucciones(sim, segundos):
    if not shutil.which("valgrind"):
        return {"error": "valgrind not found"}
    carpeta = tempfile.mkdtemp(prefix="olas_callgrind_")
    try:
        salida = os.path.join(carpeta, "callgrind.out")
        args = ["valgrind", "--tool=callgrind", "--callgrind-out-file=" + salida] + \
            opciones_despliegue(sim, carpeta, "%ds" % segundos)
        subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        resumen = json.load(open(os.path.join(carpeta, "summary.json")))
        anotado = subprocess.run(["callgrind_annotate", "--threshold=100", "--inclusive=no", salida],
                                 capture_output=True, text=True, check=True).stdout
        por_modulo = {m: 0 for m in MODULOS}
        for linea in anotado.splitlines():
            m = re.match(r"\s*([\d,]+)\s+\(\s*[\d.]+%\)\s+(\S+?):", linea) or re.match(r"\s*([\d,]+)\s+(\S+?):", linea)
            if not m:
                continue
            ir = int(m.group(1).replace(",", ""))
            fichero = "/" + m.group(2).lstrip("/")
            for mod in MODULOS:
                if "/%s/" % mod in fichero and "/tests/" not in fichero:
                    por_modulo[mod] += ir
                    break
        epocas = resumen.get("sensor", {}).get("epochs_sent", 0)
        total = sum(por_modulo.values())
        res = {"simulated_s": resumen["virtual_seconds"], "epochs": epocas, "firmware_instructions": total,
               "by_module": por_modulo}
        if epocas:
            res["instructions_per_epoch"] = round(total / epocas)
            res["per_epoch_by_module"] = {m: round(v / epocas) for m, v in por_modulo.items()}
        return res
    finally:
        shutil.rmtree(carpeta, ignore_errors=True)


def chip(sim, elf, horas):
    """One emulated hour (by default) of the flashable image on the emulated
    ATSAMD21 at 10 Hz with GPS and card: wall time, the ratio to real time,
    and the chip's own figures from summary.json (virtual time is the
    instruction count at 48 MHz: one instruction, one cycle)."""
    if not os.path.exists(elf):
        return {"error": "no image at %s (make firmware)" % elf}
    carpeta = tempfile.mkdtemp(prefix="olas_samd21_")
    try:
        args = opciones_despliegue(sim, carpeta, "%gh" % horas) + ["--board", "samd21", "--firmware", elf]
        t0 = time.monotonic()
        subprocess.run(args, check=True, stdout=subprocess.DEVNULL)
        real = time.monotonic() - t0
        r = json.load(open(os.path.join(carpeta, "summary.json")))
        s = r["samd21"]
        pe = s["per_epoch"]
        return {"simulated_s": r["virtual_seconds"], "wall_s": round(real, 3),
                "speedup": round(r["virtual_seconds"] / real, 1), "options": " ".join(args[1:]),
                "instructions": s["instructions"], "cpu_busy_fraction": s["cpu_busy_fraction"],
                "epochs": pe["epochs"], "instructions_per_epoch": pe["instructions_per_epoch"],
                "per_epoch_by_module": pe["by_module"], "per_epoch_by_function": pe["by_function"],
                "deepest_stack_bytes": s["stack"]["deepest_bytes"], "stack_reserve_bytes": s["stack"]["reserve_bytes"],
                "stack_within_reserve": s["stack"]["within_reserve"], "heap_peak_bytes": s["heap"]["peak_bytes"],
                "heap_limit_bytes": s["heap"]["limit_bytes"], "heap_refused": s["heap"]["refused_requests"],
                "core_runs": s["core_runs"], "exceptions_taken": s["exceptions_taken"],
                "boots": r["boots"]}
    finally:
        shutil.rmtree(carpeta, ignore_errors=True)


FUNCIONES_MOSTRADAS = 15


def legible(simbolo):
    """A C++ symbol as the source names it (c++filt), without its arguments."""
    try:
        r = subprocess.run(["c++filt", simbolo], capture_output=True, text=True, timeout=10).stdout.strip()
    except (OSError, subprocess.SubprocessError):
        return simbolo
    r = (r or simbolo).replace("(anonymous namespace)::", "")
    corte = r.find("(")
    return r[:corte] if corte > 0 else r


def funciones_mas_caras(por_funcion, n):
    """The n functions with the most instructions per epoch, with their names
    made readable."""
    return [(legible(f), v) for f, v in sorted(por_funcion.items(), key=lambda x: -x[1])[:n] if v]


def tamanos():
    cxx = shutil.which("arm-none-eabi-g++")
    size = shutil.which("arm-none-eabi-size")
    if not cxx or not size:
        return {"error": "arm-none-eabi-g++ not found"}
    carpeta = tempfile.mkdtemp(prefix="olas_arm_")
    try:
        por_modulo = {}
        for mod in MODULOS:
            objs = []
            for f in sorted(os.listdir(os.path.join(RAIZ, mod))):
                if f.endswith(".cpp"):
                    obj = os.path.join(carpeta, mod + "_" + f + ".o")
                    subprocess.run([cxx, "-mcpu=cortex-m0plus", "-mthumb", "-Os", "-std=c++17", "-fno-exceptions",
                                    "-fno-rtti", "-ffunction-sections", "-fdata-sections", "-I", RAIZ, "-c",
                                    os.path.join(RAIZ, mod, f), "-o", obj], check=True)
                    objs.append(obj)
            text = data = bss = 0
            if objs:
                out = subprocess.run([size, "-t"] + objs, capture_output=True, text=True, check=True).stdout
                campos = out.strip().splitlines()[-1].split()
                text, data, bss = int(campos[0]), int(campos[1]), int(campos[2])
            por_modulo[mod] = {"text": text, "data": data, "bss": bss}
        codigo = sum(v["text"] + v["data"] for v in por_modulo.values())
        ram = sum(v["data"] + v["bss"] for v in por_modulo.values())
        return {"by_module": por_modulo, "code_bytes": codigo, "static_ram_bytes": ram,
                "flash_limit": FLASH_OBJETIVO, "ram_limit": RAM_OBJETIVO,
                "code_pct": round(100.0 * codigo / FLASH_OBJETIVO, 1),
                "ram_pct": round(100.0 * ram / RAM_OBJETIVO, 1)}
    finally:
        shutil.rmtree(carpeta, ignore_errors=True)


def main():
    p = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("--sim", default=os.path.join(RAIZ, "build", "olas-sim"))
    p.add_argument("--hours", type=float, default=24.0, help="length of the speed run")
    p.add_argument("--callgrind-seconds", type=int, default=120, help="virtual seconds under callgrind")
    p.add_argument("--json", default=os.path.join(RAIZ, "build", "bench.json"))
    p.add_argument("--image", default=os.path.join(RAIZ, "build-samd21", "size.json"),
                   help="the size report of make firmware")
    p.add_argument("--elf", default=os.path.join(RAIZ, "build-samd21", "olas.elf"),
                   help="the image run on the emulated chip")
    p.add_argument("--chip-hours", type=float, default=1.0, help="length of the emulated chip's run")
    a = p.parse_args()

    resultado = {"speed": velocidad(a.sim, a.hours), "instructions": instrucciones(a.sim, a.callgrind_seconds),
                 "target_size": tamanos(), "samd21": chip(a.sim, a.elf, a.chip_hours)}
    if os.path.exists(a.image):
        resultado["image"] = json.load(open(a.image))
    with open(a.json, "w") as f:
        json.dump(resultado, f, indent=2)

    v, i, t = resultado["speed"], resultado["instructions"], resultado["target_size"]
    print("%-44s %s" % ("benchmark", "result"))
    print("%-44s %.0f simulated s / wall s (%.0f s in %.1f s)" % ("simulation speed (%g h deployment)" % a.hours,
                                                                 v["speedup"], v["simulated_s"], v["wall_s"]))
    if "instructions_per_epoch" in i:
        print("%-44s %d" % ("firmware instructions per sensor epoch", i["instructions_per_epoch"]))
        for m, n in i["per_epoch_by_module"].items():
            if n:
                print("%-44s %d" % ("  " + m, n))
    elif "firmware_instructions" in i:
        print("%-44s %d (no sensor epochs in the run)" % ("firmware instructions", i["firmware_instructions"]))
    else:
        print("%-44s %s" % ("firmware instructions", i.get("error")))
    if "code_bytes" in t:
        print("%-44s %d of %d bytes (%.1f %%)" % ("code size for the Cortex-M0+ (-Os)", t["code_bytes"], FLASH_OBJETIVO, t["code_pct"]))
        print("%-44s %d of %d bytes (%.1f %%)" % ("static RAM (.data + .bss)", t["static_ram_bytes"], RAM_OBJETIVO, t["ram_pct"]))
        for m, s in t["by_module"].items():
            print("%-44s text %6d  data %5d  bss %6d" % ("  " + m, s["text"], s["data"], s["bss"]))
    else:
        print("%-44s %s" % ("target size", t.get("error")))
    c = resultado["samd21"]
    if "speedup" in c:
        print("%-44s %.1f simulated s / wall s (%.0f s in %.1f s)" % (
            "emulated ATSAMD21 speed (%g h, 10 Hz, GPS, card)" % a.chip_hours, c["speedup"], c["simulated_s"],
            c["wall_s"]))
        print("%-44s %d (1 instruction = 1 cycle at 48 MHz)" % ("  image instructions per sensor epoch",
                                                                c["instructions_per_epoch"]))
        for m, n in sorted(c["per_epoch_by_module"].items(), key=lambda x: -x[1]):
            if n:
                print("%-44s %d" % ("    " + m, n))
        print("%-44s %s" % ("  the functions that cost most, per epoch", ""))
        for f, n in funciones_mas_caras(c["per_epoch_by_function"], FUNCIONES_MOSTRADAS):
            print("%-44s %d" % ("    " + f, n))
        print("%-44s %.2f %%" % ("  CPU busy (not asleep in WFI)", 100.0 * c["cpu_busy_fraction"]))
        print("%-44s %d of %d bytes%s" % ("  deepest stack", c["deepest_stack_bytes"], c["stack_reserve_bytes"],
                                         "" if c["stack_within_reserve"] else "  ** beyond the reserve **"))
        print("%-44s %d of %d bytes, %d refused" % ("  heap peak", c["heap_peak_bytes"], c["heap_limit_bytes"],
                                                   c["heap_refused"]))
    else:
        print("%-44s %s" % ("emulated ATSAMD21", c.get("error")))
    img = resultado.get("image")
    if img:
        print("%-44s %d of %d bytes budget" % ("linked image: flash", img["flash_bytes"], img["flash_budget_bytes"]))
        print("%-44s %d of %d bytes" % ("linked image: static RAM", img["static_ram_bytes"], img["ram_bytes"]))
        for fila in img["by_part"]:
            print("%-44s flash %6d  RAM %6d" % ("  " + fila["part"], fila["flash_bytes"], fila["ram_bytes"]))
        print("%-44s %d (static analysis: %d)" % ("linked image: stack reserve", img["stack_reserve_bytes"],
                                                 img["stack_static_analysis"]["worst_bytes"]))
        print("%-44s %d (worst interval needs %d)" % ("linked image: heap room", img["heap_room_bytes"],
                                                      img["heap_need"]["need_bytes"]))
    print("JSON: %s" % a.json)
    return 0


if __name__ == "__main__":
    sys.exit(main())
