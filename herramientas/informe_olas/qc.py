"""Repair and quality control of one averaging interval.

The tests are those of the QARTOD manual for real-time quality control of
in-situ surface wave data, under its names, with its codes: 1 pass, 2 not
evaluated, 3 suspect, 4 fail, 9 missing. Every bound is a constant here; the
NetCDF writes them as attributes of each test's flag and the README lists
them.

Short faults are repaired first, as the manual does: a bad point (a value
the buoy could not write, a spike, an acceleration no wave gives, a value
out of range) or a lost sample, in a run of at most REPARABLE samples, is
interpolated from the good samples around it, counted, and costs the
interval's share of good samples. A heave far outside the interval's spread
is counted and flagged, not replaced: it may be a real crest. The heave is judged apart
from the velocities: a bad velocity costs the heave nothing, so the heave's
spectrum, Hm0 and the periods keep every segment; only the directions need
all three.
"""

import numpy as np

PASA, NO_EVALUADO, SOSPECHOSO, FALLA, FALTA = 1, 2, 3, 4, 9

# Repair: runs of at most this many bad or missing samples, and not longer
# than REPARABLE_S, are interpolated (one sample at the least).
REPARABLE = 3
REPARABLE_S = 0.5
# Time series gap test: the longest run of missing samples left after the
# repair, as a share of the interval; fewer full heave segments than
# SEGMENTOS_MINIMOS fails.
HUECO_SOSPECHOSO, HUECO_FALLA = 0.01, 0.10
SEGMENTOS_MINIMOS = 4
# The point tests (spike, range, acceleration, mean and standard deviation)
# mark samples, which the repair fills and the percent good test counts; the
# interval is suspect or failed by them only when they are that common.
# Spike test: a sample further than SPIKE_SIGMAS robust standard deviations
# of the differences from the mean of its two neighbours; share of them.
SPIKE_SIGMAS = 6.0
SPIKE_SOSPECHOSO, SPIKE_FALLA = 0.01, 0.05
# Range test: heave (m) and horizontal speed (m/s) a buoy can give.
HEAVE_MAX_M = 20.0
VELOCIDAD_MAX_MS = 10.0
RANGO_SOSPECHOSO, RANGO_FALLA = 0.0, 0.01
# Acceleration test: vertical acceleration beyond this share of g.
G = 9.80665
ACELERACION_G = 0.5
ACELERACION_SOSPECHOSO, ACELERACION_FALLA = 0.01, 0.05
# Mean and standard deviation test: heave further than this many standard
# deviations from the interval's mean; share of them.
MEDIA_SIGMAS = 5.0
MEDIA_SOSPECHOSO, MEDIA_FALLA = 0.01, 0.05
# Segment shift test: the mean heave of consecutive SEGMENTO_MEDIA_S blocks
# differs by more than max(DESPLAZAMIENTO_M, DESPLAZAMIENTO_SIGMAS sigma).
SEGMENTO_MEDIA_S = 60.0
DESPLAZAMIENTO_M, DESPLAZAMIENTO_SIGMAS = 0.10, 0.5
# Flat line test: the same heave, north and east velocity repeated (seconds).
PLANO_SOSPECHOSO_S, PLANO_FALLA_S = 1.0, 3.0
# Low-frequency energy test: heave variance below BAJA_HZ over the variance
# in the band of the bulk parameters.
BAJA_HZ = 0.03
BAJA_SOSPECHOSA, BAJA_FALLA = 0.5, 1.5
# Percent good test: share of samples with heave and both velocities as
# written (not lost, not repaired); the manual recommends at least 90 %.
BUENAS_SOSPECHOSO, BUENAS_FALLA = 95.0, 90.0
# Bulk wave parameters max/min/acceptable range test.
HM0_MAX_M = 20.0
HM0_MIN_M = 0.05        # below this the directions mean little: suspect
TP_RANGO_S = (2.0, 30.0)
SPREAD_MAX_DEG = 80.0   # Kuik's spread of an isotropic sea is 81 degrees
# Check factor test: the energy-weighted check factor over the band of the
# bulk parameters (horizontal over vertical motion, 1 in deep water and
# 1/tanh(kh) at depth h: 1.5 is kh = 0.8, a 8-s wave in 8 m of water). The
# manual gives it a soft flag only: suspect outside these bounds, never fail.
CONTROL_PASA = (0.75, 1.5)
# Operational frequency range test: the band the buoy's hull follows the
# surface in and the bulk parameters use (FRECUENCIA_OPERATIVA_HZ). The
# heave spectrum's highest peak (above 0 Hz) outside it fails; variance above
# the band's top over the variance in it above FUERA_SOSPECHOSA is suspect
# (a Pierson-Moskowitz sea peaking at 0.33 Hz, a 3-s wind sea, has 0.2).
FRECUENCIA_OPERATIVA_HZ = (BAJA_HZ, 0.5)
FUERA_SOSPECHOSA = 0.25
# Rate of change test: each interval's bulk values against the interval
# before it, over the time between their starts; not evaluated for the first
# interval, after a gap (starts more than CAMBIO_HUECO intervals apart), or
# when either interval failed or missed another test. Hm0: suspect above
# max(HM0_CAMBIO_M_H, HM0_CAMBIO_RELATIVO x their mean Hm0) per hour, fail
# above CAMBIO_FALLA times that (a storm builds by a metre or two an hour;
# Hm0 of one 20-minute record varies by about 10 %). Tm02: suspect above
# TM02_CAMBIO_S_H, fail above CAMBIO_FALLA times that. Mean direction, where
# both spreads are below DISPERSION_MAXIMA and both Hm0 at least HM0_MIN_M:
# suspect above DIRECCION_CAMBIO_DEG_H, never fail (a sea breeze or an
# arriving swell turns it fast). Tp is not judged: in a sea of two peaks it
# jumps between them from one interval to the next.
HM0_CAMBIO_M_H, HM0_CAMBIO_RELATIVO = 2.0, 0.5
TM02_CAMBIO_S_H = 6.0
DIRECCION_CAMBIO_DEG_H = 90.0
CAMBIO_FALLA = 2.5
CAMBIO_HUECO = 1.5
# The buoy's heading and alignment percentages (the sensor's own status).
CALIDAD_SOSPECHOSA, CALIDAD_FALLA = 90, 50
# Zero-crossing against spectral values: not a test of the data against a
# fault but of two methods against each other, so it never enters the
# aggregate flag. H1/3 over Hm0 is about 0.95 for seas of ordinary width
# (Longuet-Higgins' narrow-band value is 1.0; broad spectra give less); the
# buoy's zero-crossing mean direction against the spectral one differs on
# seas with a long swell under a spread sea.
RAZON_PASA = (0.80, 1.10)
RAZON_SOSPECHA = (0.65, 1.25)
DIRECCION_PASA, DIRECCION_SOSPECHA = 20.0, 45.0
OLAS_MINIMAS = 20
DISPERSION_MAXIMA = 60.0

