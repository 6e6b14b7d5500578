"""The report's files: intervals.csv, waves.csv and olas.nc."""

import csv
import datetime

import numpy as np

from . import espectro, qc

# The interval table's columns; the first ones are fixed by name.
COLUMNAS = ["start_utc", "end_utc", "samples", "waves", "h13_m", "hmax_m", "h110_m", "hav_m", "tav_s",
            "dir_fw_deg", "hm0_m", "tp_s", "tm01_s", "tm02_s", "dir_mean_deg", "dir_peak_deg", "spread_deg",
            "h13_over_hm0", "qc_flag",
            # and more
            "tmax_s", "tpeak_fw_s", "t13_s", "t110_s", "spread_fw_deg", "dir2_fw_deg", "spread2_fw_deg",
            "heading_pct", "align_pct", "spread_peak_deg", "segments",
            "dir_principal_deg", "spread2_deg", "a2_mean", "b2_mean", "dof",
            "segments_direction", "dof_direction", "check_factor"] + ["qc_" + n for n in qc.NOMBRES] + \
           ["res_file"]


def _iso(t):
    return t.strftime("%Y-%m-%dT%H:%M:%SZ")


def _num(x, fmt):
    if x is None:
        return ""
    try:
        if not np.isfinite(x):
            return ""
    except TypeError:
        return ""
    return fmt % x


def fila_intervalo(it):
    fw, e = it.fw or {}, it.esp
    c = lambda k, d=100.0, fmt="%.2f": _num(fw[k] / d, fmt) if fw.get(k) is not None and fw.get(k) != 9999 else ""
    fila = {
        "start_utc": _iso(it.inicio), "end_utc": _iso(it.fin), "samples": it.muestras,
        "waves": fw.get("olas", ""),
        # The buoy's values, in its own resolution: centimetres and tenths.
        "h13_m": c("h13_cm"), "hmax_m": c("hmax_cm"), "h110_m": c("h110_cm"), "hav_m": c("hav_cm"),
        "tav_s": c("tav_ds", 10.0, "%.1f"), "dir_fw_deg": c("dir_ddeg", 10.0, "%.1f"),
        "tmax_s": c("tmax_ds", 10.0, "%.1f"), "tpeak_fw_s": c("tpico_ds", 10.0, "%.1f"),
        "t13_s": c("t13_ds", 10.0, "%.1f"), "t110_s": c("t110_ds", 10.0, "%.1f"),
        "spread_fw_deg": c("desv_ddeg", 10.0, "%.1f"), "dir2_fw_deg": c("dir2_ddeg", 10.0, "%.1f"),
        "spread2_fw_deg": c("desv2_ddeg", 10.0, "%.1f"),
        "heading_pct": fw.get("heading_pct", ""), "align_pct": fw.get("align_pct", ""),
        "hm0_m": _num(e.get("hm0"), "%.4f"), "tp_s": _num(e.get("tp"), "%.3f"),
        "tm01_s": _num(e.get("tm01"), "%.3f"), "tm02_s": _num(e.get("tm02"), "%.3f"),
        "dir_mean_deg": _num(e.get("dir_mean"), "%.2f"), "dir_peak_deg": _num(e.get("dir_peak"), "%.2f"),
        "spread_deg": _num(e.get("spread"), "%.2f"), "spread_peak_deg": _num(e.get("spread_peak"), "%.2f"),
        "h13_over_hm0": _num(e.get("h13_over_hm0"), "%.4f"), "segments": e.get("segmentos", 0),
        "dir_principal_deg": _num(e.get("dir_principal"), "%.2f"), "spread2_deg": _num(e.get("spread2"), "%.2f"),
        "a2_mean": _num(e.get("a2"), "%.4f"), "b2_mean": _num(e.get("b2"), "%.4f"), "dof": _num(e.get("gl"), "%.1f"),
        "segments_direction": e.get("segmentos_direccion", 0), "dof_direction": _num(e.get("gl_direccion"), "%.1f"),
        "check_factor": _num(e.get("check_factor"), "%.3f"),
        "qc_flag": it.qc.get("qc_flag", qc.FALTA), "res_file": fw.get("fichero", ""),
    }
    for n in qc.NOMBRES:
        fila["qc_" + n] = it.qc.get(n, qc.FALTA)
    return fila


