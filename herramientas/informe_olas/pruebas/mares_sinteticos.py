"""Synthetic seas for the card report's unit tests: wave trains as the
buoy's heave and velocities, and their spectral analysis."""

import math

import numpy as np

from informe_olas import espectro


def mar_sintetico(trenes, fs=10.0, duracion=1200.0, deriva=(0.0, 0.0), semilla=4):
    """Heave (positive down), vn, ve of wave trains (f Hz, amplitude m, from
    degrees), deep water; plus a drift that grows linearly."""
    rnd = np.random.default_rng(semilla)
    t = np.arange(int(duracion * fs)) / fs
    z = np.zeros_like(t)
    vn = deriva[0] + 0.0002 * t
    ve = deriva[1] - 0.0001 * t
    for f, a, desde in trenes:
        w = 2 * math.pi * f
        c = a * np.cos(w * t + rnd.uniform(0, 2 * math.pi))
        hacia = math.radians(desde + 180.0)
        z -= c
        vn = vn + w * c * math.cos(hacia)
        ve = ve + w * c * math.sin(hacia)
    return z, vn, ve


def analizar(z, vn, ve, fs=10.0):
    presente = np.ones(len(z), dtype=bool)
    f, P, nseg = espectro.welch([z, vn, ve], presente, fs)
    p = espectro.parametros(f, P[0, 0].real)
    a1, b1, d = espectro.direcciones(f, P, ip=p["ip"])
    p.update(d)
    return f, p, nseg
