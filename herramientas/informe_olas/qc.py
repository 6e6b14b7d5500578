"""Quality control of one averaging interval, with the codes of the QARTOD
manual for in-situ surface wave data: 1 pass, 2 not evaluated, 3 suspect,
4 fail, 9 missing. Every bound is a constant here, and the README lists them.
"""

import numpy as np

PASA, NO_EVALUADO, SOSPECHOSO, FALLA, FALTA = 1, 2, 3, 4, 9

# Gaps: share of the interval's expected samples that are missing.
HUECO_SOSPECHOSO, HUECO_FALLA = 0.02, 0.25
# Segments of the spectrum: fewer than this many full segments fails.
SEGMENTOS_MINIMOS = 4
# Range: heave (m) and horizontal speed (m/s) a buoy can give.
HEAVE_MAX_M = 20.0
VELOCIDAD_MAX_MS = 10.0
# Flat line: the same heave, north and east velocity repeated this many
# samples in a row (at 10 Hz: 1 s suspect, 3 s fail).
PLANO_SOSPECHOSO_S, PLANO_FALLA_S = 1.0, 3.0
# Spikes: a sample further than SPIKE_SIGMAS robust standard deviations from
# the mean of its two neighbours; share of spikes that makes the interval
# suspect or failed.
SPIKE_SIGMAS = 6.0
SPIKE_SOSPECHOSO, SPIKE_FALLA = 0.0005, 0.01
# The firmware's heading and alignment percentages.
CALIDAD_SOSPECHOSA, CALIDAD_FALLA = 90, 50
# Consistency of the buoy's zero-crossing statistics with the spectrum.
# H1/3 over Hm0 is about 0.95 for sea states of ordinary width (Longuet-
# Higgins' Rayleigh value is 1.0 for a narrow spectrum; broad ones give less);
# outside these bounds the two disagree.
RAZON_PASA = (0.80, 1.10)
RAZON_SOSPECHA = (0.65, 1.25)
# The firmware's mean direction against the spectral mean direction, degrees.
DIRECCION_PASA, DIRECCION_SOSPECHA = 20.0, 45.0
# The direction test needs waves and a direction that means something.
OLAS_MINIMAS = 20
DISPERSION_MAXIMA = 60.0

NOMBRES = ("gap", "range", "flat_line", "spike", "fw_quality", "h13_hm0", "direction")


def _tramo_mas_largo_igual(x):
    """Longest run of identical rows of x (n x k)."""
    if len(x) < 2:
        return len(x)
    igual = np.all(x[1:] == x[:-1], axis=1)
    mejor = actual = 0
    # Runs of True in igual: a run of r equal steps is r + 1 equal samples.
    bordes = np.diff(np.concatenate(([0], igual.astype(np.int8), [0])))
    ini, fin = np.nonzero(bordes == 1)[0], np.nonzero(bordes == -1)[0]
    if len(ini):
        mejor = int(np.max(fin - ini)) + 1
    return max(mejor, actual, 1)


def _grado(valor, sospecha, falla):
    if valor > falla:
        return FALLA
    if valor > sospecha:
        return SOSPECHOSO
    return PASA


def _dif_angular(a, b):
    return abs((a - b + 180.0) % 360.0 - 180.0)


def evaluar(heave, vn, ve, presente, fs, segmentos, fw, esp):
    """The tests of one interval. heave, vn, ve on the interval's regular grid
    (NaN where missing); fw: the firmware's record (dict or None); esp: the
    spectral results. Returns dict test -> code, and 'qc_flag'."""
    r = {}
    n = len(presente)
    validos = int(np.sum(presente))
    if validos == 0:
        r = {k: FALTA for k in NOMBRES}
        r["qc_flag"] = FALTA
        return r
    falta = 1.0 - validos / n if n else 1.0
    r["gap"] = _grado(falta, HUECO_SOSPECHOSO, HUECO_FALLA)
    if segmentos < SEGMENTOS_MINIMOS:
        r["gap"] = FALLA

    h = heave[presente]
    # Velocities the buoy could not write are missing in the grid: judged
    # here on every sample that has a heave.
    con_heave = np.isfinite(heave)
    v = np.hypot(vn[con_heave], ve[con_heave])
    fuera_h = np.abs(h) > HEAVE_MAX_M
    fuera_v = ~np.isfinite(v) | (v > VELOCIDAD_MAX_MS)
    r["range"] = FALLA if np.any(fuera_h) else (SOSPECHOSO if np.any(fuera_v) else PASA)

    filas = np.column_stack([heave, vn, ve])[presente]
    plano = _tramo_mas_largo_igual(filas) / fs
    r["flat_line"] = _grado(plano, PLANO_SOSPECHOSO_S, PLANO_FALLA_S)

    if len(h) > 10:
        d = h[1:-1] - 0.5 * (h[:-2] + h[2:])
        mad = np.median(np.abs(d - np.median(d))) * 1.4826
        # Not below a centimetre: the heave's own resolution.
        sigma = max(mad, 0.01)
        picos = np.sum(np.abs(d) > SPIKE_SIGMAS * sigma) / len(d)
        r["spike"] = _grado(picos, SPIKE_SOSPECHOSO, SPIKE_FALLA)
    else:
        r["spike"] = NO_EVALUADO

    if fw is None:
        r["fw_quality"] = r["h13_hm0"] = r["direction"] = NO_EVALUADO
    else:
        peor = min(fw["heading_pct"], fw["align_pct"]) if fw["olas"] > 0 else None
        if peor is None:
            r["fw_quality"] = NO_EVALUADO
        elif peor < CALIDAD_FALLA:
            r["fw_quality"] = FALLA
        elif peor < CALIDAD_SOSPECHOSA:
            r["fw_quality"] = SOSPECHOSO
        else:
            r["fw_quality"] = PASA
        razon = esp.get("h13_over_hm0", np.nan)
        if fw["olas"] < OLAS_MINIMAS or not np.isfinite(razon):
            r["h13_hm0"] = NO_EVALUADO
        elif RAZON_PASA[0] <= razon <= RAZON_PASA[1]:
            r["h13_hm0"] = PASA
        elif RAZON_SOSPECHA[0] <= razon <= RAZON_SOSPECHA[1]:
            r["h13_hm0"] = SOSPECHOSO
        else:
            r["h13_hm0"] = FALLA
        dfw, dsp, disp = fw.get("dir_ddeg"), esp.get("dir_mean", np.nan), esp.get("spread", np.nan)
        if dfw is None or dfw == 9999 or fw["olas"] < OLAS_MINIMAS or not np.isfinite(dsp) \
                or not disp < DISPERSION_MAXIMA:
            r["direction"] = NO_EVALUADO
        else:
            r["direction"] = _grado(_dif_angular(dfw / 10.0, dsp), DIRECCION_PASA, DIRECCION_SOSPECHA)
    evaluados = [c for c in r.values() if c != NO_EVALUADO]
    r["qc_flag"] = max(evaluados) if evaluados else NO_EVALUADO
    return r
