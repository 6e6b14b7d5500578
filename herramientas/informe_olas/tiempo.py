"""The samples' time base.

A raw line carries the buoy's clock to the second and the sample's place in
its wave (a counter that goes up by one per sample and starts again at 0 when
a wave starts or ends). Samples come at the sensor's steady rate, so where
the counter runs on unbroken, sample k of a run is at t0 + slot(k) / fs: the
slots go up by one per line, and by more where the counter skips numbers
(lines lost). The rate is found from the data (the typical number of lines
stamped with one second).

The stamps only fix t0. A stamp is the buoy's clock when the line was built,
so it is not an exact sampling time: the clock is stepped now and then by a
tenth of a second or so when it is corrected, and when the buoy's loop is
held up for a moment (at the top of some hours it closes its files, writes
its summary and sets its clock together) the samples waiting in the port are
processed in a burst and carry one stamp. Neither moves a sample: the
counter places it. t0 is taken from the stamps of the whole run, leaving out
the few that disagree.

A run ends where the counter breaks (a step that is neither +1 nor a restart
at 0), where the clock is not set, or where the stamps jump for good by more
than SALTO_S against the counter (the power went and came back, or the
clock was set by more than that): those are the gaps.
"""

import numpy as np

SALTO_S = 0.7       # a lasting step of the stamps against the counter this large is a gap
PERSISTENCIA_S = 6  # ...when it lasts at least this long (a held-up loop lasts less)


def frecuencia_muestreo(segundos):
    """The sampling rate in Hz: the typical count of lines per stamped second,
    leaving out the first and last second of each file (seen only in part)."""
    s = segundos[np.isfinite(segundos)]
    if s.size < 3:
        return None
    valores, cuentas = np.unique(s, return_counts=True)
    interiores = cuentas[1:-1] if cuentas.size > 2 else cuentas
    if interiores.size == 0:
        return None
    # The most common count; a second with one line more or less (the clock's
    # edge against the sensor's) does not change it.
    c, n = np.unique(interiores, return_counts=True)
    return float(c[np.argmax(n)])


def _saltos(off, fs):
    """Indices where the stamps' offset against the counter steps for good."""
    W = max(int(round(2 * fs)), 1)                     # 2-second chunks
    n = len(off)
    nb = -(-n // W)
    if nb < 2:
        return []
    relleno = np.concatenate([off, np.full(nb * W - n, np.nan)])
    cm = np.nanmedian(relleno.reshape(nb, W), axis=1)
    P = max(int(PERSISTENCIA_S / 2), 1)
    cortes = []
    j = 0
    while j < nb - 1:
        ref = cm[j]
        siguientes = cm[j + 1:j + 1 + P]
        if np.all(np.abs(siguientes - ref) > SALTO_S) and np.all(np.sign(siguientes - ref) == np.sign(siguientes[0] - ref)):
            # The first sample of chunks j and j+1 that has left the old level for good.
            zona = np.arange(j * W, min((j + 2) * W, n))
            fuera = np.abs(off[zona] - ref) > SALTO_S
            i = None
            for z in np.nonzero(fuera)[0]:
                if np.all(np.abs(off[zona[z]:min(zona[z] + 5, n)] - ref) > SALTO_S):
                    i = int(zona[z])
                    break
            if i is None:
                i = (j + 1) * W
            cortes.append(i)
            j += 1
            # Chunks from the cut on belong to the new level.
            cm[j] = np.median(off[i:min((j + 1) * W, n)]) if i < min((j + 1) * W, n) else cm[j]
            continue
        j += 1
    return cortes


def _t0(off):
    """The run's start from its stamps: every line lies in its stamped second,
    leaving out the few stamped late or early."""
    lo = np.percentile(off, 99.5)
    hi = np.percentile(off + 1.0, 0.5)
    return 0.5 * (lo + hi) if lo < hi else float(np.median(off)) + 0.5


def tramos(segundos, contador, fs):
    """Splits consecutive samples into runs that keep the steady rate.

    Returns a list of (start index, end index exclusive, t0, slots) where
    sample i of the run [a, b) is at t0 + slots[i - a] / fs. Samples without a
    clock stamp (NaN) are left out of every run."""
    n = len(segundos)
    if n == 0:
        return []
    s = np.asarray(segundos, dtype=float)
    c = np.asarray(contador, dtype=np.int64)
    paso = np.ones(n, dtype=np.int64)
    d = np.diff(c)
    paso[1:] = np.where(d > 1, d, 1)
    corte = np.zeros(n, dtype=bool)
    corte[0] = True
    corte[1:] = (d != 1) & (c[1:] != 0) & (d <= 1)
    sin_reloj = ~np.isfinite(s)
    corte |= sin_reloj
    corte[1:] |= sin_reloj[:-1]
    inicios = list(np.nonzero(corte)[0]) + [n]
    resultado = []
    for a0, b0 in zip(inicios[:-1], inicios[1:]):
        if sin_reloj[a0]:
            continue
        ranuras = np.cumsum(paso[a0:b0]) - paso[a0]
        off = s[a0:b0] - ranuras / fs
        bordes = [0] + _saltos(off, fs) + [b0 - a0]
        for p, q in zip(bordes[:-1], bordes[1:]):
            if q <= p:
                continue
            r = ranuras[p:q] - ranuras[p]
            resultado.append((a0 + p, a0 + q, _t0(s[a0 + p:a0 + q] - r / fs), r))
    return resultado


def tiempos(segundos, contador, fs):
    """Each sample's time (POSIX seconds, NaN without a clock), and the gaps
    found: list of (time of the last sample before, time of the first after,
    samples missing)."""
    t = np.full(len(segundos), np.nan)
    huecos = []
    anterior = None
    for a, b, t0, ranuras in tramos(segundos, contador, fs):
        t[a:b] = t0 + ranuras / fs
        saltos = np.nonzero(np.diff(ranuras) > 1)[0]
        for s in saltos:
            huecos.append((t[a + s], t[a + s + 1], int(ranuras[s + 1] - ranuras[s] - 1)))
        if anterior is not None:
            faltan = int(round((t[a] - anterior) * fs)) - 1
            if faltan > 0 or t[a] <= anterior:
                huecos.append((anterior, t[a], max(faltan, 0)))
        anterior = t[b - 1]
    return t, huecos
