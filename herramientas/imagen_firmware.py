#!/usr/bin/python3
"""Checks and measures the firmware image for the ATSAMD21J18A (make firmware).

Checks, each a failure (exit status 1):
- the vector table sits at 0x2000, its first word (the initial stack pointer)
  is the top of RAM, 0x20008000, and the reset vector and every other vector
  in use point into the image, in Thumb state;
- every loadable segment lies in the application's flash or in RAM (the
  bootloader and the EEPROM rows are never written by a loader);
- every input of the link is a firmware module, plataforma/ (its portable part
  or samd21/), or a library of the arm-none-eabi toolchain;
- the budgets: flash at most 128 KB, and the heap room (RAM left by static
  data and the stack reserve) at least the heap the worst averaging interval
  needs.

Measures, printed as a table and written to size.json beside the ELF: flash
and static RAM by module, the stack reserve, the heap room and the heap need.

The heap need: the four per-wave arrays of an interval (heights, periods and
the two directions, 16-bit each) grow by one element per wave through
realloc; a 60-minute interval of 3-second waves has 1200 waves. The sequence
of requests is replayed by the C library's own allocator (newlib-nano's,
linked into a small probe, herramientas/monticulo_nano/sonda.c, run under
Unicorn); the highest break it reaches is the need. A model of that allocator
is printed beside it as a cross-check, and stands in if the probe cannot run:
blocks of the request rounded up to 4 bytes
plus 8 bytes of header and alignment, first fit over a free list kept in
address order with neighbours merged, a split block giving its tail, a
realloc that keeps the block while the new size fits and is more than half
of it and otherwise allocates, copies and frees, and new memory from the
heap's break when nothing fits. The path strings the card service holds
(six) and the blocks the C library's number conversions keep are allocated
after the arrays' first elements, and between two waves a temporary path
string is built and released, as the card service does for its records. Two
intervals run, the second among the holes the first left; the need is the
highest break reached.
"""

import argparse
import json
import os
import re
import struct
import subprocess
import sys

RAIZ = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
MODULOS = ["principal", "sensor", "waves", "modulo_gps", "tov03", "virtual_e2prom", "gestion_sd",
           "formateo_sd", "comunicaciones_pc", "declaraciones"]
ORIGEN_APLICACION = 0x2000
TOPE_RAM = 0x20008000
PRESUPUESTO_FLASH = 128 * 1024
SECCIONES_FLASH = {".text", ".ARM.extab", ".ARM.exidx"}
SECCIONES_RAM = {".data", ".bss"}

# The worst interval.
MINUTOS_INTERVALO = 60
SEGUNDOS_OLA = 3
VECTORES_POR_OLA = 4
BYTES_ELEMENTO = 2
CADENAS_RETENIDAS = 6
BYTES_CADENA_RUTA = 17  # "/YYMMDD/HHMM.raw" and its terminator
# The C library's number conversions (printf's %f, strtof) keep their big-number
# blocks once made: a table of free lists and a block of each size used.
BLOQUES_CONVERSION = [64, 24, 28, 36, 52]


# ---------------------------------------------------------------- heap model

class MonticuloNano:
    """newlib-nano's malloc, free and realloc as a model: returns addresses
    relative to the heap base and keeps the highest break reached."""

    CABECERA = 8
    MINIMO = 8

    def __init__(self):
        self.libres = []  # (start, size), in address order
        self.ocupados = {}  # start -> size
        self.ruptura = 0

    @classmethod
    def tamano_bloque(cls, n):
        return max(((n + 3) & ~3) + cls.CABECERA, cls.MINIMO)

    def malloc(self, n):
        t = self.tamano_bloque(n)
        for i, (ini, tam) in enumerate(self.libres):
            if tam >= t:
                resto = tam - t
                if resto >= self.MINIMO:
                    self.libres[i] = (ini, resto)
                    bloque = ini + resto
                else:
                    del self.libres[i]
                    t = tam
                    bloque = ini
                self.ocupados[bloque] = t
                return bloque
        bloque = self.ruptura
        self.ruptura += t
        self.ocupados[bloque] = t
        return bloque

    def free(self, bloque):
        tam = self.ocupados.pop(bloque)
        self.libres.append((bloque, tam))
        self.libres.sort()
        unidos = []
        for ini, t in self.libres:
            if unidos and unidos[-1][0] + unidos[-1][1] == ini:
                unidos[-1] = (unidos[-1][0], unidos[-1][1] + t)
            else:
                unidos.append((ini, t))
        self.libres = unidos

    def realloc(self, bloque, n):
        if bloque is None:
            return self.malloc(n)
        util = self.ocupados[bloque] - 4
        if n <= util and (util >> 1) < n:
            return bloque
        nuevo = self.malloc(n)
        self.free(bloque)
        return nuevo


