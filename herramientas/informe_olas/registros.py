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
        self.basura = 0          # bytes at the end that are not the start of any line
        self.ceros = 0           # zero bytes past the data (the size was written, the data not)
        self.otro_tipo = False   # no line of this kind at all
        self.vacio = False
        self.sin_reloj = 0       # samples written before the clock was set
        self.error = None        # the file could not be read at all
        self.nota = None         # anything else to say about it

    def anotar(self, n, motivo):
        if len(self.malas) < 50:
            self.malas.append((n, motivo))
        else:
            self.malas.append((n, None))

    def problemas(self):
        """Short readable lines, empty when the file was whole."""
        p = []
        if self.nota:
            p.append(self.nota)
        if self.error:
            p.append("unreadable (%s), skipped" % self.error)
        elif self.vacio:
            p.append("empty file, skipped")
        elif self.otro_tipo:
            p.append("not a %s file (no line has its layout), skipped" % self.tipo)
            if self.basura and not self.lineas:
                p[-1] = "not a %s file (%d bytes without a line of the buoy), skipped" % (self.tipo, self.basura)
        else:
            if self.cortada:
                p.append("torn last line %d (no line end), skipped" % self.lineas)
            if self.basura:
                p.append("%d bytes at the end that are no line of the buoy (not a torn line), skipped" % self.basura)
            if self.sin_reloj:
                p.append("%d samples written before the clock was set: no time, left out" % self.sin_reloj)
            otras = [m for m in self.malas if not (self.cortada and m[0] == self.lineas)]
            if otras:
                muestra = "; ".join("line %d: %s" % m for m in otras[:3] if m[1])
                p.append("%d bad line%s skipped (%s)" % (len(otras), "s" if len(otras) > 1 else "", muestra))
        return p


# What the buoy's lines are made of, and the longest of them.
_CARACTERES = frozenset(b"0123456789,. -")
_LARGO_MAXIMO = 100


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
    informe.ceros = len(ultima) - len(resto)
    if resto and _CARACTERES.issuperset(resto) and len(resto) < _LARGO_MAXIMO:
        # Bytes after the last line end that could begin a line of the
        # buoy: the start of a line that was never finished.
        informe.lineas += 1
        informe.cortada = True
        informe.anotar(informe.lineas, "torn line %r" % resto[:40])
    elif resto:
        informe.basura = len(resto)


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
    if not informe.vacio and informe.buenas == 0 and (informe.lineas > 0 or informe.basura):
        # No line at all has the layout: a file of another kind (a torn single
        # line of the right kind is still reported as torn).
        if not (informe.cortada and informe.lineas == 1):
            informe.otro_tipo = True


# The raw line's fixed layout: where its digits and its separators stand.
_ANCHO_RAW = 63
_PLANTILLA = b"dd,dd,dd,dd,dd,dd,ddddd,dddd,sddddd,sddddd.dddd,sddddd.dddd,d,d"
_DIGITOS = np.array([c == ord("d") for c in _PLANTILLA])
_SIGNOS = np.array([c == ord("s") for c in _PLANTILLA])
_FIJOS = np.array([c not in b"ds" for c in _PLANTILLA])
_VALOR_FIJO = np.frombuffer(_PLANTILLA, dtype=np.uint8)[_FIJOS]


def _entero(m, a, b):
    """The decimal number in columns a..b-1 of every row of m (digit codes)."""
    v = np.zeros(len(m), dtype=np.int64)
    for k in range(a, b):
        v = v * 10 + (m[:, k].astype(np.int64) - 48)
    return v


