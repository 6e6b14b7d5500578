"""The files on a buoy's card, from a card image (read with mtools, nothing is
mounted) or from a folder copied off a card.

The buoy keeps one folder per day, named YYMMDD, holding HHMM.raw (one line
per processed sample), HHMM.wav (one line per wave) and HHMM.res (one line per
averaging interval). Anything else on the card is listed as "other" so the
report can say it was skipped.
"""

import os
import re
import shutil
import subprocess
import tempfile

DIA = re.compile(r"^(\d{2})(\d{2})(\d{2})$")
FICHERO = re.compile(r"^(\d{2})(\d{2})\.(raw|wav|res)$", re.IGNORECASE)


class ErrorTarjeta(Exception):
    pass


class Fichero:
    """One file of the card: its day folder, its name, kind and size."""

    def __init__(self, dia, nombre, tipo, tamano, origen):
        self.dia = dia          # "261207", or None for a file outside a day folder
        self.nombre = nombre    # "1430.raw"
        self.tipo = tipo        # "raw", "wav", "res" or "other"
        self.tamano = tamano
        self._origen = origen
        self.etiqueta = None    # the card's name, when several cards are read together

    @property
    def ruta_en_tarjeta(self):
        return self.nombre if self.dia is None else self.dia + "/" + self.nombre

    @property
    def ruta(self):
        return self.ruta_en_tarjeta if self.etiqueta is None else self.etiqueta + ":" + self.ruta_en_tarjeta

    def leer(self):
        return self._origen.leer(self)

    def __repr__(self):
        return "Fichero(%s, %s, %d)" % (self.ruta, self.tipo, self.tamano)


def _clasificar(dia, nombre):
    m = FICHERO.match(nombre)
    if dia is not None and DIA.match(dia) and m:
        return m.group(3).lower()
    return "other"


def _orden(f):
    return (f.dia or "", f.nombre.lower())


class Carpeta:
    """A folder copied from a card."""

    def __init__(self, raiz):
        self.raiz = raiz
        self.carpetas = []

    def ficheros(self):
        self.carpetas = sorted(n for n in os.listdir(self.raiz) if os.path.isdir(os.path.join(self.raiz, n)))
        lista = []
        for actual, carpetas, nombres in os.walk(self.raiz):
            carpetas.sort()
            rel = os.path.relpath(actual, self.raiz)
            partes = [] if rel == "." else rel.split(os.sep)
            dia = partes[0] if len(partes) == 1 else None
            for n in sorted(nombres):
                ruta = os.path.join(actual, n)
                tipo = _clasificar(dia, n) if len(partes) == 1 else "other"
                nombre = n if len(partes) <= 1 else os.path.join(*partes[1:], n)
                lista.append(Fichero(dia if len(partes) >= 1 else None, nombre, tipo,
                                     os.path.getsize(ruta), self))
        return sorted(lista, key=_orden)

    def leer(self, f):
        ruta = os.path.join(self.raiz, f.ruta_en_tarjeta) if f.dia else os.path.join(self.raiz, f.nombre)
        with open(ruta, "rb") as h:
            return h.read()


# A line of "mdir -/ -a" for a file: name, extension, size, date, time, and
# at the end, when mtools shows one, the long name.
_MDIR_DIRECTORIO = re.compile(r"^Directory for ::(/.*?)\s*$")


def _truncada(ruta):
    """None, or what is missing when the image is shorter than the volume
    its first blocks declare (a copy that stopped, a download cut short)."""
    tamano = os.path.getsize(ruta)
    with open(ruta, "rb") as h:
        b = h.read(512)
        if len(b) < 512 or b[510:512] != b"\x55\xaa":
            return None
        inicio = 0
        volumen = b[0] in (0xEB, 0xE9) and (b[0x36:0x39] == b"FAT" or b[0x52:0x57] == b"FAT32")
        if not volumen:
            for p in range(4):
                e = b[446 + 16 * p: 446 + 16 * (p + 1)]
                if e[4] != 0 and int.from_bytes(e[8:12], "little") > 0:
                    inicio = int.from_bytes(e[8:12], "little") * 512
                    break
            if inicio >= tamano:
                return "its volume starts at byte %d, past the end" % inicio
            h.seek(inicio)
            b = h.read(512)
            if len(b) < 512:
                return "its volume starts at byte %d, past the end" % inicio
    sector = int.from_bytes(b[11:13], "little")
    total = int.from_bytes(b[19:21], "little") or int.from_bytes(b[32:36], "little")
    if sector not in (512, 1024, 2048, 4096) or total == 0:
        return None
    necesario = inicio + total * sector
    if tamano < necesario:
        return "%d bytes of the %d its volume declares" % (tamano, necesario)
    return None