# The tests that make the aggregate flag, then the comparison of methods.
AGREGADOS = ("gap", "spike", "range", "acceleration", "mean_std", "segment_shift", "flat_line",
             "low_frequency", "operational_frequency", "check_factor", "percent_good", "bulk_range",
             "rate_of_change", "fw_quality")
COMPARACION = "zero_crossing_agreement"
NOMBRES = AGREGADOS + (COMPARACION,)

# The manual's name of each test.
NOMBRE_QARTOD = {
    "gap": "Time Series Gap Test",
    "spike": "Time Series Spike Test",
    "range": "Time Series Range Test",
    "acceleration": "Time Series Acceleration Test",
    "mean_std": "Time Series Mean and Standard Deviation Test",
    "segment_shift": "Time Series Segment Shift Test",
    "flat_line": "Time Series Flat Line Test",
    "low_frequency": "Time Series Low-Frequency Energy Test",
    "operational_frequency": "Time Series Operational Frequency Range Test",
    "check_factor": "Check Factor Test (check ratio of horizontal to vertical motion)",
    "percent_good": "Percent Points Good (the check for M % good data)",
    "bulk_range": "Bulk Wave Parameters Max/Min/Acceptable Range Test",
    "rate_of_change": "Bulk Wave Parameters Rate of Change Test",
    "fw_quality": "Sensor status (the buoy's heading and alignment percentages)",
    COMPARACION: "Zero-crossing against spectral values (buoy's H1/3 over Hm0, mean directions)",
}


