"""The samples' time base.

A raw line carries the buoy's clock to the second (the stamp) and the
sample's place in its wave. The sensor samples at a steady rate, which is
found from the data (frecuencia_muestreo).

Each second's stamp anchors that second's lines: a line stamped S was built
within the buoy's second [S, S + 1), so the samples of a stretch of seconds
lie on a grid of 1/fs whose phase is fitted, over about a minute around each
line, to put every line inside its own stamped second. The fit is local, so
an error never accumulates: a clock that runs fast or slow against the
sensor, or is stepped by a tenth of a second when it is corrected, moves the
fit with it.

A second with fewer lines than the rate has that many samples missing inside
it (the sensor lost a frame, and the buoy simply wrote one line fewer). The
lines of a held-up loop (at the top of some hours the buoy closes its files,
writes its summary and sets its clock together, and the samples that waited
in the port are processed in a burst under one stamp) make up for the seconds
before them: only a shortfall that is still there SOSTENIDO_S seconds later
is a loss. Where in its second a lost sample was is found from the motion
itself: the heave and the velocities are smooth at the sampling rate, and a
missing sample leaves a step twice the neighbouring ones between the two
lines around it (searched for a few seconds around the short second: a line
is stamped when it is built, and the one before a lost frame is built late).
A step that plain is a loss even where the counts do not show one (a clock
stepped at that moment hides it from them). A second one line short whose
series shows no such step is the grid's phase slipping past the clock's
second (the two clocks differ by some parts per million), not a loss.

The stamps are the buoy's clock: the times here are as good as that clock
(set from GPS when a fix comes), and within a sampling period of it.
"""

import numpy as np

SALTO_S = 5          # no line for this long, or a stamp going back, starts a new stretch
SOSTENIDO_S = 6      # a shortfall of lines still there this long after is a loss
CERCA_S = 3          # ...found within this many seconds of the short second
EVIDENCIA = 3.0      # a misfit this many times the other hypothesis' (or the record's roughness) marks it...
EVIDENTE = 12.0      # ...and this many times, a missing sample whatever the line counts say
VENTANA_S = 10       # the phase is fitted in chunks of this many seconds...
VECINOS = 3          # ...over this many chunks each side


def frecuencia_muestreo(segundos):
    """The sampling rate in Hz. At a whole rate it is the commonest count of
    lines per stamped second (a second with one line more or less, from the
    clock's edge against the sensor's or a lost frame, does not change it);
    at another rate (1.28 Hz: one or two lines a second) it is the lines per
    second over the stretches of the record, to 0.01 Hz. The first and last
    second of each stretch, seen only in part, are left out."""
    s = np.asarray(segundos, dtype=float)
    s = s[np.isfinite(s)]
    if s.size < 3:
        return None
    lineas = segundos_vistos = 0
    cuentas_interiores = []
    for a, b in _tramos(s):
        valores, cuentas = np.unique(s[a:b], return_counts=True)
        if len(valores) < 3:
            continue
        cuentas_interiores.append(cuentas[1:-1])
        lineas += int(np.sum(cuentas[1:-1]))
        segundos_vistos += int(valores[-1] - valores[0]) - 1
    if not cuentas_interiores or segundos_vistos <= 0:
        return None
    c, n = np.unique(np.concatenate(cuentas_interiores), return_counts=True)
    moda = float(c[np.argmax(n)])
    media = lineas / segundos_vistos
    if moda > 0 and abs(media - moda) <= 0.1 * moda:
        return moda
    return round(media, 2) if media > 0 else None


def _tramos(s):
    """[a, b) index ranges of lines with a clock whose stamps go on without a
    long silence or a step back."""
    n = len(s)
    con = np.isfinite(s)
    corte = np.zeros(n, dtype=bool)
    corte[0] = True
    d = np.diff(s)
    corte[1:] = ~(d >= 0) | (d > SALTO_S) | (con[1:] != con[:-1])
    inicios = list(np.nonzero(corte)[0]) + [n]
    return [(a, b) for a, b in zip(inicios[:-1], inicios[1:]) if con[a]]