def peticiones_intervalo():
    """The heap requests of the firmware over two worst intervals, as
    (kind, slot, bytes): 1 malloc, 2 realloc, 3 free."""
    olas = MINUTOS_INTERVALO * 60 // SEGUNDOS_OLA
    p = []
    for i in range(VECTORES_POR_OLA):
        p.append((2, i, BYTES_ELEMENTO))
    for j, n in enumerate(BLOQUES_CONVERSION):
        p.append((1, 10 + j, n))
    for j in range(CADENAS_RETENIDAS):
        p.append((1, 20 + j, BYTES_CADENA_RUTA))
    # Two intervals: the second grows its arrays among the holes the first left.
    for _ in range(2):
        for ola in range(1, olas + 1):
            for i in range(VECTORES_POR_OLA):
                p.append((2, i, (ola + 1) * BYTES_ELEMENTO))
            p.append((2, 30, 8))
            p.append((2, 30, BYTES_CADENA_RUTA))
            p.append((3, 30, 0))
        for i in range(VECTORES_POR_OLA):
            p.append((3, i, 0))
        for i in range(VECTORES_POR_OLA):
            p.append((2, i, BYTES_ELEMENTO))
    return olas, p


def necesidad_modelo(peticiones):
    m = MonticuloNano()
    ranuras = {}
    for tipo, r, n in peticiones:
        if tipo == 1:
            ranuras[r] = m.malloc(n)
        elif tipo == 2:
            ranuras[r] = m.realloc(ranuras.get(r), n)
        else:
            m.free(ranuras.pop(r))
    return m.ruptura


def necesidad_real(sonda, peticiones):
    """The same requests through the C library's own allocator: the probe
    (herramientas/monticulo_nano/sonda.c, linked with the image's newlib-nano)
    runs under Unicorn. None when the probe or Unicorn is missing."""
    try:
        import unicorn
        from unicorn import arm_const
    except ImportError:
        return None
    if not os.path.exists(sonda):
        return None
    plano = subprocess.run(["arm-none-eabi-objcopy", "-O", "binary", sonda, "/dev/stdout"], capture_output=True,
                           check=True).stdout
    sim = simbolos(sonda)
    base, lista, parada = 0x20000000, 0x30000000, 0x40000000
    datos = b"".join(struct.pack("<III", *p) for p in peticiones) + struct.pack("<III", 0, 0, 0)
    mu = unicorn.Uc(unicorn.UC_ARCH_ARM, unicorn.UC_MODE_THUMB)
    mu.mem_map(base, 1 << 20)
    mu.mem_write(base, plano)
    mu.mem_map(lista, (len(datos) + 0xFFFF) & ~0xFFFF)
    mu.mem_write(lista, datos)
    mu.mem_map(parada, 0x1000)
    mu.reg_write(arm_const.UC_ARM_REG_SP, base + (1 << 20) - 16)
    mu.reg_write(arm_const.UC_ARM_REG_R0, lista)
    mu.reg_write(arm_const.UC_ARM_REG_LR, parada | 1)
    mu.emu_start(sim["sonda_ejecutar"] | 1, parada)
    fallos = struct.unpack("<I", mu.mem_read(sim["sonda_fallos"], 4))[0]
    if fallos:
        return None
    return mu.reg_read(arm_const.UC_ARM_REG_R0)


def necesidad_monticulo(sonda):
    olas, peticiones = peticiones_intervalo()
    modelo = necesidad_modelo(peticiones)
    real = necesidad_real(sonda, peticiones)
    return {"waves": olas, "arrays": VECTORES_POR_OLA, "payload_bytes": VECTORES_POR_OLA * (olas + 1) * BYTES_ELEMENTO,
            "need_bytes": real if real is not None else modelo,
            "measured_with": "newlib-nano under Unicorn" if real is not None else "model of newlib-nano",
            "model_bytes": modelo, "newlib_nano_bytes": real}