def _tramos(malo):
    """(start, end exclusive) of the runs of True in malo."""
    b = np.diff(np.concatenate(([0], malo.astype(np.int8), [0])))
    return np.nonzero(b == 1)[0], np.nonzero(b == -1)[0]


def _interpolar(x, malo, maximo):
    """x with the runs of malo of at most maximo samples filled from the
    good samples around them (a cubic through two either side, or a line
    where only one is there); the longer runs left NaN. Returns (new x,
    mask of the filled samples)."""
    y = np.array(x, dtype=float)
    y[malo] = np.nan
    lleno = np.zeros(len(y), dtype=bool)
    bueno = ~malo & np.isfinite(y)
    for a, b in zip(*_tramos(~bueno)):
        if b - a > maximo or a == 0 or b == len(y):
            continue
        izq = [i for i in (a - 2, a - 1) if i >= 0 and bueno[i]]
        der = [i for i in (b, b + 1) if i < len(y) and bueno[i]]
        k = np.array(izq + der, dtype=float)
        if len(izq) == 2 and len(der) == 2:
            coef = np.polyfit(k - a, y[izq + der], 3)
            y[a:b] = np.polyval(coef, np.arange(b - a, dtype=float))
        else:
            y[a:b] = np.interp(np.arange(a, b), [a - 1, b], [y[a - 1], y[b]])
        lleno[a:b] = True
    return y, lleno


def _picos(x, bueno):
    """Samples further than SPIKE_SIGMAS robust standard deviations (not
    below the resolution, 1 cm or 1 mm/s) from the mean of their two
    neighbours."""
    picos = np.zeros(len(x), dtype=bool)
    if np.sum(bueno) < 10:
        return picos
    d = np.full(len(x), np.nan)
    d[1:-1] = x[1:-1] - 0.5 * (x[:-2] + x[2:])
    v = d[np.isfinite(d)]
    if not len(v):
        return picos
    sigma = max(np.median(np.abs(v - np.median(v))) * 1.4826, 0.01)
    with np.errstate(invalid="ignore"):
        picos = np.abs(d) > SPIKE_SIGMAS * sigma
    # The neighbours of a spike stray by half as much: only the worst of
    # three is the spike.
    peor = np.abs(np.nan_to_num(d))
    local = np.maximum(peor, np.maximum(np.roll(peor, 1), np.roll(peor, -1)))
    return picos & (peor >= local)