def _desplazamiento(ruta):
    """"@@offset" of the FAT volume for mtools: a card carries a partition
    table in its first block, and the volume starts where its first
    partition does; an image of the volume alone starts at 0."""
    with open(ruta, "rb") as h:
        b = h.read(512)
    if len(b) < 512 or b[510:512] != b"\x55\xaa":
        return ""
    volumen = b[0] in (0xEB, 0xE9) and (b[0x36:0x39] == b"FAT" or b[0x52:0x57] == b"FAT32")
    if volumen:
        return ""
    for p in range(4):
        e = b[446 + 16 * p: 446 + 16 * (p + 1)]
        tipo, inicio = e[4], int.from_bytes(e[8:12], "little")
        if tipo != 0 and inicio > 0:
            return "@@%d" % (inicio * 512)
    return ""


class Imagen:
    """A card image, read with mtools (mdir, mtype)."""

    def __init__(self, ruta):
        self._tmp = self._dia = self._fallo = None
        if os.path.getsize(ruta) == 0:
            raise ErrorTarjeta("%s is an empty file, not a card image" % ruta)
        falta = _truncada(ruta)
        if falta:
            raise ErrorTarjeta("%s is a truncated card image (%s)" % (ruta, falta))
        self.ruta = ruta + _desplazamiento(ruta)
        self.carpetas = []
        self._tmp = self._dia = self._fallo = None
        self._entorno = dict(os.environ, MTOOLS_SKIP_CHECK="1", MTOOLS_NO_VFAT="0")

    def _mtools(self, *args):
        try:
            r = subprocess.run(list(args), capture_output=True, env=self._entorno, check=False)
        except FileNotFoundError as e:
            raise ErrorTarjeta("mtools is not installed (%s)" % e) from None
        return r

    def ficheros(self):
        r = self._mtools("mdir", "-/", "-b", "-i", self.ruta, "::/")
        if r.returncode != 0:
            raise ErrorTarjeta("mtools cannot read %s as a FAT card: %s"
                               % (self.ruta, r.stderr.decode("utf-8", "replace").strip()))
        lista = []
        for linea in r.stdout.decode("utf-8", "replace").splitlines():
            linea = linea.strip()
            if not linea.startswith("::/"):
                continue
            partes = linea[3:].rstrip("/").split("/")
            if linea.endswith("/"):
                if len(partes) == 1:
                    self.carpetas.append(partes[0])
                continue
            dia = partes[0] if len(partes) >= 2 else None
            nombre = "/".join(partes[1:]) if len(partes) >= 2 else partes[0]
            tipo = _clasificar(dia, nombre) if len(partes) == 2 else "other"
            lista.append(Fichero(dia, nombre, tipo, -1, self))
        return sorted(lista, key=_orden)

    def leer(self, f):
        # A whole day folder is copied out at once (mtools reads the card's
        # allocation table at every call: once per day, not once per file).
        if f.dia is not None and f.dia != self._dia:
            self._soltar()
            tmp = tempfile.mkdtemp(prefix="informe_")
            r = self._mtools("mcopy", "-s", "-n", "-m", "-i", self.ruta, "::/" + f.dia, tmp)
            self._tmp, self._dia = tmp, f.dia
            if r.returncode != 0:
                self._fallo = r.stderr.decode("utf-8", "replace").strip()
        if f.dia is not None and f.dia == self._dia:
            ruta = os.path.join(self._tmp, f.dia, f.nombre)
            if os.path.isfile(ruta):
                with open(ruta, "rb") as h:
                    return h.read()
        r = self._mtools("mtype", "-i", self.ruta, "::/" + f.ruta_en_tarjeta)
        if r.returncode != 0:
            raise ErrorTarjeta("cannot read %s: %s" % (f.ruta, r.stderr.decode("utf-8", "replace").strip()))
        return r.stdout

    def _soltar(self):
        if self._tmp:
            shutil.rmtree(self._tmp, ignore_errors=True)
        self._tmp = self._dia = self._fallo = None

    def __del__(self):
        self._soltar()


def dias_vacios(origen, ficheros):
    """Day folders (YYMMDD) of the card that hold no file."""
    con = {f.dia for f in ficheros}
    return sorted(c for c in origen.carpetas if DIA.match(c) and c not in con)


def abrir(ruta):
    """A card image or a folder copied from a card."""
    if os.path.isdir(ruta):
        return Carpeta(ruta)
    if os.path.isfile(ruta):
        return Imagen(ruta)
    raise ErrorTarjeta("no such card image or folder: %s" % ruta)