def escribir_intervalos(ruta, intervalos):
    with open(ruta, "w", newline="") as h:
        w = csv.DictWriter(h, fieldnames=COLUMNAS)
        w.writeheader()
        for it in intervalos:
            w.writerow(fila_intervalo(it))


COLUMNAS_OLAS = ["time_utc", "number", "height_m", "period_s", "samples", "dir_fw_deg", "dir2_fw_deg",
                 "heading_pct", "align_pct", "wav_file"]


def escribir_olas(ruta, olas):
    with open(ruta, "w", newline="") as h:
        w = csv.writer(h)
        w.writerow(COLUMNAS_OLAS)
        for o in olas:
            d = o["direcciones"] + [None, None]
            w.writerow([o["tiempo"].strftime("%Y-%m-%dT%H:%MZ"), o["numero"], "%.2f" % (o["altura_cm"] / 100.0),
                        "%.1f" % (o["periodo_ds"] / 10.0), o["muestras"],
                        "" if d[0] is None else "%.1f" % (d[0] / 10.0),
                        "" if d[1] is None else "%.1f" % (d[1] / 10.0),
                        o["heading_pct"], o["align_pct"], o["fichero"]])


# ------------------------------------------------------------------ NetCDF

TIEMPO = "seconds since 1970-01-01 00:00:00 UTC"
BANDERAS = dict(flag_values=np.array([1, 2, 3, 4, 9], dtype=np.int8),
                flag_meanings="pass not_evaluated suspect fail missing_data")