def reparar(heave, vn, ve, fs):
    """Finds the bad points of one interval's series (on its regular grid,
    NaN where no sample) and repairs the short faults. Returns a dict: the
    repaired 'heave', 'vn', 've' (NaN where still missing), the masks
    'faltaba' (no sample), 'pico_heave', 'pico_vel', 'fuera_rango',
    'aceleracion', 'lejos_media', 'reparada_heave', 'reparada_vel', and
    the counts."""
    n = len(heave)
    faltaba = ~np.isfinite(heave)
    vel_mala = ~(np.isfinite(vn) & np.isfinite(ve))  # lost, or written as out of range
    with np.errstate(invalid="ignore"):
        fuera_h = np.abs(heave) > HEAVE_MAX_M
        fuera_v = np.hypot(vn, ve) > VELOCIDAD_MAX_MS
    pico_h = _picos(np.where(fuera_h, np.nan, heave), ~faltaba & ~fuera_h)
    pico_v = _picos(np.where(fuera_v, np.nan, vn), ~vel_mala & ~fuera_v) | \
        _picos(np.where(fuera_v, np.nan, ve), ~vel_mala & ~fuera_v)
    acel = np.zeros(n, dtype=bool)
    if n > 2:
        a2 = np.zeros(n)
        a2[1:-1] = np.nan_to_num(np.abs(heave[2:] - 2 * heave[1:-1] + heave[:-2])) * fs * fs
        # A bad sample bends its neighbours' curvature by half as much: the
        # sample is the one where it is largest.
        local = np.maximum(a2, np.maximum(np.roll(a2, 1), np.roll(a2, -1)))
        acel = (a2 > ACELERACION_G * G) & (a2 >= local)
    lejos = np.zeros(n, dtype=bool)
    bueno_h = ~faltaba & ~fuera_h & ~pico_h
    if np.sum(bueno_h) > 10:
        mu, sd = np.mean(heave[bueno_h]), np.std(heave[bueno_h])
        with np.errstate(invalid="ignore"):
            lejos = np.abs(heave - mu) > MEDIA_SIGMAS * max(sd, 0.01)
    # A heave far out in the interval's spread is flagged but kept: it may be
    # the crest of a rare high wave, which a repair would take away.
    malo_h = faltaba | fuera_h | pico_h | acel
    malo_v = faltaba | vel_mala | fuera_v | pico_v
    maximo = max(1, min(REPARABLE, int(REPARABLE_S * fs)))
    h, rep_h = _interpolar(heave, malo_h, maximo)
    vn2, rep_n = _interpolar(vn, malo_v, maximo)
    ve2, rep_e = _interpolar(ve, malo_v, maximo)
    rep_v = rep_n | rep_e
    # The velocities of a sample whose heave is gone are gone with it.
    vn2[~np.isfinite(h)] = np.nan
    ve2[~np.isfinite(h)] = np.nan
    return dict(
        heave=h, vn=vn2, ve=ve2, faltaba=faltaba, pico_heave=pico_h, pico_vel=pico_v,
        fuera_rango=(fuera_h | fuera_v) & ~faltaba, aceleracion=acel & ~pico_h, lejos_media=lejos,
        reparada_heave=rep_h, reparada_vel=rep_v, malo_heave=malo_h & ~faltaba, malo_vel=malo_v & ~faltaba,
        esperadas=n, faltan=int(np.sum(faltaba)), reparadas_heave=int(np.sum(rep_h)),
        reparadas_velocidad=int(np.sum(rep_v)),
        buenas=int(np.sum(~malo_h & ~malo_v & ~lejos)),
        sin_reparar=int(np.sum(~np.isfinite(h))),
    )


CONTADORES = ("esperadas", "faltan", "reparadas_heave", "reparadas_velocidad", "buenas", "sin_reparar")


def _tramo_mas_largo(x):
    if not np.any(x):
        return 0
    a, b = _tramos(x)
    return int(np.max(b - a))


def _tramo_mas_largo_igual(x):
    """Longest run of identical rows of x (n x k)."""
    if len(x) < 2:
        return len(x)
    igual = np.all(x[1:] == x[:-1], axis=1)
    return _tramo_mas_largo(igual) + 1


def _grado(valor, sospecha, falla):
    if valor > falla:
        return FALLA
    if valor > sospecha:
        return SOSPECHOSO
    return PASA


def _dif_angular(a, b):
    return abs((a - b + 180.0) % 360.0 - 180.0)


def _comparacion(fw, esp):
    """The buoy's zero-crossing values against the spectral ones: the worse
    of H1/3 over Hm0 and of the two mean directions."""
    if fw is None:
        return NO_EVALUADO
    codigos = []
    razon = esp.get("h13_over_hm0", np.nan)
    if fw["olas"] >= OLAS_MINIMAS and np.isfinite(razon):
        if RAZON_PASA[0] <= razon <= RAZON_PASA[1]:
            codigos.append(PASA)
        elif RAZON_SOSPECHA[0] <= razon <= RAZON_SOSPECHA[1]:
            codigos.append(SOSPECHOSO)
        else:
            codigos.append(FALLA)
    dfw, dsp, disp = fw.get("dir_ddeg"), esp.get("dir_mean", np.nan), esp.get("spread", np.nan)
    if dfw is not None and dfw != 9999 and fw["olas"] >= OLAS_MINIMAS and np.isfinite(dsp) \
            and disp < DISPERSION_MAXIMA:
        codigos.append(_grado(_dif_angular(dfw / 10.0, dsp), DIRECCION_PASA, DIRECCION_SOSPECHA))
    return max(codigos) if codigos else NO_EVALUADO