# ---------------------------------------------------------------- link map

def categoria(objeto, raiz_rel):
    """The row of the size table an input file belongs to, or None if it comes
    from anywhere else."""
    if objeto.startswith("/usr/lib/gcc/arm-none-eabi/") or objeto.startswith("/usr/lib/arm-none-eabi/") \
            or "/arm-none-eabi/lib/" in objeto:
        base = os.path.basename(objeto.split("(")[0])
        if base.startswith("libc_nano") or base.startswith("libc.") or base.startswith("libg_nano"):
            return "C library (newlib-nano)"
        if base.startswith("libm."):
            return "maths (libm)"
        if base.startswith("libgcc"):
            return "maths (soft-float, libgcc)"
        if base.startswith("libstdc++") or base.startswith("libsupc++"):
            return "C++ runtime"
        return None
    m = re.match(r"CMakeFiles/olas\.elf\.dir/(.*)\.obj$", objeto)
    if not m:
        return None
    r = m.group(1)
    if r.startswith(raiz_rel):
        r = r[len(raiz_rel):]
    elif os.path.exists(os.path.join(RAIZ, "plataforma", "samd21", r)):
        r = "plataforma/samd21/" + r
    else:
        return None
    partes = r.split("/")
    if partes[0] in MODULOS and len(partes) == 2:
        return partes[0]
    if partes[0] == "plataforma":
        if partes[1] == "samd21":
            return "board runtime (plataforma/samd21)"
        if partes[1] == "sd":
            return "card library (plataforma/sd)"
        if len(partes) == 2:
            return "text output (plataforma: Print, String)"
    return None


def sumar(fila, salida, tam):
    """Adds an input section's bytes to its row: code and constants take flash,
    initialised data takes flash (its load image) and RAM, the rest RAM only."""
    if salida in SECCIONES_FLASH or salida == ".data":
        fila["flash"] += tam
    if salida not in SECCIONES_FLASH:
        fila["ram"] += tam


def leer_mapa(ruta_mapa):
    raiz_rel = RAIZ.lstrip("/") + "/"
    tamanos = {}
    ajenos = set()
    salida = None
    pendiente = None
    with open(ruta_mapa) as f:
        lineas = f.read().split("\n")
    dentro = False
    for linea in lineas:
        if linea.startswith("Linker script and memory map"):
            dentro = True
            continue
        if not dentro:
            continue
        m = re.match(r"^(\.\S+|/DISCARD/)\s", linea) or re.match(r"^(\.\S+)$", linea)
        if m:
            salida = m.group(1)
            pendiente = None
            continue
        if salida not in SECCIONES_FLASH | SECCIONES_RAM:
            continue
        m = re.match(r"^ (\S+)$", linea)
        if m and not linea.startswith(" *"):
            pendiente = m.group(1)
            continue
        m = re.match(r"^ (\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(\S.*)$", linea)
        if m and (m.group(1) or pendiente):
            seccion = m.group(1) or pendiente
            pendiente = None
            tam = int(m.group(3), 16)
            objeto = m.group(4).strip()
            if seccion == "*fill*" or objeto == "linker stubs":
                cat = "alignment"
            else:
                cat = categoria(objeto, raiz_rel)
            if cat is None:
                ajenos.add(objeto)
                cat = "unknown"
            sumar(tamanos.setdefault(cat, {"flash": 0, "ram": 0}), salida, tam)
            continue
        m = re.match(r"^ \*fill\*\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)", linea)
        if m:
            sumar(tamanos.setdefault("alignment", {"flash": 0, "ram": 0}), salida, int(m.group(2), 16))
    return tamanos, ajenos


# ---------------------------------------------------------------- stack