def _perdidas_por_segundo(cuentas, fs):
    """Samples lost in each second of a stretch from its line counts: the
    lasting part of the running shortfall. The first and last seconds are
    seen only in part and count as full. At a rate that is not whole the
    shortfall swings by a fraction of a line from second to second; only a
    whole line more of it is a loss."""
    k = len(cuentas)
    falta = fs - cuentas.astype(float)
    falta[0] = 0.0
    falta[-1] = 0.0
    D = np.cumsum(falta)
    # The least shortfall over the next SOSTENIDO_S seconds: a burst that
    # makes up for the seconds before it leaves it unchanged.
    H = SOSTENIDO_S
    rel = np.concatenate([D, np.full(H, D[-1])])
    E = np.min(np.lib.stride_tricks.sliding_window_view(rel, H + 1)[:k], axis=1)
    P = np.round(E - E[0]).astype(np.int64)
    paso = np.diff(np.concatenate(([0], P)))
    return np.maximum(paso, 0)


def _mediana_movil(x, medio):
    """Median of x over a window of 2 medio + 1 around each value (in
    blocks, so a day of lines needs little memory)."""
    relleno = np.concatenate([np.full(medio, np.nan), x, np.full(medio, np.nan)])
    out = np.empty(len(x))
    for i in range(0, len(x), 65536):
        trozo = relleno[i:i + 65536 + 2 * medio]
        out[i:i + 65536] = np.nanmedian(np.lib.stride_tricks.sliding_window_view(trozo, 2 * medio + 1), axis=1)
    return out


def _evidencia(series, n):
    """For every line j, the evidence that one sample is missing just before
    it (0 where the series cannot tell).

    The two lines either side fit a smooth curve either as four consecutive
    samples or with one missing in the middle; the third divided difference
    is near zero for the right one and of the size of the local slope times
    the sampling period for the wrong one. The evidence is the first over
    the larger of the second and the series' own third differences nearby
    (a record sampled too slowly to be smooth tells nothing this way).
    series: (values, resolution) pairs."""
    ev = np.zeros(n)
    if n < 4:
        return ev
    for x, q in series:
        x = np.asarray(x, dtype=float)
        x0, x1, x2, x3 = x[:-3], x[1:-2], x[2:-1], x[3:]
        seguidos = np.abs(x3 - 3 * x2 + 3 * x1 - x0) / 6.0
        con_hueco = np.abs(x0 - 2 * x1 + 2 * x2 - x3) / 12.0
        with np.errstate(invalid="ignore", divide="ignore"):
            fondo = _mediana_movil(seguidos, 8)
            e = seguidos / (np.fmax(con_hueco, fondo) + q)
        e[~np.isfinite(e)] = 0.0
        ev[2:-1] = np.maximum(ev[2:-1], e)
    return ev