def _frecuencia_operativa(espectro):
    """The heave spectrum's highest peak within the operational band (else
    fail), and little variance above it (else suspect)."""
    if espectro is None:
        return NO_EVALUADO
    f, S = np.asarray(espectro[0], dtype=float), np.asarray(espectro[1], dtype=float)
    sel = (f > 0) & np.isfinite(S)
    if len(f) < 2 or not np.any(sel) or not np.any(S[sel] > 0):
        return NO_EVALUADO
    lo, hi = FRECUENCIA_OPERATIVA_HZ
    fp = f[sel][int(np.argmax(S[sel]))]
    if not lo <= fp <= hi:
        return FALLA
    banda = np.sum(S[sel & (f >= lo) & (f <= hi)])
    encima = np.sum(S[sel & (f > hi)])
    return SOSPECHOSO if encima > FUERA_SOSPECHOSA * banda else PASA


def _cambio(antes, ahora, horas):
    """The rate of change code of one interval's bulk values (dicts of the
    spectral results) against the interval before it, horas apart."""
    codigos = []
    h0, h1 = antes.get("hm0", np.nan), ahora.get("hm0", np.nan)
    if np.isfinite(h0) and np.isfinite(h1):
        limite = max(HM0_CAMBIO_M_H, HM0_CAMBIO_RELATIVO * 0.5 * (h0 + h1))
        codigos.append(_grado(abs(h1 - h0) / horas, limite, CAMBIO_FALLA * limite))
    t0, t1 = antes.get("tm02", np.nan), ahora.get("tm02", np.nan)
    if np.isfinite(t0) and np.isfinite(t1):
        codigos.append(_grado(abs(t1 - t0) / horas, TM02_CAMBIO_S_H, CAMBIO_FALLA * TM02_CAMBIO_S_H))
    d0, d1 = antes.get("dir_mean", np.nan), ahora.get("dir_mean", np.nan)
    s0, s1 = antes.get("spread", np.nan), ahora.get("spread", np.nan)
    if np.all(np.isfinite([d0, d1, s0, s1, h0, h1])) and max(s0, s1) < DISPERSION_MAXIMA \
            and min(h0, h1) >= HM0_MIN_M:
        codigos.append(SOSPECHOSO if _dif_angular(d1, d0) / horas > DIRECCION_CAMBIO_DEG_H else PASA)
    return max(codigos) if codigos else NO_EVALUADO


def _sin_cambio(r):
    """The aggregate of one interval's tests but this one (so a second pass
    over the same intervals gives the same codes)."""
    if r.get("qc_flag") == FALTA:
        return FALTA
    otros = [r[n] for n in AGREGADOS if n != "rate_of_change" and n in r and r[n] != NO_EVALUADO]
    return max(otros) if otros else NO_EVALUADO


def tasa_de_cambio(intervalos):
    """The rate of change test of every interval (in time order), each
    against the one before it, folded into its aggregate flag. The previous
    interval counts only when it is adjacent (its start at most CAMBIO_HUECO
    of this interval's length before this one's) and none of its other tests
    failed or missed: a bad interval would flag a good one after it."""
    orden = sorted((i for i in intervalos if i.qc), key=lambda i: i.inicio)
    propio = [_sin_cambio(i.qc) for i in orden]
    for k, it in enumerate(orden):
        codigo = NO_EVALUADO
        if k > 0 and propio[k] != FALTA and propio[k - 1] not in (FALLA, FALTA):
            antes = orden[k - 1]
            paso = (it.inicio - antes.inicio).total_seconds()
            largo = (it.fin - it.inicio).total_seconds()
            if 0 < paso <= CAMBIO_HUECO * max(largo, 1.0):
                codigo = _cambio(antes.esp, it.esp, paso / 3600.0)
        if propio[k] == FALTA:
            codigo = FALTA
        it.qc["rate_of_change"] = codigo
        if propio[k] != FALTA:
            evaluados = [c for c in (propio[k], codigo) if c != NO_EVALUADO]
            it.qc["qc_flag"] = max(evaluados) if evaluados else NO_EVALUADO


