"""The three kinds of record the buoy writes on its card, read line by line.

Every line must match its kind's layout exactly (fixed field widths, CR LF at
the end). A line that does not is counted as bad, with its line number and the
reason; a last line without its CR LF is a torn line (the power went, or the
card was pulled, while it was being written). A file in which no line
matches is not a file of that kind at all.

Units as the buoy writes them: heave in whole centimetres, positive down,
rounded away from zero; velocities in m/s; heights in centimetres; periods in
tenths of a second; directions in tenths of a degree clockwise from north,
the direction the waves come from.
"""

import datetime
import re

import numpy as np

# dd,mm,yy,HH,MM,SS,nnnnn,yyyy,shhhhh,svvvvv.vvvv,svvvvv.vvvv,h,a
_RAW = re.compile(
    rb"^(\d{2}),(\d{2}),(\d{2}),(\d{2}),(\d{2}),(\d{2}),(\d{5}),(\d{4}),([ -])(\d{5}),"
    rb"([ -]\d{5}\.\d{4}),([ -]\d{5}\.\d{4}),(\d),(\d)$")
# dd,mm,yy,HH,MM,nnnnn hhhh ppp nnnnn [dddd [dddd]] hhh aaa
_WAV = re.compile(rb"^(\d{2}),(\d{2}),(\d{2}),(\d{2}),(\d{2}),(\d{5}) (\d{4}) (\d{3}) (\d{5})((?: \d{4}){0,2}) (\d{3}) (\d{3})$")
# dd,mm,yy,HH,MM,nnnnn hhhh x4 ppp x5 [dddd x0..4] fff fff
_RES = re.compile(rb"^(\d{2}),(\d{2}),(\d{2}),(\d{2}),(\d{2}),(\d{5})((?: \d{4}){4})((?: \d{3}){5})((?: \d{4}){0,4}) (\d{3}) (\d{3})$")

# A velocity the buoy could not write (out of range or not a number).
VELOCIDAD_FUERA = 99999.9999


class Informe:
    """What was wrong with one file: bad lines, a torn end, or the wrong kind."""

    def __init__(self, ruta, tipo):
        self.ruta = ruta
        self.tipo = tipo
        self.lineas = 0          # lines seen (a torn end counts)
        self.buenas = 0
        self.malas = []          # (line number from 1, reason)
        self.cortada = False     # the last line has no CR LF
        self.otro_tipo = False   # no line of this kind at all
        self.vacio = False

    def anotar(self, n, motivo):
        if len(self.malas) < 50:
            self.malas.append((n, motivo))
        else:
            self.malas.append((n, None))

    def problemas(self):
        """Short readable lines, empty when the file was whole."""
        p = []
        if self.vacio:
            p.append("empty file, skipped")
        elif self.otro_tipo:
            p.append("not a %s file (no line has its layout), skipped" % self.tipo)
        else:
            if self.cortada:
                p.append("torn last line %d (no line end), skipped" % self.lineas)
            otras = [m for m in self.malas if not (self.cortada and m[0] == self.lineas)]
            if otras:
                muestra = "; ".join("line %d: %s" % m for m in otras[:3] if m[1])
                p.append("%d bad line%s skipped (%s)" % (len(otras), "s" if len(otras) > 1 else "", muestra))
        return p


def _lineas(datos, informe):
    """Splits on CR LF; yields (number, bytes) of complete lines, notes a torn end."""
    if not datos or not datos.strip(b"\x00"):
        informe.vacio = True
        return
    partes = datos.split(b"\r\n")
    ultima = partes.pop()
    for i, p in enumerate(partes, 1):
        yield i, p
    informe.lineas = len(partes)
    resto = ultima.rstrip(b"\x00")
    if resto:
        # Bytes after the last line end: the start of a line that was never finished.
        informe.lineas += 1
        informe.cortada = True
        informe.anotar(informe.lineas, "torn line %r" % resto[:40])


def _fecha(d, m, a, hh, mm, ss=b"00"):
    try:
        return datetime.datetime(2000 + int(a), int(m), int(d), int(hh), int(mm), int(ss),
                                 tzinfo=datetime.timezone.utc)
    except ValueError:
        return None


def _motivo(linea):
    if b"\x00" in linea:
        return "zero bytes in the line"
    if not linea:
        return "empty line"
    return "layout not matched: %r" % linea[:40]


def _cerrar(informe):
    if not informe.vacio and informe.buenas == 0 and informe.lineas > 0:
        # No line at all has the layout: a file of another kind (a torn single
        # line of the right kind is still reported as torn).
        if not (informe.cortada and informe.lineas == 1):
            informe.otro_tipo = True