# Indirect calls (blx) and where they can go, by the caller's name: the
# virtual write of the text classes, the board's bus and flash seams, the
# realloc behind the firmware's pointer, the card's date callback and the
# stream manipulators.
DESTINOS_INDIRECTOS = [
    (r"Print|ArduinoOutStream.*campo|File5write|print", r"5writeEh$"),
    (r"TarjetaSpi", r"BusSercom"),
    (r"CopiasEeprom", r"FlashChip"),
    (r"crear_vector|guardar_en_vector_olas", r"^_realloc_r$|^realloc$"),
    (r"SdFat10fecha_hora", r"fecha_hora_reloj"),
    (r"ArduinoOutStreamlsEPF", r"R16ArduinoOutStream$"),
]
MARCO_EXCEPCION = 32 + 4  # eight stacked registers and the alignment word


def analisis_pila(elf):
    """Deepest static call chain from each entry, from the disassembly: a
    function's frame is its push and its sub sp; bl and tail branches are
    calls; indirect calls follow DESTINOS_INDIRECTOS. Recursion is cut and
    reported."""
    dis = subprocess.run(["arm-none-eabi-objdump", "-d", "--no-show-raw-insn", elf], capture_output=True,
                         text=True, check=True).stdout
    funciones = {}
    por_direccion = {}
    palabras = {}
    for linea in dis.splitlines():
        m = re.match(r"^\s+([0-9a-f]+):\s+\.word\s+0x([0-9a-f]+)", linea)
        if m:
            palabras[int(m.group(1), 16)] = int(m.group(2), 16)
    cargas = {}
    actual = None
    for linea in dis.splitlines():
        m = re.match(r"^([0-9a-f]+) <(.+)>:$", linea)
        if m:
            actual = {"marco": 0, "llamadas": set(), "indirecta": False, "grande": False}
            funciones[m.group(2)] = actual
            por_direccion[int(m.group(1), 16)] = m.group(2)
            continue
        if actual is None:
            continue
        m = re.match(r"^\s+[0-9a-f]+:\s+(\S+)\s*(.*)$", linea)
        if not m:
            continue
        op, arg = m.group(1), m.group(2)
        carga = re.match(r"(r\d+), \[pc, #\d+\]\s+@ \(([0-9a-f]+)", arg)
        if op == "ldr" and carga:
            cargas[carga.group(1)] = palabras.get(int(carga.group(2), 16))
        if op == "push":
            actual["marco"] += 4 * (arg.count(",") + 1)
        elif op == "sub" and arg.startswith("sp, #"):
            actual["marco"] += int(arg.split("#")[1].split()[0], 0)
        elif op == "add" and re.match(r"sp, r\d+$", arg):
            # A frame too large for an immediate: sp plus a negative constant from the pool.
            v = cargas.get(arg.split(", ")[1])
            if v is not None and v >= 0x80000000:
                actual["marco"] += 0x100000000 - v
            elif v is None:
                actual["grande"] = True
        elif op in ("bl", "b", "b.n", "b.w") and "<" in arg:
            destino = re.search(r"<([^>+]+)", arg).group(1)
            if destino in funciones and funciones[destino] is actual:
                continue
            if "+" not in arg.split("<")[1]:
                actual["llamadas"].add(destino)
        elif op == "blx":
            actual["indirecta"] = True
    # A frame whose size could not be read: 1 KB, on the safe side.
    for nombre, f in funciones.items():
        if f["grande"]:
            f["marco"] += 1024
        if f["indirecta"]:
            for quien, adonde in DESTINOS_INDIRECTOS:
                if re.search(quien, nombre):
                    f["llamadas"] |= {d for d in funciones if re.search(adonde, d)}
    memo = {}
    ciclos = set()

    def profundidad(nombre, camino):
        """(bytes, chain, cut): cut tells that a recursion was cut below, and
        such a result is not remembered, as it depends on the path."""
        if nombre in memo:
            return memo[nombre]
        if nombre in camino:
            ciclos.add(nombre)
            return (0, [], True)
        f = funciones.get(nombre)
        if f is None:
            return (0, [], False)
        camino.add(nombre)
        mejor = (0, [])
        cortado = False
        for d in sorted(f["llamadas"]):
            p = profundidad(d, camino)
            cortado = cortado or p[2]
            if p[0] > mejor[0]:
                mejor = p
        camino.discard(nombre)
        r = (f["marco"] + mejor[0], [nombre] + mejor[1], cortado)
        if not cortado:
            memo[nombre] = r
        return r

    principal = profundidad("samd21_ejecutar", set())
    tick = profundidad("samd21_tick_tcc0" if "samd21_tick_tcc0" in funciones else "TCC0_Handler", set())
    otras = max((profundidad(n, set()) for n in sorted(funciones) if re.match(r"SERCOM\d_Handler|SysTick_Handler", n)),
                key=lambda p: p[0])
    total = principal[0] + otras[0] + MARCO_EXCEPCION + tick[0] + MARCO_EXCEPCION
    return {"main_loop_bytes": principal[0], "main_loop_chain": principal[1][:12],
            "tick_bytes": tick[0], "tick_chain": tick[1][:12],
            "uart_or_systick_bytes": otras[0], "exception_frame_bytes": MARCO_EXCEPCION,
            "worst_bytes": total, "recursion_cut_at": sorted(ciclos)}