def _fase(off, fs):
    """The grid's phase at every line of a stretch. off = stamp - slot/fs; a
    line lies in its stamped second when the phase is in [off, off + 1).
    For each chunk of VENTANA_S seconds, the middle of the range of phases
    that put the most lines of it and its VECINOS neighbours each side
    inside their seconds (at a whole rate that range is one sampling period
    wide: where the grid sits within it, the stamps cannot tell); the phase
    of the chunk before is kept while it does as well."""
    W = max(int(round(VENTANA_S * fs)), 1)
    n = len(off)
    nb = -(-n // W)
    fase = np.empty(n)
    anterior = None
    for j in range(nb):
        v = np.sort(off[max(j - VECINOS, 0) * W:min((j + VECINOS + 1) * W, n)])
        cubre = lambda c: np.searchsorted(v, c, side="right") - np.searchsorted(v, c - 1.0, side="right")
        # The coverage is largest from one line's own offset on (each line
        # allows [off, off + 1)) until the first allowance after it ends.
        cand = np.unique(v)
        dentro = cubre(cand)
        mejor = dentro.max()
        if anterior is not None and cubre(np.array([anterior]))[0] == mejor:
            f = anterior
        else:
            c = cand[np.argmax(dentro)]
            fines = v + 1.0
            fin = fines[fines > c]
            f = 0.5 * (c + fin.min()) if len(fin) else c
        fase[j * W:min((j + 1) * W, n)] = f
        anterior = f
    return fase


def tiempos(segundos, contador, fs, series=()):
    """Each line's time (POSIX seconds, NaN without a clock) and the gaps
    found: list of (time of the last sample before, time of the first after,
    samples missing). series: the lines' heave and velocities as (array,
    resolution) pairs (NaN allowed), which tell where a lost sample was; so
    does the wave counter where it skips numbers."""
    s = np.asarray(segundos, dtype=float)
    contador = np.asarray(contador, dtype=np.int64)
    n = len(s)
    t = np.full(n, np.nan)
    huecos = []
    anterior = None
    for a, b in _tramos(s):
        ss = s[a:b]
        seg, inicio_seg, cuentas = np.unique(ss, return_index=True, return_counts=True)
        todos = np.arange(seg[0], seg[-1] + 1)
        c = np.zeros(len(todos), dtype=np.int64)
        c[(seg - seg[0]).astype(np.int64)] = cuentas
        perdidas = _perdidas_por_segundo(c, fs)
        # Slots: one per line, plus the lost ones before each line.
        extra = np.zeros(b - a, dtype=np.int64)
        ev = _evidencia([(x[a:b], q) for x, q in series], b - a) if series else np.zeros(b - a)
        usado = np.zeros(b - a, dtype=bool)
        # A step that plain: a sample is missing there, whatever the counts
        # say (a clock step can hide a loss from them).
        fuertes = np.nonzero(ev >= EVIDENTE)[0]
        fuertes = [j for j in fuertes if ev[j] >= ev[max(j - 2, 0):j + 3].max()]
        extra[fuertes] = 1
        for j in fuertes:
            usado[max(j - 2, 0):j + 3] = True
        emparejado = np.zeros(len(fuertes), dtype=bool)
        fuertes = np.asarray(fuertes, dtype=np.int64)
        for k in np.nonzero(perdidas)[0]:
            S = todos[k]
            j = np.searchsorted(seg, S)
            lineas = cuentas[j] if j < len(seg) and seg[j] == S else 0
            i0 = inicio_seg[j] if lineas else (inicio_seg[j] if j < len(seg) else b - a)
            donde = i0 + lineas
            # The lines are stamped when they are built, some time after
            # their sample, so a loss may show a few seconds away.
            lo = inicio_seg[max(np.searchsorted(seg, S - CERCA_S), 0)]
            hi_k = np.searchsorted(seg, S + CERCA_S, side="right")
            hi = inicio_seg[hi_k] if hi_k < len(seg) else b - a
            faltan = int(perdidas[k])
            cerca = np.nonzero(~emparejado & (fuertes >= lo) & (fuertes < hi))[0][:faltan]
            emparejado[cerca] = True
            faltan -= len(cerca)
            if not faltan:
                continue
            cc = contador[a + i0:a + i0 + lineas + 1] if lineas else ()
            salto = np.nonzero((np.diff(cc) > 1))[0] if len(cc) > 1 else []
            if len(salto):
                # The wave counter skips where the lines were lost.
                extra[i0 + int(salto[0]) + 1] += faltan
                continue
            cand = np.arange(lo, hi)
            cand = cand[(ev[cand] >= EVIDENCIA) & ~usado[cand]]
            sitios = []
            for j in cand[np.argsort(-ev[cand], kind="stable")]:
                if len(sitios) == faltan:
                    break
                if all(abs(int(j) - x) > 2 for x in sitios):
                    sitios.append(int(j))
            if not sitios and faltan == 1 and lineas >= np.floor(fs) - 1 and series:
                # No step anywhere: a second one line short because the grid
                # slipped past the clock's edge; nothing is lost.
                continue
            for j in sitios:
                extra[j] += 1
                usado[max(j - 2, 0):j + 3] = True
            faltan -= len(sitios)
            if faltan:
                # The rest were lost together with one found, or, when none
                # was, at the end of the short second.
                if sitios:
                    extra[sitios[0]] += faltan
                elif donde < b - a:
                    extra[donde] += faltan
        ranuras = np.arange(b - a) + np.cumsum(extra)
        fase = _fase(ss - ranuras / fs, fs)
        # The phase moves by whole sampling periods (the clock stepped, or a
        # loss the counts did not show), and the slots with it: a step ahead
        # leaves a slot without a sample, a step back puts two samples on
        # one slot (the grid keeps the first). Either way the times stay on
        # the clock, and an error does not build up.
        r = ranuras + np.round((fase - fase[0]) * fs).astype(np.int64)
        t[a:b] = fase[0] + r / fs
        pasos = np.diff(r)
        for i in np.nonzero(pasos > 1)[0]:
            huecos.append((t[a + i], t[a + i + 1], int(pasos[i] - 1)))
        if anterior is not None:
            faltan = int(round((t[a] - anterior) * fs)) - 1
            if faltan > 0 or t[a] <= anterior:
                huecos.append((anterior, t[a], max(faltan, 0)))
        anterior = t[b - 1]
    return t, huecos
