"""From the card's files to samples, waves and intervals, one day at a time
(a day's samples fit in memory; a month's need not)."""

import datetime
import math
from collections import defaultdict, namedtuple

import numpy as np

from . import espectro, qc, registros, tiempo, tarjeta

UTC = datetime.timezone.utc
LONGITUDES = (10, 15, 20, 30, 60)
LONGITUD_POR_DEFECTO = 20


def heave_metros(heave_cm):
    """The heave in metres, positive down. The buoy rounds the centimetres
    away from zero (0.2 cm is written 1, -0.2 cm as -1), so a written k stands
    for the span between k - 1 and k (k > 0); its middle is the unbiased value."""
    h = heave_cm.astype(float)
    return (h - 0.5 * np.sign(h)) / 100.0


# One interval's spectrum: frequencies, heave variance density (m^2/Hz), the
# directional moments and check factor per frequency, and the degrees of
# freedom of the heave spectrum (gl) and of the cross-spectra the moments come
# from (gl_dir): the heave uses every segment whose heave is complete, the
# moments only those whose velocities are complete too.
Espectro = namedtuple("Espectro", "f S a1 b1 a2 b2 k gl gl_dir")


class Intervalo:
    def __init__(self, inicio, fin, fw=None):
        self.inicio = inicio    # datetime, UTC
        self.fin = fin
        self.fw = fw            # the ".res" record, or None
        self.muestras = 0
        self.esp = {}
        self.qc = {}
        self.espectro = None    # Espectro
        self.traza = None       # (t, heave) of the interval, for the plot
        self.reparacion = None  # counts of the interval's samples: expected, missing, repaired (qc.CONTADORES)


def longitud_intervalo(minutos_inicio):
    """The averaging length in minutes: the commonest step between starts."""
    pasos = defaultdict(int)
    s = sorted(set(minutos_inicio))
    for a, b in zip(s, s[1:]):
        if b - a in LONGITUDES:
            pasos[b - a] += 1
    if not pasos:
        return LONGITUD_POR_DEFECTO
    return max(pasos.items(), key=lambda kv: (kv[1], kv[0]))[0]