# ---------------------------------------------------------------- ELF

def simbolos(elf):
    out = subprocess.run(["arm-none-eabi-nm", elf], capture_output=True, text=True, check=True).stdout
    s = {}
    for linea in out.splitlines():
        partes = linea.split()
        if len(partes) == 3:
            s[partes[2]] = int(partes[0], 16)
    return s


def secciones(elf):
    out = subprocess.run(["arm-none-eabi-objdump", "-h", elf], capture_output=True, text=True, check=True).stdout
    s = {}
    for linea in out.splitlines():
        partes = linea.split()
        if len(partes) >= 7 and partes[0].isdigit():
            s[partes[1]] = {"size": int(partes[2], 16), "vma": int(partes[3], 16), "lma": int(partes[4], 16)}
    return s


FIN_APLICACION = 0x3FC00  # the EEPROM's rows follow


def comprobar_segmentos(elf):
    """Every loadable segment lies in the application's flash (what it
    writes) and RAM: nothing writes or clears the bootloader or the EEPROM
    rows."""
    out = subprocess.run(["arm-none-eabi-readelf", "-lW", elf], capture_output=True, text=True, check=True).stdout
    fallos = []
    for linea in out.splitlines():
        p = linea.split()
        if not p or p[0] != "LOAD":
            continue
        virt, fis, tam_fichero, tam_memoria = int(p[2], 16), int(p[3], 16), int(p[4], 16), int(p[5], 16)
        if tam_fichero and not (ORIGEN_APLICACION <= fis and fis + tam_fichero <= FIN_APLICACION):
            fallos.append("segment loaded at 0x%X..0x%X is outside the application's flash" % (fis, fis + tam_fichero))
        if not (0x20000000 <= virt and virt + tam_memoria <= TOPE_RAM) and \
                not (ORIGEN_APLICACION <= virt and virt + tam_memoria <= FIN_APLICACION):
            fallos.append("segment at 0x%X..0x%X is outside the application's flash and the RAM"
                          % (virt, virt + tam_memoria))
    return fallos