def leer_raw(datos, ruta="raw"):
    """The samples of a ".raw" file.

    Returns (dict of numpy arrays, Informe). Arrays: 'segundo' (POSIX seconds of
    the stamp, NaN while the buoy's clock was not set), 'contador' (the
    sample's place in its wave), 'yaw_deg', 'heave_cm' (as written), 'vn', 've'
    (m/s, NaN for the out-of-range placeholder), 'flag_heading',
    'flag_align', 'linea' (line number)."""
    inf = Informe(ruta, "raw")
    filas = []
    for n, linea in _lineas(datos, inf):
        m = _RAW.match(linea)
        if not m:
            inf.anotar(n, _motivo(linea))
            continue
        g = m.groups()
        if g[0:6] == (b"00",) * 6:
            t = float("nan")  # written before the clock was set
        else:
            f = _fecha(*g[0:6])
            if f is None:
                inf.anotar(n, "impossible date %r" % linea[:17])
                continue
            t = f.timestamp()
        heave = int(g[9]) * (-1 if g[8] == b"-" else 1)
        vn, ve = float(g[10]), float(g[11])
        vn = float("nan") if abs(vn) >= VELOCIDAD_FUERA else vn
        ve = float("nan") if abs(ve) >= VELOCIDAD_FUERA else ve
        filas.append((t, int(g[6]), int(g[7]), heave, vn, ve, int(g[12]), int(g[13]), n))
        inf.buenas += 1
    _cerrar(inf)
    nombres = ("segundo", "contador", "yaw_deg", "heave_cm", "vn", "ve", "flag_heading", "flag_align", "linea")
    tipos = (float, np.int64, np.int32, np.int32, float, float, np.int8, np.int8, np.int64)
    if filas:
        columnas = list(zip(*filas))
    else:
        columnas = [()] * len(nombres)
    return {k: np.asarray(c, dtype=t) for k, c, t in zip(nombres, columnas, tipos)}, inf


def leer_wav(datos, ruta="wav"):
    """The waves of a ".wav" file: list of dicts, and the Informe."""
    inf = Informe(ruta, "wav")
    olas = []
    for n, linea in _lineas(datos, inf):
        m = _WAV.match(linea)
        f = _fecha(*m.groups()[0:5]) if m else None
        if not m or f is None:
            inf.anotar(n, _motivo(linea) if not m else "impossible date")
            continue
        g = m.groups()
        dirs = [int(x) for x in g[9].split()]
        olas.append({
            "tiempo": f, "numero": int(g[5]), "altura_cm": int(g[6]), "periodo_ds": int(g[7]),
            "muestras": int(g[8]), "direcciones": dirs, "heading_pct": int(g[10]),
            "align_pct": int(g[11]), "fichero": ruta, "linea": n,
        })
        inf.buenas += 1
    _cerrar(inf)
    return olas, inf


def leer_res(datos, ruta="res"):
    """The interval records of a ".res" file: list of dicts, and the Informe.

    Day, month and year are the date the record was written (the interval's
    end); hour and minute are the interval's start. With one direction method
    the record carries one mean direction and one spread; with both methods
    two of each (velocity method first); with none, neither."""
    inf = Informe(ruta, "res")
    filas = []
    for n, linea in _lineas(datos, inf):
        m = _RES.match(linea)
        g = m.groups() if m else None
        dirs = [int(x) for x in g[8].split()] if m else []
        if not m or len(dirs) not in (0, 2, 4):
            inf.anotar(n, _motivo(linea) if not m else "odd number of direction fields")
            continue
        fecha = _fecha(g[0], g[1], g[2], b"00", b"00")
        if fecha is None:
            inf.anotar(n, "impossible date")
            continue
        alturas = [int(x) for x in g[6].split()]
        periodos = [int(x) for x in g[7].split()]
        k = len(dirs) // 2
        filas.append({
            "fecha": fecha.date(), "hora_ini": int(g[3]), "minuto_ini": int(g[4]),
            "olas": int(g[5]), "hmax_cm": alturas[0], "h13_cm": alturas[1], "h110_cm": alturas[2],
            "hav_cm": alturas[3], "tmax_ds": periodos[0], "tpico_ds": periodos[1], "t13_ds": periodos[2],
            "t110_ds": periodos[3], "tav_ds": periodos[4],
            "dir_ddeg": dirs[0] if k else None, "desv_ddeg": dirs[k] if k else None,
            "dir2_ddeg": dirs[1] if k == 2 else None, "desv2_ddeg": dirs[3] if k == 2 else None,
            "heading_pct": int(g[9]), "align_pct": int(g[10]), "fichero": ruta, "linea": n,
        })
        inf.buenas += 1
    _cerrar(inf)
    return filas, inf