def _raw_columnas(lineas):
    """Parses many raw lines at once. Returns (arrays, ok mask); the lines
    that do not pass go through the line-by-line parser for their reason."""
    n = len(lineas)
    largo = np.fromiter((len(l) for l in lineas), dtype=np.int64, count=n)
    ok = largo == _ANCHO_RAW
    m = np.zeros((n, _ANCHO_RAW), dtype=np.uint8)
    if np.any(ok):
        m[ok] = np.frombuffer(b"".join(l for l, b in zip(lineas, ok) if b), dtype=np.uint8).reshape(-1, _ANCHO_RAW)
    d = m[:, _DIGITOS]
    ok &= np.all((d >= 48) & (d <= 57), axis=1)
    sg = m[:, _SIGNOS]
    ok &= np.all((sg == 32) | (sg == 45), axis=1)
    ok &= np.all(m[:, _FIJOS] == _VALOR_FIJO, axis=1)
    e = lambda a, b: _entero(m, a, b)
    dia, mes, ano, hh, mi, ss = e(0, 2), e(3, 5), e(6, 8), e(9, 11), e(12, 14), e(15, 17)
    sin_reloj = (dia == 0) & (mes == 0) & (ano == 0) & (hh == 0) & (mi == 0) & (ss == 0)
    fecha_ok = (mes >= 1) & (mes <= 12) & (dia >= 1) & (hh <= 23) & (mi <= 59) & (ss <= 59)
    # Days past the month's end go to the slow parser, which names them.
    dias_mes = np.array([31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31])[np.clip(mes - 1, 0, 11)]
    bisiesto = (ano % 4 == 0)
    dias_mes = np.where((mes == 2) & ~bisiesto, 28, dias_mes)
    fecha_ok &= dia <= dias_mes
    ok &= fecha_ok | sin_reloj
    meses = (2000 + ano - 1970) * 12 + np.clip(mes - 1, 0, 11)
    dias = (np.datetime64("1970-01", "M") + meses.astype("timedelta64[M]")).astype("datetime64[D]")
    dias = dias.astype(np.int64) + dia - 1
    segundo = (dias * 86400 + hh * 3600 + mi * 60 + ss).astype(float)
    segundo[sin_reloj] = np.nan
    signo = lambda col: np.where(m[:, col] == 45, -1, 1)
    heave = signo(29) * e(30, 35)
    vn = signo(36) * (e(37, 42) * 10000 + e(43, 47)) / 10000.0
    ve = signo(48) * (e(49, 54) * 10000 + e(55, 59)) / 10000.0
    vn[np.abs(vn) >= VELOCIDAD_FUERA] = np.nan
    ve[np.abs(ve) >= VELOCIDAD_FUERA] = np.nan
    col = dict(segundo=segundo, contador=e(18, 23), yaw_deg=e(24, 28).astype(np.int32),
               heave_cm=heave.astype(np.int32), vn=vn, ve=ve, flag_heading=e(60, 61).astype(np.int8),
               flag_align=e(62, 63).astype(np.int8))
    return col, ok


def leer_raw(datos, ruta="raw"):
    """The samples of a ".raw" file.

    Returns (dict of numpy arrays, Informe). Arrays: 'segundo' (POSIX seconds of
    the stamp, NaN while the buoy's clock was not set), 'contador' (the
    sample's place in its wave), 'yaw_deg', 'heave_cm' (as written), 'vn', 've'
    (m/s, NaN for the out-of-range placeholder), 'flag_heading',
    'flag_align', 'linea' (line number)."""
    inf = Informe(ruta, "raw")
    numeradas = list(_lineas(datos, inf))
    nombres = ("segundo", "contador", "yaw_deg", "heave_cm", "vn", "ve", "flag_heading", "flag_align")
    lineas = [l for _, l in numeradas]
    col, ok = _raw_columnas(lineas)
    for i in np.nonzero(~ok)[0]:
        n, linea = numeradas[i]
        m = _RAW.match(linea)
        inf.anotar(n, _motivo(linea) if not m else "impossible date %r" % linea[:17])
    inf.buenas = int(np.sum(ok))
    _cerrar(inf)
    r = {k: col[k][ok] for k in nombres}
    inf.sin_reloj = int(np.sum(np.isnan(r["segundo"])))
    r["linea"] = np.arange(1, len(lineas) + 1, dtype=np.int64)[ok]
    return r, inf


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
