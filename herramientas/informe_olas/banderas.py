"""The interval's quality flags in olas.nc, named as IOOS names QARTOD
results (the record, "qartod", the test), each with its bounds as
attributes; the counts of lost and repaired samples; and the card's faults."""

import json

import numpy as np

from . import qc

REGISTRO = "sea_surface_wave"
BANDERAS = dict(flag_values=np.array([1, 2, 3, 4, 9], dtype=np.int8),
                flag_meanings="PASS NOT_EVALUATED SUSPECT FAIL MISSING")

# Test -> (variable name after the record's, CF standard name).
VARIABLES = {
    "gap": ("qartod_gap_test", "gap_test_quality_flag"),
    "spike": ("qartod_spike_test", "spike_test_quality_flag"),
    "range": ("qartod_range_test", "gross_range_test_quality_flag"),
    "acceleration": ("qartod_acceleration_test", "quality_flag"),
    "mean_std": ("qartod_mean_std_test", "quality_flag"),
    "segment_shift": ("qartod_segment_shift_test", "quality_flag"),
    "flat_line": ("qartod_flat_line_test", "flat_line_test_quality_flag"),
    "low_frequency": ("qartod_low_frequency_energy_test", "quality_flag"),
    "operational_frequency": ("qartod_operational_frequency_test", "quality_flag"),
    "check_factor": ("qartod_check_factor_test", "quality_flag"),
    "percent_good": ("qartod_percent_good_test", "quality_flag"),
    "bulk_range": ("qartod_bulk_range_test", "quality_flag"),
    "rate_of_change": ("qartod_rate_of_change_test", "quality_flag"),
    "fw_quality": ("sensor_status_test", "quality_flag"),
    qc.COMPARACION: ("zero_crossing_agreement", "quality_flag"),
}
AGREGADO = REGISTRO + "_qartod_aggregate"

CUENTAS = (
    ("samples_expected", "esperadas", "samples the interval's time grid holds at the sampling rate"),
    ("samples_missing", "faltan", "grid samples without a line on the card (lost frames, gaps, cuts)"),
    ("samples_repaired_heave", "reparadas_heave",
     "heave samples interpolated (lost, or a bad point) in runs of at most %d" % qc.REPARABLE),
    ("samples_repaired_velocity", "reparadas_velocidad",
     "velocity samples interpolated (lost, not a number, the out-of-range placeholder, or a bad point) "
     "in runs of at most %d" % qc.REPARABLE),
    ("samples_good", "buenas", "samples with heave and both velocities as written and no test against them"),
    ("samples_unrepaired", "sin_reparar", "grid samples left missing (runs too long to interpolate)"),
)


def _atributo(v):
    if isinstance(v, (list, tuple)):
        return np.array(v, dtype=float)
    return v


def escribir(nc, ints, faltas=()):
    """Adds the flag and count variables (dimension "interval") and the
    card's faults (global attribute card_faults) to the open dataset nc."""
    nombres = []
    for clave in qc.NOMBRES:
        sufijo, estandar = VARIABLES[clave]
        nombre = REGISTRO + "_" + sufijo
        v = nc.createVariable(nombre, "i1", ("interval",), zlib=True, fill_value=np.int8(-127))
        att = dict(standard_name=estandar, long_name=qc.NOMBRE_QARTOD[clave], units="1",
                   references="QARTOD manual for real-time quality control of in-situ surface wave data",
                   **BANDERAS)
        if clave in qc.AGREGADOS and clave != "fw_quality":
            att.update(ioos_qc_module="qartod", ioos_qc_test=clave)
        if clave == qc.COMPARACION:
            att["comment"] = ("the buoy's zero-crossing values (H1/3, its mean direction) against the spectral "
                              "ones: a difference between two methods, which a sea with a long swell under a "
                              "spread sea gives; it does not enter the aggregate flag nor fail the interval's "
                              "spectral values")
        for k, x in qc.umbrales(clave).items():
            att["threshold_" + k] = _atributo(x)
        att["ioos_qc_config"] = json.dumps(qc.umbrales(clave), sort_keys=True)
        v.setncatts(att)
        if ints:
            v[:] = [i.qc.get(clave, qc.FALTA) for i in ints]
        if clave in qc.AGREGADOS:
            nombres.append(nombre)
    v = nc.createVariable(AGREGADO, "i1", ("interval",), zlib=True, fill_value=np.int8(-127))
    v.setncatts(dict(standard_name="aggregate_quality_flag", units="1",
                     long_name="aggregate quality of the interval: the worst of its evaluated tests",
                     comment="tests: " + " ".join(nombres) + "; the zero-crossing agreement is left out",
                     **BANDERAS))
    if ints:
        v[:] = [i.qc.get("qc_flag", qc.FALTA) for i in ints]
    anc = " ".join([AGREGADO] + nombres + [REGISTRO + "_" + VARIABLES[qc.COMPARACION][0]])
    for n in ("hm0", "tp", "tm01", "tm02", "dir_mean", "dir_peak", "spread", "spread_peak", "h13",
              "dir_principal", "spread2"):
        if n in nc.variables:
            nc[n].ancillary_variables = anc
    for nombre, clave, texto in CUENTAS:
        v = nc.createVariable(nombre, "i4", ("interval",), zlib=True, fill_value=np.int32(-2147483647))
        v.setncatts(dict(units="1", long_name=texto))
        if ints:
            v[:] = [(i.reparacion or {}).get(clave, 0) for i in ints]
    if faltas:
        nc.card_faults = " | ".join(_linea(f) for f in faltas[:500])


def _linea(f):
    cuando = ""
    if f.get("inicio") is not None:
        cuando = f["inicio"].strftime("%Y-%m-%dT%H:%M:%SZ")
        if f.get("fin") is not None:
            cuando += "/" + f["fin"].strftime("%Y-%m-%dT%H:%M:%SZ")
        cuando += " "
    donde = " [%s]" % f["donde"] if f.get("donde") else ""
    return cuando + f["tipo"] + donde + (": " + f["detalle"] if f.get("detalle") else "")


def muestras(nc, m, desde):
    """Each sample's own flags (heave, velocities) from row desde on of the
    samples already written: fail where its value was found bad and the
    analysis replaced it, pass where it was used as written, not evaluated
    outside the analysed intervals."""
    ok = np.isfinite(m["t"])
    k = int(np.sum(ok))
    if not k:
        return
    for nombre, clave, texto in (("heave_qartod_aggregate", "calidad_heave", "heave"),
                                 ("velocity_qartod_aggregate", "calidad_velocidad", "north and east velocity")):
        if nombre not in nc.variables:
            v = nc.createVariable(nombre, "i1", ("sample",), zlib=True, fill_value=np.int8(-127))
            v.setncatts(dict(standard_name="aggregate_quality_flag", units="1",
                             long_name="quality of the sample's %s: its interval's point tests (spike, range, "
                                       "acceleration, mean and standard deviation; for the velocities also the "
                                       "value the buoy could not write)" % texto,
                             comment="4: found bad, and interpolated in the analysis where at most %d in a row; "
                                     "3: a heave far outside its interval's spread, kept (it may be a real "
                                     "crest); 1: used as written; 2: outside the analysed intervals"
                                     % qc.REPARABLE,
                             **BANDERAS))
        nc[nombre][desde:desde + k] = m[clave][ok]