def comprobar_vectores(bin_, sim, secs):
    fallos = []
    if secs.get(".text", {}).get("vma") != ORIGEN_APLICACION:
        fallos.append("the image does not start at 0x%X" % ORIGEN_APLICACION)
    fin = sim.get("__image_end", 0)
    palabras = struct.unpack("<44I", bin_[:44 * 4])
    if palabras[0] != TOPE_RAM or sim.get("__StackTop") != TOPE_RAM:
        fallos.append("initial stack pointer 0x%08X, not the top of RAM 0x%08X" % (palabras[0], TOPE_RAM))
    for i, v in enumerate(palabras[1:], start=1):
        if v == 0 and i not in (1, 2, 3, 11, 14, 15):
            continue  # reserved entries
        if not (v & 1) or not (ORIGEN_APLICACION <= (v & ~1) < fin):
            fallos.append("vector %d = 0x%08X is not a Thumb address inside the image" % (i, v))
    return fallos, palabras


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=os.path.join(RAIZ, "build-samd21"))
    args = ap.parse_args()
    elf = os.path.join(args.build, "olas.elf")
    bin_ = open(os.path.join(args.build, "olas.bin"), "rb").read()
    sim = simbolos(elf)
    secs = secciones(elf)
    fallos, palabras = comprobar_vectores(bin_, sim, secs)
    fallos += comprobar_segmentos(elf)

    tamanos, ajenos = leer_mapa(os.path.join(args.build, "olas.map"))
    for o in sorted(ajenos):
        fallos.append("input from outside the firmware, plataforma/ and the toolchain: " + o)

    flash = sum(secs[s]["size"] for s in secs if s in SECCIONES_FLASH | {".data"})
    ram_estatica = sum(secs[s]["size"] for s in secs if s in SECCIONES_RAM)
    reserva_pila = sim["__StackTop"] - sim["__StackLimit"]
    hueco = sim["__HeapLimit"] - sim["__HeapBase"]
    necesidad = necesidad_monticulo(os.path.join(args.build, "sonda_monticulo.elf"))
    pila = analisis_pila(elf)
    if pila["worst_bytes"] > reserva_pila:
        fallos.append("the deepest static call chain with nested interrupts, %d bytes, exceeds the stack reserve %d"
                      % (pila["worst_bytes"], reserva_pila))
    if flash > PRESUPUESTO_FLASH:
        fallos.append("flash %d bytes is over the budget of %d" % (flash, PRESUPUESTO_FLASH))
    if hueco < necesidad["need_bytes"]:
        fallos.append("heap room %d bytes is less than the worst interval needs, %d" % (hueco, necesidad["need_bytes"]))

    orden = MODULOS + ["card library (plataforma/sd)", "text output (plataforma: Print, String)",
                       "board runtime (plataforma/samd21)", "C library (newlib-nano)", "maths (soft-float, libgcc)",
                       "maths (libm)", "C++ runtime", "alignment", "unknown"]
    print("== firmware image for the ATSAMD21J18A (%s) ==" % os.path.relpath(elf, RAIZ))
    print("%-42s %10s %10s" % ("part", "flash B", "RAM B"))
    filas = []
    for cat in orden:
        if cat in tamanos:
            t = tamanos[cat]
            filas.append({"part": cat, "flash_bytes": t["flash"], "ram_bytes": t["ram"]})
            print("%-42s %10d %10d" % (cat, t["flash"], t["ram"]))
    print("%-42s %10d %10d" % ("total (flash: code, constants, .data image)", flash, ram_estatica))
    print("%-42s %10d / %d KB budget, %d KB of application flash" % ("flash", flash, PRESUPUESTO_FLASH // 1024,
                                                                      (0x3FC00 - ORIGEN_APLICACION) // 1024))
    print("%-42s %10d of 32768" % ("static RAM (.data + .bss)", ram_estatica))
    print("%-42s %10d" % ("stack reserve (top of RAM down)", reserva_pila))
    print("%-42s %10d   (loop %d + UART/SysTick %d + tick %d + 2 x %d exception frames)" % (
        "deepest static stack with nested interrupts", pila["worst_bytes"], pila["main_loop_bytes"],
        pila["uart_or_systick_bytes"], pila["tick_bytes"], MARCO_EXCEPCION))
    print("%-42s %10d" % ("heap room (between .bss and the stack reserve)", hueco))
    print("%-42s %10d   (%d waves x %d arrays, payload %d B; %s; model %d)" % (
        "heap need of the worst interval", necesidad["need_bytes"], necesidad["waves"], necesidad["arrays"],
        necesidad["payload_bytes"], necesidad["measured_with"], necesidad["model_bytes"]))
    print("%-42s 0x%08X / reset 0x%08X" % ("vector table at 0x2000: initial SP", palabras[0], palabras[1]))

    informe = {
        "elf": os.path.relpath(elf, RAIZ),
        "flash_bytes": flash,
        "flash_budget_bytes": PRESUPUESTO_FLASH,
        "static_ram_bytes": ram_estatica,
        "ram_bytes": 32768,
        "stack_reserve_bytes": reserva_pila,
        "stack_static_analysis": pila,
        "heap_room_bytes": hueco,
        "heap_need": necesidad,
        "by_part": filas,
        "initial_sp": palabras[0],
        "reset_vector": palabras[1],
        "checks_failed": fallos,
    }
    with open(os.path.join(args.build, "size.json"), "w") as f:
        json.dump(informe, f, indent=2)
    for fallo in fallos:
        print("FAILED: " + fallo)
    if not fallos:
        print("image checks and budgets: all hold")
    return 1 if fallos else 0


if __name__ == "__main__":
    sys.exit(main())
