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

The second-order moments need only the velocities: a train from th gives
S_nn = w^2 S cos^2(th), S_ee = w^2 S sin^2(th), C_ne = w^2 S cos(th) sin(th),
so
    a2 = (S_nn - S_ee) / (S_nn + S_ee) = cos(2 th),
    b2 = 2 C_ne / (S_nn + S_ee)         = sin(2 th),
the same for the direction of travel as for the direction the waves come
from (twice the angle turns the half turn away). The principal direction is
atan2(b2, a2) / 2, taken on the side of the mean direction, and the
second-order spread sqrt((1 - m2) / 2), m2 = sqrt(a2^2 + b2^2) (Kuik et al.).

The check factor is the ratio of horizontal to vertical motion,
    K = sqrt((S_nn + S_ee) / (w^2 S_zz)),
the horizontal displacement spectrum being the velocity spectrum over w^2:
1 for deep-water waves, 1/tanh(kh) at depth h, and far from 1 where the
heave or the velocities are not the water's motion (noise, a snagged
mooring, a wrong scale).

The directional distribution D(f, th) is the maximum entropy estimate of
Lygre and Krogstad (1986), the smoothest distribution whose first four
Fourier moments are a1, b1, a2, b2: with c1 = a1 + i b1, c2 = a2 + i b2,
    p1 = (c1 - c2 conj(c1)) / (1 - |c1|^2),   p2 = c2 - c1 p1,
    D(th) = (1 - p1 conj(c1) - p2 conj(c2)) / (2 pi |1 - p1 e^-ith - p2 e^-2ith|^2)