class NetCDF:
    """olas.nc, written as the days go by: the samples day by day, the waves
    and intervals at the end."""

    def __init__(self, ruta, fuente, posicion=None, metadatos=None):
        """fuente names the card for the reader (its file or folder name, not
        a path of this machine); metadatos holds the station, institution and
        the like given on the command line."""
        import netCDF4
        self.nc = nc = netCDF4.Dataset(ruta, "w", format="NETCDF4")
        self.fuente = fuente
        self.posicion = posicion
        self.metadatos = dict(metadatos or {})
        nc.createDimension("sample", None)
        self.n = 0
        v = nc.createVariable("sample_time", "f8", ("sample",), zlib=True)
        v.setncatts(dict(standard_name="time", long_name="time of the sample", units=TIEMPO,
                         calendar="standard", axis="T",
                         comment="each line on a grid of the sampling rate anchored to its own stamped second of the "
                                 "buoy's clock; a lost sample has no row (samples_missing counts them)"))
        self._var("heave", "f4", ("sample",), units="m", positive="down",
                  long_name="heave of the buoy, positive down (the sensor's sign)",
                  comment="written by the buoy in whole centimetres rounded away from zero; "
                          "restored here to the middle of the centimetre it stands for")
        self._var("velocity_north", "f4", ("sample",), units="m s-1",
                  long_name="northward velocity of the buoy (orbital motion plus drift)")
        self._var("velocity_east", "f4", ("sample",), units="m s-1",
                  long_name="eastward velocity of the buoy (orbital motion plus drift)")
        self._var("yaw", "i2", ("sample",), units="degree",
                  long_name="heading of the buoy, clockwise from north")
        self._var("flag_heading", "i1", ("sample",), flag_values=np.array([0, 1], dtype=np.int8),
                  flag_meanings="heading_not_valid heading_valid",
                  long_name="sensor's heading-valid bit of the latest navigation log")
        self._var("flag_align", "i1", ("sample",), flag_values=np.array([0, 1], dtype=np.int8),
                  flag_meanings="alignment_not_valid alignment_valid",
                  long_name="sensor's alignment-valid bit of the latest navigation log")
        self.inicio = None
        self.fin = None

    def _var(self, nombre, tipo, dims, chunksizes=None, **atributos):
        relleno = {"f4": np.float32(np.nan), "f8": np.nan, "i2": np.int16(-32768), "i1": np.int8(-127),
                   "i4": np.int32(-2147483647)}[tipo]
        v = self.nc.createVariable(nombre, tipo, dims, zlib=True, fill_value=relleno, chunksizes=chunksizes)
        v.setncatts(atributos)
        return v

    def muestras(self, m):
        ok = np.isfinite(m["t"])
        k = int(np.sum(ok))
        if not k:
            return
        a, b = self.n, self.n + k
        nc = self.nc
        nc["sample_time"][a:b] = m["t"][ok]
        nc["heave"][a:b] = m["heave_m"][ok]
        nc["velocity_north"][a:b] = m["vn"][ok]
        nc["velocity_east"][a:b] = m["ve"][ok]
        nc["yaw"][a:b] = m["yaw_deg"][ok]
        nc["flag_heading"][a:b] = m["flag_heading"][ok]
        nc["flag_align"][a:b] = m["flag_align"][ok]
        self.n = b

    def olas(self, olas):
        nc = self.nc
        nc.createDimension("wave", len(olas))
        v = nc.createVariable("wave_time", "f8", ("wave",), zlib=True)
        v.setncatts(dict(standard_name="time", units=TIEMPO, calendar="standard",
                         long_name="clock minute at which the buoy wrote the wave (end of the wave)"))
        v[:] = [o["tiempo"].timestamp() for o in olas]
        campos = [
            ("wave_number", "i4", dict(units="1", long_name="wave number within its averaging interval"),
             lambda o: o["numero"]),
            ("wave_height", "f4", dict(units="m", long_name="zero up-crossing wave height (crest to trough)"),
             lambda o: o["altura_cm"] / 100.0),
            ("wave_period", "f4", dict(units="s", long_name="zero up-crossing wave period"),
             lambda o: o["periodo_ds"] / 10.0),
            ("wave_samples", "i4", dict(units="1", long_name="samples in the wave"), lambda o: o["muestras"]),
            ("wave_from_direction", "f4",
             dict(units="degree",
                  long_name="buoy's direction of the single wave (from, clockwise from north)",
                  comment="velocity change from crest to trough, turned by the buoy's direction correction "
                          "(half a turn by default, which makes it the direction the wave comes from); "
                          "9999 in the record (not computed) is missing"),
             lambda o: o["direcciones"][0] / 10.0 if o["direcciones"] and o["direcciones"][0] != 9999 else np.nan),
            ("wave_heading_percent", "i2", dict(units="percent", long_name="share of navigation logs with valid heading"),
             lambda o: o["heading_pct"]),
            ("wave_align_percent", "i2", dict(units="percent", long_name="share of navigation logs with valid alignment"),
             lambda o: o["align_pct"]),
        ]
        for nombre, tipo, att, f in campos:
            v = self._var(nombre, tipo, ("wave",), **att)
            if olas:
                v[:] = [f(o) for o in olas]

    def intervalos(self, ints):
        nc = self.nc
        nc.createDimension("interval", len(ints))
        nc.createDimension("nv", 2)
        t = nc.createVariable("time", "f8", ("interval",))
        t.setncatts(dict(standard_name="time", long_name="start of the averaging interval", units=TIEMPO,
                         calendar="standard", axis="T", bounds="time_bnds"))
        t[:] = [i.inicio.timestamp() for i in ints]
        tb = nc.createVariable("time_bnds", "f8", ("interval", "nv"))
        tb.units = TIEMPO
        if ints:
            tb[:] = [[i.inicio.timestamp(), i.fin.timestamp()] for i in ints]
        fw = lambda k, d: [(i.fw[k] / d) if i.fw and i.fw.get(k) not in (None, 9999) else np.nan for i in ints]
        es = lambda k: [i.esp.get(k, np.nan) for i in ints]
        fwc = "computed by the buoy from its zero up-crossing waves"
        f0 = next((i.espectro.f for i in ints if i.espectro is not None), None)
        bins = ""
        if f0 is not None:
            k = np.nonzero((f0 >= espectro.BANDA_HZ[0]) & (f0 <= espectro.BANDA_HZ[1]))[0]
            if len(k):
                bins = " (frequency bins %d to %d of the spectrum, %.4f to %.4f Hz, each %.4f Hz wide)" % (
                    k[0], k[-1], f0[k[0]], f0[k[-1]], f0[1] - f0[0])
        esc = "from the Welch spectrum of the interval's heave (%.1f s Hann segments, half overlapped, " \
              "detrended), band %.2f to %.2f Hz" % (espectro.SEGMENTO_S, espectro.BANDA_HZ[0], espectro.BANDA_HZ[1]) \
              + bins
        dirc = "first-order moments a1, b1 from the co-spectra of heave and horizontal velocity " \
               "(Kuik et al., 1988), energy-weighted over the band" + bins
        mom2 = "from the velocity spectra: a2 = (Snn - See) / (Snn + See), b2 = 2 Cne / (Snn + See) " \
               "(Kuik et al., 1988), energy-weighted over the band" + bins
        pc = int(round(100 * espectro.CONFIANZA))
        variables = [
            ("samples", "i4", dict(units="1", long_name="samples read in the interval"), [i.muestras for i in ints]),
            ("waves", "i4", dict(units="1", long_name="waves counted by the buoy"),
             [i.fw["olas"] if i.fw else -2147483647 for i in ints]),
            ("h13", "f4", dict(units="m", standard_name="sea_surface_wave_significant_height",
                               long_name="mean height of the highest third of the waves (H1/3)",
                               comment=fwc + "; the standard name's own definition (hm0 is the spectral estimate)"),
             fw("h13_cm", 100.0)),
            ("hmax", "f4", dict(units="m", standard_name="sea_surface_wave_maximum_height",
                                long_name="highest wave (Hmax)", comment=fwc), fw("hmax_cm", 100.0)),
            ("h110", "f4", dict(units="m", standard_name="sea_surface_wave_mean_height_of_highest_tenth",
                                long_name="mean height of the highest tenth (H1/10)", comment=fwc), fw("h110_cm", 100.0)),
            ("hav", "f4", dict(units="m", standard_name="sea_surface_wave_mean_height",
                               long_name="mean wave height", comment=fwc), fw("hav_cm", 100.0)),
            ("tav", "f4", dict(units="s", standard_name="sea_surface_wave_mean_period",
                               long_name="mean zero up-crossing period", comment=fwc), fw("tav_ds", 10.0)),
            ("t13", "f4", dict(units="s", standard_name="sea_surface_wave_significant_period",
                               long_name="mean period of the highest third of the waves", comment=fwc), fw("t13_ds", 10.0)),
            ("t110", "f4", dict(units="s", standard_name="sea_surface_wave_mean_period_of_highest_tenth",
                                long_name="mean period of the highest tenth of the waves", comment=fwc), fw("t110_ds", 10.0)),
            ("tmax", "f4", dict(units="s", standard_name="sea_surface_wave_maximum_period",
                                long_name="longest wave period", comment=fwc), fw("tmax_ds", 10.0)),
            ("tpeak_fw", "f4", dict(units="s", standard_name="sea_surface_wave_period_of_highest_wave",
                                    long_name="period of the highest wave", comment=fwc), fw("tpico_ds", 10.0)),
            ("dir_fw", "f4", dict(units="degree",
                                  long_name="buoy's mean wave direction (from, clockwise from north)",
                                  comment=fwc + "; the mean of its single waves' directions"),
             fw("dir_ddeg", 10.0)),
            ("spread_fw", "f4", dict(units="degree", long_name="buoy's mean absolute deviation of the wave directions",
                                     comment=fwc), fw("desv_ddeg", 10.0)),
            ("heading_percent", "f4", dict(units="percent", long_name="buoy's mean share of logs with valid heading"),
             fw("heading_pct", 1.0)),
            ("align_percent", "f4", dict(units="percent", long_name="buoy's mean share of logs with valid alignment"),
             fw("align_pct", 1.0)),
            ("hm0", "f4", dict(units="m", long_name="spectral significant wave height Hm0 = 4 sqrt(m0)",
                               comment=esc + "; the standard name sea_surface_wave_significant_height is "
                                       "defined as the highest third of the waves, and is the buoy's h13's"),
             es("hm0")),
            ("tp", "f4", dict(units="s", standard_name="sea_surface_wave_period_at_variance_spectral_density_maximum",
                              long_name="peak period", comment=esc + "; peak refined by a parabola"), es("tp")),
            ("tm01", "f4", dict(units="s",
                                standard_name="sea_surface_wave_mean_period_from_variance_spectral_density_first_frequency_moment",
                                long_name="mean period m0/m1", comment=esc), es("tm01")),
            ("tm02", "f4", dict(units="s",
                                standard_name="sea_surface_wave_mean_period_from_variance_spectral_density_second_frequency_moment",
                                long_name="mean period sqrt(m0/m2)", comment=esc), es("tm02")),
            ("dir_mean", "f4", dict(units="degree", standard_name="sea_surface_wave_from_direction",
                                    long_name="spectral mean wave direction (from, clockwise from north)", comment=dirc),
             es("dir_mean")),
            ("dir_peak", "f4", dict(units="degree",
                                    standard_name="sea_surface_wave_from_direction_at_variance_spectral_density_maximum",
                                    long_name="wave direction at the spectral peak (from, clockwise from north)",
                                    comment=dirc), es("dir_peak")),
            ("spread", "f4", dict(units="degree", long_name="directional spread sqrt(2 (1 - r1)) (Kuik)",
                                  comment=dirc), es("spread")),
            ("spread_peak", "f4", dict(units="degree", long_name="directional spread at the spectral peak",
                                       comment=dirc + "; peak bin and its two neighbours"), es("spread_peak")),
            ("a2_mean", "f4", dict(units="1", long_name="second-order directional moment a2, energy-weighted over the band",
                              comment=mom2), es("a2")),
            ("b2_mean", "f4", dict(units="1", long_name="second-order directional moment b2, energy-weighted over the band",
                              comment=mom2), es("b2")),
            ("dir_principal", "f4", dict(units="degree",
                                         long_name="principal wave direction atan2(b2, a2) / 2 (from, clockwise "
                                                   "from north), on the side of the mean direction", comment=mom2),
             es("dir_principal")),
            ("spread2", "f4", dict(units="degree", long_name="second-order directional spread sqrt((1 - m2) / 2), "
                                                            "m2 = sqrt(a2^2 + b2^2) (Kuik)", comment=mom2),
             es("spread2")),
            ("dof", "f4", dict(units="1", long_name="equivalent degrees of freedom of the heave spectrum",
                               comment="2 per Welch segment less the share of half-overlapped Hann segments "
                                       "(Welch, 1967); bins 0 and Nyquist have half; the heave spectrum uses "
                                       "every segment whose heave is complete"), es("gl")),
            ("dof_direction", "f4",
             dict(units="1", long_name="equivalent degrees of freedom of the directional moments",
                  comment="as dof, over the segments whose heave and both velocities are complete, from which "
                          "a1, b1, a2, b2, the check factor and the directional spectrum come"),
             es("gl_direccion")),
            ("check_factor_mean", "f4",
             dict(units="1", long_name="check factor of the band: sqrt((Snn + See) / (w^2 Szz)) weighted by the "
                                       "heave's variance density",
                  comment="1 for deep-water waves, 1/tanh(kh) at depth h" + bins), es("check_factor")),
            ("spectrum_ci_lower_factor", "f4",
             dict(units="1", long_name="%d %% confidence: lower limit of the spectrum over the spectrum" % pc,
                  comment="dof / chi-squared quantile %.2f of dof degrees of freedom" % (1 - (1 - espectro.CONFIANZA) / 2)),
             [espectro.limites_confianza(i.esp.get("gl", 0.0))[0] for i in ints]),
            ("spectrum_ci_upper_factor", "f4",
             dict(units="1", long_name="%d %% confidence: upper limit of the spectrum over the spectrum" % pc,
                  comment="dof / chi-squared quantile %.2f of dof degrees of freedom" % ((1 - espectro.CONFIANZA) / 2)),
             [espectro.limites_confianza(i.esp.get("gl", 0.0))[1] for i in ints]),
            ("h13_over_hm0", "f4", dict(units="1", long_name="buoy's H1/3 over spectral Hm0"), es("h13_over_hm0")),
            ("segments", "i4", dict(units="1", long_name="Welch segments of the heave spectrum"),
             [i.esp.get("segmentos", 0) for i in ints]),
            ("segments_direction", "i4", dict(units="1", long_name="Welch segments of the directional moments"),
             [i.esp.get("segmentos_direccion", 0) for i in ints]),
        ]
        for nombre, tipo, att, valores in variables:
            v = self._var(nombre, tipo, ("interval",), **att)
            if ints:
                v[:] = np.asarray(valores)
        # The quality flags: banderas.escribir.
        # The spectra.
        f = f0
        if f is not None:
            self._espectros(ints, f, esc)
        if ints:
            self.inicio = min(i.inicio for i in ints)
            self.fin = max(i.fin for i in ints)

    def _espectros(self, ints, f, esc):
        """Per interval and frequency: the heave spectrum, the four
        directional moments, the check factor, the direction and spreads of
        each bin, and the maximum entropy directional spectrum (this one only
        within the band of the bulk values: elsewhere it is noise)."""
        nc = self.nc
        sel = (f > 0) & (f <= 1.0)
        fr = f[sel]
        df = f[1] - f[0]
        nc.createDimension("frequency", len(fr))
        v = nc.createVariable("frequency", "f4", ("frequency",))
        v.setncatts(dict(units="Hz", long_name="frequency of the spectral bin (its centre)", bounds="frequency_bnds",
                         comment="Welch bins of %.4f Hz (%.1f s segments); the bulk values use %.2f to %.2f Hz"
                                 % (df, espectro.SEGMENTO_S, espectro.BANDA_HZ[0], espectro.BANDA_HZ[1])))
        v[:] = fr
        v = nc.createVariable("frequency_bnds", "f4", ("frequency", "nv"))
        v.units = "Hz"
        v[:] = np.column_stack([fr - df / 2.0, fr + df / 2.0])
        v = nc.createVariable("bandwidth", "f4", ("frequency",))
        v.setncatts(dict(units="Hz", long_name="width of the spectral bin"))
        v[:] = np.full(len(fr), df)
        v = nc.createVariable("frequency_in_band", "i1", ("frequency",))
        v.setncatts(dict(units="1", long_name="1 where the bin is used by the bulk values, else 0",
                         flag_values=np.array([0, 1], dtype=np.int8), flag_meanings="outside_band inside_band"))
        dentro = (fr >= espectro.BANDA_HZ[0]) & (fr <= espectro.BANDA_HZ[1])
        v[:] = dentro.astype(np.int8)
        th = espectro.direcciones_mem()
        nc.createDimension("direction", len(th))
        v = nc.createVariable("direction", "f4", ("direction",))
        v.setncatts(dict(units="degree", long_name="direction the waves come from, clockwise from true north",
                         comment="centre of a %g degree sector" % espectro.PASO_DIRECCION))
        v[:] = th
        conv = "from-direction convention: a1 + i b1 and a2 + i b2 are the mean of exp(i th) and exp(2 i th) " \
               "over the directional distribution, th the direction the waves come from, clockwise from true north " \
               "(a1 = cos th, b1 = sin th for one train from th)"
        por_f = [
            ("spectrum", dict(units="m2 s", standard_name="sea_surface_wave_variance_spectral_density",
                              long_name="variance density of the elevation (heave)",
                              comment=esc + "; its confidence limits are spectrum times "
                                            "spectrum_ci_lower_factor and spectrum_ci_upper_factor"), "S"),
            ("a1", dict(units="1", long_name="first-order directional moment a1 (cosine)", convention=conv,
                        comment="C(heave, vn) / sqrt(S(heave) (S(vn) + S(ve))), heave positive down"), "a1"),
            ("b1", dict(units="1", long_name="first-order directional moment b1 (sine)", convention=conv,
                        comment="C(heave, ve) / sqrt(S(heave) (S(vn) + S(ve))), heave positive down"), "b1"),
            ("a2", dict(units="1", long_name="second-order directional moment a2 (cosine of twice the angle)",
                        convention=conv, comment="(S(vn) - S(ve)) / (S(vn) + S(ve))"), "a2"),
            ("b2", dict(units="1", long_name="second-order directional moment b2 (sine of twice the angle)",
                        convention=conv, comment="2 C(vn, ve) / (S(vn) + S(ve))"), "b2"),
            ("check_factor", dict(units="1", long_name="check factor: horizontal over vertical motion",
                                  comment="sqrt((S(vn) + S(ve)) / ((2 pi f)^2 S(heave))): 1 for deep-water waves, "
                                          "1/tanh(kh) at depth h; far from that, the heave or the velocities are "
                                          "not the water's motion"), "k"),
            ("direction_f", dict(units="degree", long_name="mean wave direction of the bin (from, clockwise from "
                                                           "north) atan2(b1, a1)"), "dir"),
            ("spread_f", dict(units="degree", long_name="directional spread of the bin sqrt(2 (1 - r1))"), "s1"),
            ("principal_direction_f", dict(units="degree", long_name="principal wave direction of the bin "
                                                                     "atan2(b2, a2) / 2, on the side of its mean"),
             "dir2"),
            ("spread2_f", dict(units="degree", long_name="second-order directional spread of the bin "
                                                         "sqrt((1 - m2) / 2)"), "s2"),
        ]
        vs = {}
        for nombre, att, _ in por_f:
            vs[nombre] = self._var(nombre, "f4", ("interval", "frequency"), **att)
        E = self._var("directional_spectrum", "f4", ("interval", "frequency", "direction"), units="m2 s rad-1",
                      standard_name="sea_surface_wave_directional_variance_spectral_density",
                      long_name="directional variance density, maximum entropy method (Lygre and Krogstad, 1986)",
                      comment="spectrum times D(f, direction), D the smoothest distribution with the bin's a1, b1, "
                              "a2, b2, in rad-1 (its sum over the sectors times their width in radians is 1); only "
                              "within the band of the bulk values. A spreading law like cos-2s can come out as two "
                              "peaks either side of the mean direction: a property of the method",
                      chunksizes=(1, len(fr), len(th)))
        for k, i in enumerate(ints):
            e = i.espectro
            if e is None or len(e.f) != len(f):
                continue
            dirf, s1, dir2, s2 = espectro.direcciones_por_frecuencia(e.a1, e.b1, e.a2, e.b2)
            valores = dict(S=e.S, a1=e.a1, b1=e.b1, a2=e.a2, b2=e.b2, k=e.k, dir=dirf, s1=s1, dir2=dir2, s2=s2)
            for nombre, _, clave in por_f:
                vs[nombre][k, :] = valores[clave][sel]
            D = espectro.mem(e.a1[sel], e.b1[sel], e.a2[sel], e.b2[sel], th)
            fila = e.S[sel][:, None] * D
            fila[~dentro, :] = np.nan
            E[k, :, :] = fila

    def cerrar(self, historia, informes, ajustes=None):
        """The global attributes, the station and position, and each data
        variable's coordinates. historia is the command line as the reader
        should see it (no paths of this machine); ajustes the buoy's settings
        as its card shows them."""
        from . import VERSION
        nc = self.nc
        md = self.metadatos
        ahora = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%dT%H:%M:%SZ")
        estacion = md.get("station") or "unnamed"
        parametros = ("Welch %.1f s Hann segments, half overlapped, each detrended by a straight line; bulk band "
                      "%.2f to %.2f Hz; spectral confidence %d %%; maximum entropy directions every %g degrees; "
                      "heave restored to the middle of its written centimetre"
                      % (espectro.SEGMENTO_S, espectro.BANDA_HZ[0], espectro.BANDA_HZ[1],
                         int(round(100 * espectro.CONFIANZA)), espectro.PASO_DIRECCION))
        att = dict(
            Conventions="CF-1.8, ACDD-1.3",
            featureType="timeSeries",
            cdm_data_type="Station",
            title="Sensor de olas wave buoy %s: samples, waves, interval statistics and spectra from its card"
                  % estacion,
            summary="Heave and horizontal velocity of a wave buoy read from its SD card, the waves and interval "
                    "statistics it computed itself, and spectra, directional moments, directional spectra, bulk "
                    "parameters and quality flags computed from its samples by the informe tool.",
            keywords="ocean waves, wave buoy, significant wave height, wave spectra, wave direction, "
                     "directional spectrum",
            id="%s_%s" % (estacion, self.inicio.strftime("%Y%m%dT%H%M%SZ") if self.inicio is not None else "empty"),
            source="SD card of the buoy (%s), processed by informe %s" % (self.fuente, VERSION),
            processing_level="samples as logged; spectra, directions and QC computed ashore",
            history="%s informe %s: %s" % (ahora, VERSION, historia),
            date_created=ahora,
            product_version=VERSION,
            informe_version=VERSION,
            informe_parameters=parametros,
            platform="moored surface wave buoy (Sensor de olas)",
            platform_id=estacion,
            instrument="inertial motion sensor (heave, north and east velocity, yaw) sampled by the buoy",
            standard_name_vocabulary="CF Standard Name Table v79",
            references="Kuik, van Vledder and Holthuijsen (1988), J. Phys. Oceanogr. 18, 1020-1034; "
                       "Lygre and Krogstad (1986), J. Phys. Oceanogr. 16, 2052-2060; Welch (1967), IEEE Trans. "
                       "Audio Electroacoust. 15, 70-73; QARTOD manual for real-time quality control of in-situ "
                       "surface wave data",
            comment="directions are where the waves come from, degrees clockwise from true north; quality "
                    "flags 1 pass, 2 not evaluated, 3 suspect, 4 fail, 9 missing",
        )
        for clave, nombre in (("institution", "institution"), ("license", "license"), ("creator", "creator_name"),
                              ("contact", "creator_email"), ("project", "project"), ("station_name", "station_name")):
            if md.get(clave):
                att[nombre] = md[clave]
        if md.get("institution"):
            att["publisher_institution"] = md["institution"]
        att.setdefault("creator_name", "Sensor de olas project")
        for clave, valor in sorted((ajustes or {}).items()):
            att["buoy_" + clave] = valor
        if self.inicio is not None:
            att["time_coverage_start"] = self.inicio.strftime("%Y-%m-%dT%H:%M:%SZ")
            att["time_coverage_end"] = self.fin.strftime("%Y-%m-%dT%H:%M:%SZ")
            s = int((self.fin - self.inicio).total_seconds())
            att["time_coverage_duration"] = "P%dDT%dH%dM%dS" % (s // 86400, s % 86400 // 3600, s % 3600 // 60, s % 60)
        v = nc.createVariable("station", str, ())
        v.setncatts(dict(cf_role="timeseries_id", long_name="station identifier"))
        v[...] = np.array(estacion, dtype=object)
        if self.posicion is not None:
            lat, lon = self.posicion
            att.update(geospatial_lat_min=lat, geospatial_lat_max=lat, geospatial_lon_min=lon,
                       geospatial_lon_max=lon, geospatial_lat_units="degrees_north",
                       geospatial_lon_units="degrees_east")
            v = nc.createVariable("lat", "f8", ())
            v.setncatts(dict(standard_name="latitude", units="degrees_north", long_name="position of the buoy"))
            v.assignValue(lat)
            v = nc.createVariable("lon", "f8", ())
            v.setncatts(dict(standard_name="longitude", units="degrees_east", long_name="position of the buoy"))
            v.assignValue(lon)
        # Each data variable names its time (and the position, when known).
        lugar = " lat lon" if self.posicion is not None else ""
        for nombre, v in nc.variables.items():
            dims = v.dimensions
            if nombre in ("sample_time", "wave_time", "time", "time_bnds", "frequency", "frequency_bnds", "direction",
                          "lat", "lon", "station") or not dims:
                continue
            if dims[:1] == ("sample",):
                v.coordinates = "sample_time" + lugar
            elif dims[:1] == ("wave",):
                v.coordinates = "wave_time" + lugar
            elif dims[:1] == ("interval",):
                v.coordinates = "time" + lugar
        problemas = ["%s: %s" % (i.ruta, p) for i in informes for p in i.problemas()]
        if problemas:
            att["input_problems"] = "; ".join(problemas[:200])
        nc.setncatts(att)
        nc.close()