def evaluar(rep, fs, fw, esp, espectro=None):
    """The tests of one interval. rep: what reparar found; fw: the buoy's
    record (dict or None); esp: the spectral results; espectro: (f, S, ...)
    or None. Returns dict test -> code, and 'qc_flag' (the aggregate: the
    worst evaluated test, the comparison of methods left out)."""
    r = {}
    n = rep["esperadas"]
    h = rep["heave"]
    if n == 0 or rep["faltan"] == n:
        r = {k: FALTA for k in NOMBRES}
        r["qc_flag"] = FALTA
        return r
    # Gap: what the repair could not fill.
    queda = ~np.isfinite(h)
    r["gap"] = _grado(_tramo_mas_largo(queda) / n, HUECO_SOSPECHOSO, HUECO_FALLA)
    if esp.get("segmentos", 0) < SEGMENTOS_MINIMOS:
        r["gap"] = FALLA
    presentes = n - rep["faltan"]
    cuota = lambda m: float(np.sum(m)) / presentes
    r["spike"] = _grado(cuota(rep["pico_heave"] | rep["pico_vel"]), SPIKE_SOSPECHOSO, SPIKE_FALLA)
    r["range"] = _grado(cuota(rep["fuera_rango"]), RANGO_SOSPECHOSO, RANGO_FALLA)
    r["acceleration"] = _grado(cuota(rep["aceleracion"]), ACELERACION_SOSPECHOSO, ACELERACION_FALLA)
    r["mean_std"] = _grado(cuota(rep["lejos_media"]), MEDIA_SOSPECHOSO, MEDIA_FALLA)

    bloque = int(round(SEGMENTO_MEDIA_S * fs))
    medias = []
    for i in range(0, n - bloque + 1, bloque):
        x = h[i:i + bloque]
        if np.sum(np.isfinite(x)) > 0.8 * bloque:
            medias.append(np.nanmean(x))
        else:
            medias.append(np.nan)
    medias = np.array(medias)
    sd = np.nanstd(h) if np.any(np.isfinite(h)) else 0.0
    saltos = np.abs(np.diff(medias))
    saltos = saltos[np.isfinite(saltos)]
    if len(saltos):
        r["segment_shift"] = FALLA if np.max(saltos) > max(DESPLAZAMIENTO_M, DESPLAZAMIENTO_SIGMAS * sd) else PASA
    else:
        r["segment_shift"] = NO_EVALUADO

    filas = np.column_stack([h, rep["vn"], rep["ve"]])[np.isfinite(h)]
    plano = _tramo_mas_largo_igual(filas) / fs
    r["flat_line"] = _grado(plano, PLANO_SOSPECHOSO_S, PLANO_FALLA_S)

    if espectro is not None:
        f, S = espectro[0], espectro[1]
        df = f[1] - f[0]
        baja = np.sum(S[(f > 0) & (f < BAJA_HZ)]) * df
        banda = np.sum(S[(f >= BAJA_HZ) & (f <= 0.5)]) * df
        r["low_frequency"] = _grado(baja / banda, BAJA_SOSPECHOSA, BAJA_FALLA) if banda > 0 else FALLA
    else:
        r["low_frequency"] = NO_EVALUADO
    r["operational_frequency"] = _frecuencia_operativa(espectro)

    kb = esp.get("check_factor", np.nan)
    if kb is not None and np.isfinite(kb):
        r["check_factor"] = PASA if CONTROL_PASA[0] <= kb <= CONTROL_PASA[1] else SOSPECHOSO
    else:
        r["check_factor"] = NO_EVALUADO

    buenas = 100.0 * rep["buenas"] / n
    r["percent_good"] = FALLA if buenas < BUENAS_FALLA else (SOSPECHOSO if buenas < BUENAS_SOSPECHOSO else PASA)

    hm0, tp, sp = esp.get("hm0", np.nan), esp.get("tp", np.nan), esp.get("spread", np.nan)
    if not np.isfinite(hm0):
        r["bulk_range"] = NO_EVALUADO
    elif hm0 > HM0_MAX_M or not (TP_RANGO_S[0] <= tp <= TP_RANGO_S[1]):
        r["bulk_range"] = FALLA
    elif hm0 < HM0_MIN_M or (np.isfinite(sp) and sp > SPREAD_MAX_DEG):
        r["bulk_range"] = SOSPECHOSO
    else:
        r["bulk_range"] = PASA
    # Judged against the interval before it, by tasa_de_cambio.
    r["rate_of_change"] = NO_EVALUADO

    if fw is None or fw["olas"] <= 0:
        r["fw_quality"] = NO_EVALUADO
    else:
        peor = min(fw["heading_pct"], fw["align_pct"])
        r["fw_quality"] = FALLA if peor < CALIDAD_FALLA else (SOSPECHOSO if peor < CALIDAD_SOSPECHOSA else PASA)

    r[COMPARACION] = _comparacion(fw, esp)
    evaluados = [r[k] for k in AGREGADOS if r[k] != NO_EVALUADO]
    r["qc_flag"] = max(evaluados) if evaluados else NO_EVALUADO
    return r