in rad^-1, integrating to 1 over the circle.
"""

import functools
import math

import numpy as np

SEGMENTO_S = 102.4      # Welch segment length, seconds
BANDA_HZ = (0.03, 0.5)  # band of the bulk parameters
CONFIANZA = 0.90        # confidence level of the spectrum's limits
PASO_DIRECCION = 5.0    # degrees between the directions of D(f, th)


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


def _angulo(x):
    return np.degrees(x) % 360.0


def _mas_cerca(doble, referencia):
    """Of the two directions doble/2 and doble/2 + 180 (degrees), the one
    nearer referencia; doble/2 where referencia is not a number."""
    d = (np.asarray(doble, dtype=float) / 2.0) % 360.0
    ref = np.asarray(referencia, dtype=float)
    lejos = np.abs((d - ref + 180.0) % 360.0 - 180.0) > 90.0
    return np.where(np.isfinite(ref) & lejos, (d + 180.0) % 360.0, d)


def _dispersion1(r1):
    return np.degrees(np.sqrt(2.0 * (1.0 - np.minimum(r1, 1.0))))


def _dispersion2(m2):
    return np.degrees(np.sqrt(0.5 * (1.0 - np.minimum(m2, 1.0))))


def momentos(f, P):
    """Per frequency: a1, b1, a2, b2 (moments of the from-direction,
    clockwise from north) and the check factor, NaN where a density is
    zero."""
    Szz = P[0, 0].real
    Snn, See = P[1, 1].real, P[2, 2].real
    Svv = Snn + See
    w = 2.0 * np.pi * np.asarray(f, dtype=float)
    with np.errstate(invalid="ignore", divide="ignore"):
        den = np.sqrt(np.maximum(Szz * Svv, 0.0))
        a1 = np.where(den > 0, P[0, 1].real / den, np.nan)
        b1 = np.where(den > 0, P[0, 2].real / den, np.nan)
        a2 = np.where(Svv > 0, (Snn - See) / Svv, np.nan)
        b2 = np.where(Svv > 0, 2.0 * P[1, 2].real / Svv, np.nan)
        k = np.where((Szz > 0) & (w > 0), np.sqrt(Svv / np.maximum(w * w * Szz, 1e-300)), np.nan)
    return a1, b1, a2, b2, k


def factor_de_control(f, S, k, banda=BANDA_HZ):
    """The check factor of the whole band: k weighted by the heave's
    variance density over the bins where both are there."""
    sel = (f >= banda[0]) & (f <= banda[1]) & np.isfinite(k) & np.isfinite(S)
    E = S[sel]
    if not np.sum(E) > 0:
        return np.nan
    return float(np.sum(k[sel] * E) / np.sum(E))


def direcciones_por_frecuencia(a1, b1, a2, b2):
    """Mean direction, spread, principal direction and second-order spread
    (degrees) at each frequency."""
    r1 = np.hypot(a1, b1)
    m2 = np.hypot(a2, b2)
    media = np.where(np.isfinite(r1), _angulo(np.arctan2(b1, a1)), np.nan)
    principal = np.where(np.isfinite(m2), _mas_cerca(np.degrees(np.arctan2(b2, a2)), media), np.nan)
    return media, _dispersion1(r1), principal, _dispersion2(m2)


def segundo_orden(f, S, a2, b2, media, banda=BANDA_HZ):
    """Energy-weighted a2, b2 over the band, the principal direction (on the
    side of the mean direction) and the second-order spread."""
    sel = (f >= banda[0]) & (f <= banda[1]) & np.isfinite(a2) & np.isfinite(b2)
    E = S[sel]
    if not np.sum(E) > 0:
        return dict(a2=np.nan, b2=np.nan, dir_principal=np.nan, spread2=np.nan)
    A2 = float(np.sum(a2[sel] * E) / np.sum(E))
    B2 = float(np.sum(b2[sel] * E) / np.sum(E))
    return dict(a2=A2, b2=B2, dir_principal=float(_mas_cerca(math.degrees(math.atan2(B2, A2)), media)),
                spread2=float(_dispersion2(math.hypot(A2, B2))))


def grados_de_libertad_de(presente, fs, segmento_s=SEGMENTO_S):
    """The degrees of freedom of welch() on this mask of present samples."""
    n = int(round(segmento_s * fs))
    return grados_de_libertad(segmentos_validos(presente, n), n)


def correlacion_ventana(n):
    """Correlation of the Hann window with itself shifted half its length."""
    w = np.hanning(n + 2)[1:-1]
    return float(np.dot(w[:n - n // 2], w[n // 2:]) / np.dot(w, w))


def grados_de_libertad(inicios, n):
    """Equivalent degrees of freedom of a Welch average of Hann-windowed
    segments of n samples starting at inicios: 2 per segment, less what two
    half-overlapped segments share (Welch, 1967): nu = 2 K^2 / (K + 2 P rho^2),
    K segments of which P pairs overlap by half, rho the window's correlation
    at that shift (0.167 for Hann: 22 contiguous segments give 41.9)."""
    K = len(inicios)
    if not K:
        return 0.0
    s = set(int(i) for i in inicios)
    pares = sum(1 for i in s if i + n // 2 in s)
    rho = correlacion_ventana(n)
    return 2.0 * K * K / (K + 2.0 * pares * rho * rho)


@functools.lru_cache(maxsize=4096)
def limites_confianza(nu, nivel=CONFIANZA):
    """Factors (lower, upper) that turn a spectral density of nu degrees of
    freedom into its confidence interval at nivel: nu / chi2 quantiles."""
    if not nu > 0:
        return np.nan, np.nan
    from scipy.stats import chi2
    a = (1.0 - nivel) / 2.0
    return float(nu / chi2.ppf(1.0 - a, nu)), float(nu / chi2.ppf(a, nu))


def direcciones_mem(paso=PASO_DIRECCION):
    """The from-directions (degrees, clockwise from north) of D(f, th)."""
    return np.arange(0.0, 360.0, paso)


def mem(a1, b1, a2, b2, th_grados):
    """Maximum entropy directional distribution D (frequency x direction,
    rad^-1) from the moments; NaN rows where a moment is missing.

    Moments no distribution can have (r1 = 1 from a single train, or a set
    spoiled by noise) are drawn towards the uniform distribution, the same
    factor for both orders (a share of D spread evenly), until they can; D is
    normalised on the grid, so that its sum times the step is 1.

    For a spreading law whose m2 is close to the least any distribution with
    its r1 can have (a cos-2s law, a wrapped normal), this estimate puts two
    peaks either side of the mean direction: that is the method's, and the
    moments, not D, are then what was measured."""
    a1, b1, a2, b2 = (np.atleast_1d(np.asarray(x, dtype=float)) for x in (a1, b1, a2, b2))
    ok = np.isfinite(a1) & np.isfinite(b1) & np.isfinite(a2) & np.isfinite(b2)
    c1 = np.where(ok, a1 + 1j * b1, 0.0)
    c2 = np.where(ok, a2 + 1j * b2, 0.0)
    tope = 0.995
    mayor = np.maximum(np.abs(c1), np.abs(c2))
    factor = np.where(mayor > tope, tope / np.maximum(mayor, 1e-300), 1.0)
    for _ in range(60):
        d1, d2 = c1 * factor, c2 * factor
        p1 = (d1 - d2 * np.conj(d1)) / (1.0 - np.abs(d1) ** 2)
        p2 = d2 - d1 * p1
        num = (1.0 - p1 * np.conj(d1) - p2 * np.conj(d2)).real
        malos = ok & ~(num > 1e-9)
        if not np.any(malos):
            break
        factor = np.where(malos, factor * 0.95, factor)
    th = np.radians(np.asarray(th_grados, dtype=float))
    e1 = np.exp(-1j * th)[None, :]
    den = np.abs(1.0 - p1[:, None] * e1 - p2[:, None] * e1 * e1) ** 2
    D = np.maximum(num[:, None], 0.0) / (2.0 * np.pi * np.maximum(den, 1e-12))
    paso = 2.0 * np.pi / len(th)
    suma = D.sum(axis=1) * paso
    with np.errstate(invalid="ignore", divide="ignore"):
        D = np.where((suma > 0)[:, None], D / suma[:, None], np.nan)
    D[~ok] = np.nan
    return D
