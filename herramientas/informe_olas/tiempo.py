"""The samples' time base.

A raw line carries the buoy's clock to the second and the sample's place in
its wave (a counter that goes up by one per sample and starts again at 0 when
a wave starts or ends). Samples come at a steady rate, so within a run of
consecutive samples the time of sample k is t0 + k / fs. The rate is found
from the data (the typical number of lines stamped with one second); t0 is the
value that puts every sample of the run inside its stamped second, as near the
middle of what the stamps allow as possible.

A run ends where the samples can no longer be placed that way (lines went
missing, the clock was set, the power went): that is a gap. The counter tells
a missing line even within a second (it skips a number).
"""

import numpy as np


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


def tramos(segundos, contador, fs):
    """Splits consecutive samples into runs that keep the steady rate.

    Returns a list of (start index, end index exclusive, t0, slots) where
    sample i of the run [a, b) is at t0 + slots[i - a] / fs: slots go up by
    one per sample, and by more where the counter shows lines missing.
    Samples without a clock stamp (NaN) are left out of every run."""
    n = len(segundos)
    if n == 0:
        return []
    s = np.asarray(segundos, dtype=float)
    c = np.asarray(contador, dtype=np.int64)
    # The counter goes up by one, or starts again at 0 with a wave; a bigger
    # step up means that many lines are missing; anything else breaks a run.
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
        a = a0
        while a < b0:
            if sin_reloj[a]:
                a += 1
                continue
            ranuras = np.cumsum(paso[a:b0]) - paso[a]
            k = ranuras / fs
            lo = np.maximum.accumulate(s[a:b0] - k)
            hi = np.minimum.accumulate(s[a:b0] + 1.0 - k)
            # The run ends at the first sample that cannot be placed in its second.
            malos = np.nonzero(lo >= hi - 1e-9)[0]
            fin = int(malos[0]) if len(malos) else b0 - a
            resultado.append((a, a + fin, 0.5 * (lo[fin - 1] + hi[fin - 1]), ranuras[:fin]))
            a += fin
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