def umbrales(nombre):
    """The bounds of one test, as attributes of its flag variable."""
    u = {
        "gap": dict(repaired_run_max_samples=REPARABLE, repaired_run_max_s=REPARABLE_S,
                    suspect_run_share=HUECO_SOSPECHOSO,
                    fail_run_share=HUECO_FALLA, min_full_segments=SEGMENTOS_MINIMOS),
        "spike": dict(spike_sigmas=SPIKE_SIGMAS, suspect_share=SPIKE_SOSPECHOSO, fail_share=SPIKE_FALLA),
        "range": dict(heave_max_m=HEAVE_MAX_M, speed_max_m_s=VELOCIDAD_MAX_MS, suspect_share=RANGO_SOSPECHOSO,
                      fail_share=RANGO_FALLA),
        "acceleration": dict(acceleration_max_g=ACELERACION_G, suspect_share=ACELERACION_SOSPECHOSO,
                             fail_share=ACELERACION_FALLA),
        "mean_std": dict(sigmas=MEDIA_SIGMAS, suspect_share=MEDIA_SOSPECHOSO, fail_share=MEDIA_FALLA),
        "segment_shift": dict(block_s=SEGMENTO_MEDIA_S, shift_min_m=DESPLAZAMIENTO_M,
                              shift_sigmas=DESPLAZAMIENTO_SIGMAS),
        "flat_line": dict(suspect_s=PLANO_SOSPECHOSO_S, fail_s=PLANO_FALLA_S),
        "low_frequency": dict(low_frequency_hz=BAJA_HZ, suspect_ratio=BAJA_SOSPECHOSA, fail_ratio=BAJA_FALLA),
        "operational_frequency": dict(band_hz=list(FRECUENCIA_OPERATIVA_HZ),
                                      suspect_variance_above_band_ratio=FUERA_SOSPECHOSA),
        "rate_of_change": dict(hm0_suspect_m_per_h=HM0_CAMBIO_M_H, hm0_suspect_share_per_h=HM0_CAMBIO_RELATIVO,
                               tm02_suspect_s_per_h=TM02_CAMBIO_S_H,
                               dir_mean_suspect_deg_per_h=DIRECCION_CAMBIO_DEG_H, fail_factor=CAMBIO_FALLA,
                               max_step_intervals=CAMBIO_HUECO, direction_max_spread_deg=DISPERSION_MAXIMA,
                               direction_min_hm0_m=HM0_MIN_M),
        "check_factor": dict(suspect_below=CONTROL_PASA[0], suspect_above=CONTROL_PASA[1],
                             band_hz=[BAJA_HZ, 0.5]),
        "percent_good": dict(suspect_below_percent=BUENAS_SOSPECHOSO, fail_below_percent=BUENAS_FALLA),
        "bulk_range": dict(hm0_max_m=HM0_MAX_M, hm0_min_m=HM0_MIN_M, tp_min_s=TP_RANGO_S[0],
                           tp_max_s=TP_RANGO_S[1], spread_max_deg=SPREAD_MAX_DEG),
        "fw_quality": dict(suspect_below_percent=CALIDAD_SOSPECHOSA, fail_below_percent=CALIDAD_FALLA),
        COMPARACION: dict(h13_over_hm0_pass=list(RAZON_PASA), h13_over_hm0_suspect=list(RAZON_SOSPECHA),
                          direction_pass_deg=DIRECCION_PASA, direction_suspect_deg=DIRECCION_SOSPECHA,
                          min_waves=OLAS_MINIMAS, max_spread_deg=DISPERSION_MAXIMA),
    }
    return u[nombre]