def fin_de_intervalo(inicio, L):
    """Where the buoy ends an interval that starts at inicio: one second past
    the next whole multiple of L minutes, or 23:59:50 for the day's last."""
    m = L * (inicio.minute // L + 1)
    base = inicio.replace(minute=0, second=0, microsecond=0)
    fin = base + datetime.timedelta(minutes=m, seconds=1)
    if fin.date() != inicio.date():
        fin = base.replace(hour=23, minute=59, second=50)
    return fin


def inicio_de_intervalo(fecha, hh, mm, L):
    t = datetime.datetime(fecha.year, fecha.month, fecha.day, hh, mm, tzinfo=UTC)
    # An interval that follows another starts one second past the minute.
    return t + datetime.timedelta(seconds=1) if mm % L == 0 else t


class Dia:
    """Everything read from one day's folder."""

    def __init__(self, nombre):
        self.nombre = nombre
        self.muestras = None    # dict of arrays, times rebuilt
        self.olas = []
        self.res = []
        self.huecos = []
        self.intervalos = []
        self.fs = None
        self.solapes = []       # (earlier card, later card, first, last second, samples left out)
        self.primeras = {}      # raw file -> POSIX second of its first stamped line


def leer_dia(nombre, ficheros, informes):
    """Reads one day's files; every problem goes to informes (list of Informe)."""
    d = Dia(nombre)
    partes = []
    por_tarjeta = {}
    for f in ficheros:
        try:
            datos = f.leer()
        except tarjeta.ErrorTarjeta as e:
            inf = registros.Informe(f.ruta, f.tipo)
            inf.error = str(e)
            informes.append(inf)
            continue
        if f.tipo == "raw":
            r, inf = registros.leer_raw(datos, f.ruta)
            if inf.buenas:
                partes.append(r)
                por_tarjeta.setdefault(f.etiqueta, []).append(r)
                con = r["segundo"][np.isfinite(r["segundo"])]
                if len(con):
                    d.primeras[f.nombre] = float(con[0])
        elif f.tipo == "wav":
            o, inf = registros.leer_wav(datos, f.ruta)
            for x in o:
                x["tarjeta"] = f.etiqueta
            d.olas.extend(o)
        else:
            o, inf = registros.leer_res(datos, f.ruta)
            d.res.extend(o)
        informes.append(inf)
    if len(por_tarjeta) > 1:
        partes = _sin_solapes(d, por_tarjeta)
    if partes:
        m = {k: np.concatenate([p[k] for p in partes]) for k in partes[0]}
        d.fs = tiempo.frecuencia_muestreo(m["segundo"])
        if d.fs:
            # Where a sample is missing within its second is told by the
            # motion: heave in centimetres, velocities to 0.1 mm/s.
            series = ((m["heave_cm"], 1.0), (m["vn"], 1e-4), (m["ve"], 1e-4))
            t, d.huecos = tiempo.tiempos(m["segundo"], m["contador"], d.fs, series)
            m["t"] = t
            orden = np.argsort(t, kind="stable")
            m = {k: v[orden] for k, v in m.items()}
            m["heave_m"] = heave_metros(m["heave_cm"])
            # Lines outside every analysed interval stay not evaluated.
            m["calidad_heave"] = np.full(len(t), qc.NO_EVALUADO, dtype=np.int8)
            m["calidad_velocidad"] = np.full(len(t), qc.NO_EVALUADO, dtype=np.int8)
            d.muestras = m
    return d


def _sin_solapes(d, por_tarjeta):
    """Samples of one day from several cards: a card's samples within the
    seconds an earlier card already covers are left out (the same seconds
    twice, a copy given along with its card), and the overlap is noted."""
    def tramo(ps):
        s = np.concatenate([p["segundo"] for p in ps])
        s = s[np.isfinite(s)]
        return (float(s.min()), float(s.max())) if len(s) else (np.inf, -np.inf)
    orden = sorted(por_tarjeta, key=lambda k: tramo(por_tarjeta[k])[0])
    cubiertos = []
    partes = []
    for k in orden:
        a, b = tramo(por_tarjeta[k])
        for anterior, (a0, b0) in cubiertos:
            if a <= b0 and a0 <= b:
                fuera = 0
                for i, p in enumerate(por_tarjeta[k]):
                    dentro = (p["segundo"] >= a0) & (p["segundo"] <= b0)
                    fuera += int(np.sum(dentro))
                    por_tarjeta[k][i] = {c: v[~dentro] for c, v in p.items()}
                if fuera:
                    d.solapes.append((anterior, k, max(a, a0), min(b, b0), fuera))
                # Waves carry their minute only.
                d.olas = [o for o in d.olas if o.get("tarjeta") != k
                          or not a0 - 60.0 < o["tiempo"].timestamp() <= b0]
        cubiertos.append((k, (a, b)))
        partes += [p for p in por_tarjeta[k] if len(p["segundo"])]
    return partes


def construir_intervalos(d, nombres_raw):
    """The day's intervals: one per ".res" record, plus the clock-aligned
    slots that hold samples but no record (a cut power, a pulled card, or an
    interval without waves, which the buoy does not record)."""
    inicios_min = [r["hora_ini"] * 60 + r["minuto_ini"] for r in d.res]
    inicios_min += [int(n[:2]) * 60 + int(n[2:4]) for n in nombres_raw]
    L = longitud_intervalo(inicios_min)
    ints = []
    vistos = set()
    for r in d.res:
        ini = inicio_de_intervalo(r["fecha"], r["hora_ini"], r["minuto_ini"], L)
        clave = (ini, r["hora_ini"], r["minuto_ini"])
        if clave in vistos:
            continue  # the same record twice (a file found again after a restart)
        vistos.add(clave)
        ints.append(Intervalo(ini, fin_de_intervalo(ini, L), r))
    m = d.muestras
    if m is not None:
        t = m["t"][np.isfinite(m["t"])]
        cubiertos = np.zeros(len(t), dtype=bool)
        for it in ints:
            cubiertos |= (t >= it.inicio.timestamp()) & (t < it.fin.timestamp())
        libres = t[~cubiertos]
        if len(libres):
            ranura = np.floor((libres - 1.0) / (L * 60.0)).astype(np.int64)
            for r_, n in zip(*np.unique(ranura, return_counts=True)):
                if n < 60 * (d.fs or 1):
                    continue  # less than a minute of samples
                ini = datetime.datetime.fromtimestamp(r_ * L * 60.0 + 1.0, UTC)
                fin = fin_de_intervalo(ini, L)
                if any(it.inicio < fin and ini < it.fin for it in ints):
                    ini = max([ini] + [it.fin for it in ints if it.inicio < ini < it.fin])
                    fin = min([fin] + [it.inicio for it in ints if ini < it.inicio < fin])
                ints.append(Intervalo(ini, fin, None))
    ints.sort(key=lambda i: i.inicio)
    d.intervalos = ints
    return L


def analizar_intervalo(it, m, fs):
    """Spectrum, bulk parameters, directions and QC of one interval."""
    t0, t1 = it.inicio.timestamp(), it.fin.timestamp()
    a = b = 0
    if m is not None:
        a, b = np.searchsorted(m["t"], [t0, t1])
        tt = m["t"][a:b]
        ok = np.isfinite(tt)
        if np.any(ok):
            # The grid keeps the samples' own phase within the sampling
            # period: the commonest one (a short run after a cut may have another).
            fases = np.round(((tt[ok] - t0) % (1.0 / fs)) * 1000.0).astype(np.int64)
            valores, cuentas = np.unique(fases, return_counts=True)
            t0 = t0 + valores[np.argmax(cuentas)] / 1000.0
    n = int(np.floor((t1 - t0) * fs - 1e-9)) + 1
    h = np.full(n, np.nan)
    vn = np.full(n, np.nan)
    ve = np.full(n, np.nan)
    lineas = k = None
    if b > a:
        k = np.round((tt[ok] - t0) * fs).astype(np.int64)
        dentro = (k >= 0) & (k < n)
        # Two runs whose phases differ could round onto one slot: the first stays.
        k, primero = np.unique(k[dentro], return_index=True)
        for dst, src in ((h, "heave_m"), (vn, "vn"), (ve, "ve")):
            dst[k] = m[src][a:b][ok][dentro][primero]
        it.muestras = int(np.sum(dentro))
        lineas = a + np.nonzero(ok)[0][dentro][primero]
    # Short faults are repaired, not discarded: isolated bad points and
    # lost samples, a few at most, are interpolated (and counted); the heave
    # is judged apart from the velocities, so a bad velocity costs the
    # heave nothing.
    rep = qc.reparar(h, vn, ve, fs)
    h, vn, ve = rep["heave"], rep["vn"], rep["ve"]
    it.reparacion = {c: rep[c] for c in qc.CONTADORES}
    if lineas is not None and "calidad_heave" in m:
        # Each line's own flag: fail where its value was found bad (and
        # replaced in the analysis), pass where it was used as written.
        m["calidad_heave"][lineas] = np.where(rep["malo_heave"][k], qc.FALLA,
                                              np.where(rep["lejos_media"][k], qc.SOSPECHOSO, qc.PASA))
        m["calidad_velocidad"][lineas] = np.where(rep["malo_vel"][k], qc.FALLA, qc.PASA)
    con_heave = np.isfinite(h)
    presente = con_heave & np.isfinite(vn) & np.isfinite(ve)
    f, Ph, nseg = espectro.welch([h], con_heave, fs)
    _, P, nseg_dir = espectro.welch([h, vn, ve], presente, fs)
    e = {"segmentos": nseg, "segmentos_direccion": nseg_dir}
    if nseg:
        S = Ph[0, 0].real
        p = espectro.parametros(f, S)
        e.update(p)
        if nseg_dir:
            a1, b1, dd = espectro.direcciones(f, P, ip=p["ip"])
        else:
            a1 = b1 = np.full(len(f), np.nan)
            dd = dict(dir_mean=np.nan, dir_peak=np.nan, spread=np.nan, spread_peak=np.nan)
        e.update(dd)
        # The second-order moments and the check factor from the same
        # cross-spectra as a1, b1 (the segments with all three series).
        _, _, a2, b2, kc = espectro.momentos(f, P)
        e.update(espectro.segundo_orden(f, S, a2, b2, e["dir_mean"]))
        e["check_factor"] = espectro.factor_de_control(f, S, kc)
        e["gl"] = espectro.grados_de_libertad_de(con_heave, fs)
        e["gl_direccion"] = espectro.grados_de_libertad_de(presente, fs)
        it.espectro = Espectro(f, S, a1, b1, a2, b2, kc, e["gl"], e["gl_direccion"])
    else:
        e.update(hm0=np.nan, tp=np.nan, tm01=np.nan, tm02=np.nan, fp=np.nan, dir_mean=np.nan,
                 dir_peak=np.nan, spread=np.nan, spread_peak=np.nan, a2=np.nan, b2=np.nan,
                 dir_principal=np.nan, spread2=np.nan, gl=0.0, gl_direccion=0.0,
                 check_factor=np.nan)
    if it.fw is not None and it.fw["olas"] > 0 and e["hm0"] > 0:
        e["h13_over_hm0"] = (it.fw["h13_cm"] / 100.0) / e["hm0"]
    else:
        e["h13_over_hm0"] = np.nan
    it.esp = e
    it.qc = qc.evaluar(rep, fs, it.fw, e, it.espectro)
    del rep
    it.traza = (t0 + np.arange(n) / fs, h)
    return it


def dias_de_la_tarjeta(origen):
    """The card's files grouped by day folder, the other files, and the day
    folders without files."""
    dias = defaultdict(list)
    otros = []
    todos = origen.ficheros()
    for f in todos:
        if f.tipo == "other":
            otros.append(f)
        else:
            dias[f.dia].append(f)
    return dict(sorted(dias.items())), otros, tarjeta.dias_vacios(origen, todos)


def dentro_de(it, desde, hasta):
    """An interval is reported when its middle lies in [desde, hasta)."""
    medio = it.inicio + (it.fin - it.inicio) / 2
    return (desde is None or medio >= desde) and (hasta is None or medio < hasta)


def nan_a_none(x):
    if x is None:
        return None
    try:
        return None if math.isnan(x) else x
    except TypeError:
        return x
