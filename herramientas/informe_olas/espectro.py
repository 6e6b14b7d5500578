"""Wave spectra, bulk parameters and directions of one averaging interval.

Welch's method: segments of SEGMENTO_S seconds (1024 samples at 10 Hz, a
frequency step of about 0.0098 Hz), half overlapped, each detrended by a
straight line (which also takes out the buoy's steady drift from the
velocities) and Hann-windowed. Only segments with every sample present are
used, so a gap costs the segments it touches and nothing else.

Directions. The sensor gives heave z positive down and the horizontal
velocities vn, ve of the buoy, which follows the water's orbital motion. For
one wave train of amplitude a coming from the compass direction th (moving
towards th + 180 degrees), the elevation is a cos(phi), the velocity is
w a cos(phi) along the direction of travel, so in phase with the elevation:

    z  = -a cos(phi)
    vn = -w a cos(phi) cos(th)
    ve = -w a cos(phi) sin(th)

The co-spectra (real part of the cross-spectra) are then
    C_zn =  w S cos(th),   C_ze = w S sin(th),   S_nn + S_ee = w^2 S,
so, summed over the trains within a frequency band,
    a1 = C_zn / sqrt(S_zz (S_nn + S_ee)),   b1 = C_ze / sqrt(S_zz (S_nn + S_ee))
are the first-order Fourier moments of the directional distribution of the
direction the waves come from, clockwise from north. The mean direction is
atan2(b1, a1) and the spread sqrt(2 (1 - sqrt(a1^2 + b1^2))) (Kuik, van
Vledder and Holthuijsen, 1988). The normalisation by the velocity spectra
makes a1 and b1 independent of the dispersion relation, so the depth need not
be known. The quadrature spectra would carry the direction were the buoy to
give displacements instead of velocities; here they are noise.
"""

import numpy as np

SEGMENTO_S = 102.4      # Welch segment length, seconds
BANDA_HZ = (0.03, 0.5)  # band of the bulk parameters


def segmentos_validos(presente, n):
    """Start indices of the half-overlapped segments of n samples with every
    sample present."""
    paso = n // 2
    if len(presente) < n:
        return []
    faltan = np.concatenate(([0], np.cumsum(~presente)))
    return [i for i in range(0, len(presente) - n + 1, paso) if faltan[i + n] - faltan[i] == 0]


def _desviar(x):
    """x less its least-squares straight line."""
    n = len(x)
    k = np.arange(n) - (n - 1) / 2.0
    return x - x.mean() - k * (np.dot(k, x) / np.dot(k, k))


def welch(series, presente, fs, segmento_s=SEGMENTO_S):
    """One-sided spectral densities and cross-spectral densities of the
    series (list of arrays on one regular grid, NaN where missing).

    Returns (frequencies, matrix P[i][j] of complex densities in units^2/Hz,
    segments used)."""
    n = int(round(segmento_s * fs))
    inicios = segmentos_validos(presente, n)
    f = np.fft.rfftfreq(n, 1.0 / fs)
    m = len(series)
    P = np.zeros((m, m, len(f)), dtype=complex)
    if not inicios:
        return f, P, 0
    w = np.hanning(n + 2)[1:-1]  # Hann without its zero ends
    escala = 1.0 / (fs * np.sum(w * w))
    for i in inicios:
        X = [np.fft.rfft(_desviar(s[i:i + n]) * w) for s in series]
        for a in range(m):
            for b in range(a, m):
                P[a, b] += np.conj(X[a]) * X[b]
    P *= escala / len(inicios)
    # One-sided: every bin but 0 and Nyquist twice.
    P[:, :, 1:] *= 2.0
    if n % 2 == 0:
        P[:, :, -1] /= 2.0
    for a in range(m):
        for b in range(a):
            P[a, b] = np.conj(P[b, a])
    return f, P, len(inicios)


def parametros(f, S, banda=BANDA_HZ):
    """Hm0, Tp, Tm01, Tm02 from a heave spectrum S (m^2/Hz)."""
    df = f[1] - f[0]
    sel = (f >= banda[0]) & (f <= banda[1])
    fb, Sb = f[sel], S[sel]
    m0 = np.sum(Sb) * df
    m1 = np.sum(Sb * fb) * df
    m2 = np.sum(Sb * fb * fb) * df
    if not m0 > 0:
        return dict(hm0=np.nan, tp=np.nan, tm01=np.nan, tm02=np.nan, fp=np.nan, ip=None)
    ip = int(np.argmax(Sb))
    fp = fb[ip]
    # The peak is refined by a parabola through the highest bin and its two
    # neighbours (less sensitive to which of two near-equal bins wins).
    if 0 < ip < len(Sb) - 1:
        y0, y1, y2 = Sb[ip - 1], Sb[ip], Sb[ip + 1]
        den = y0 - 2 * y1 + y2
        if den < 0:
            fp = fb[ip] + 0.5 * (y0 - y2) / den * df
    return dict(hm0=4.0 * np.sqrt(m0), tp=1.0 / fp, tm01=m0 / m1, tm02=np.sqrt(m0 / m2), fp=fp,
                ip=int(np.nonzero(sel)[0][0]) + ip)


def _grados(x):
    return float(np.degrees(x) % 360.0)


def direcciones(f, P, banda=BANDA_HZ, ip=None):
    """a1(f), b1(f), and the mean direction, peak direction and spread
    (degrees; from, clockwise from north). P is the 3x3 matrix of heave
    (positive down), north and east velocity."""
    Szz = P[0, 0].real
    Svv = P[1, 1].real + P[2, 2].real
    den = np.sqrt(np.maximum(Szz * Svv, 0.0))
    with np.errstate(invalid="ignore", divide="ignore"):
        a1 = np.where(den > 0, P[0, 1].real / den, np.nan)
        b1 = np.where(den > 0, P[0, 2].real / den, np.nan)
    sel = (f >= banda[0]) & (f <= banda[1]) & np.isfinite(a1)
    E = Szz[sel]
    if not np.sum(E) > 0:
        return a1, b1, dict(dir_mean=np.nan, dir_peak=np.nan, spread=np.nan, spread_peak=np.nan)
    A1 = np.sum(a1[sel] * E) / np.sum(E)
    B1 = np.sum(b1[sel] * E) / np.sum(E)
    r1 = min(1.0, np.hypot(A1, B1))
    res = dict(dir_mean=_grados(np.arctan2(B1, A1)), spread=float(np.degrees(np.sqrt(2.0 * (1.0 - r1)))))
    if ip is not None:
        # At the peak: the peak bin and its neighbours, weighted by energy.
        k = np.arange(max(ip - 1, 0), min(ip + 2, len(f)))
        w = Szz[k]
        ap, bp = np.nansum(a1[k] * w) / np.sum(w), np.nansum(b1[k] * w) / np.sum(w)
        res["dir_peak"] = _grados(np.arctan2(bp, ap))
        res["spread_peak"] = float(np.degrees(np.sqrt(2.0 * (1.0 - min(1.0, np.hypot(ap, bp))))))
    else:
        res["dir_peak"] = np.nan
        res["spread_peak"] = np.nan
    return a1, b1, res
