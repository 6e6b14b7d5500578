"""informe.html: one page, its plots inside it as base64 PNG."""

import base64
import datetime
import html
import io

import numpy as np

from . import qc


def _png(fig):
    b = io.BytesIO()
    fig.savefig(b, format="png", dpi=90, bbox_inches="tight")
    import matplotlib.pyplot as plt
    plt.close(fig)
    return '<img alt="" src="data:image/png;base64,%s">' % base64.b64encode(b.getvalue()).decode("ascii")


def _fechas(ints):
    return [datetime.datetime.fromtimestamp(i.inicio.timestamp() + 0.5 * (i.fin - i.inicio).total_seconds(),
                                            datetime.timezone.utc).replace(tzinfo=None) for i in ints]


def _fw(ints, k, d):
    return np.array([(i.fw[k] / d) if i.fw and i.fw.get(k) not in (None, 9999) and i.fw["olas"] > 0 else np.nan
                     for i in ints])


def _es(ints, k):
    return np.array([i.esp.get(k, np.nan) for i in ints], dtype=float)


UTC = datetime.timezone.utc
# The window of the heave plot: long enough for a few wave groups, short
# enough to see each wave.
VENTANA_S = 180.0


def _fecha(t):
    """A POSIX time as a naive UTC datetime (matplotlib's dates are UTC)."""
    return datetime.datetime.fromtimestamp(t, UTC).replace(tzinfo=None)


def _eje_fechas(ax):
    """Dates on a time axis, UTC said, and the first and last times of the
    data written out in full (the ticks alone may leave the year or the
    month to be guessed). Call it after plotting."""
    import matplotlib.dates as mdates
    loc = mdates.AutoDateLocator(minticks=4, maxticks=10)
    ax.xaxis.set_major_locator(loc)
    ax.xaxis.set_major_formatter(mdates.ConciseDateFormatter(loc, show_offset=False))
    a, b = ax.dataLim.intervalx
    if np.isfinite(a) and np.isfinite(b) and b > a:
        d = [mdates.num2date(v).strftime("%Y-%m-%d %H:%M") for v in (a, b)]
        ax.set_xlabel("time (UTC), %s to %s" % tuple(d))
    else:
        ax.set_xlabel("time (UTC)")


def _leyenda_fuera(ax, **kw):
    """The legend to the right of the axes, where it covers nothing."""
    ax.legend(loc="upper left", bbox_to_anchor=(1.01, 1.0), borderaxespad=0.0, fontsize="small", **kw)


def limites_direccion(valores, minimo=10.0):
    """Axis limits (degrees) for directions that may cross north: the values
    unwrapped around their circular mean, and the span they need (at least
    minimo degrees), so that a change of a few degrees shows. Returns
    (unwrapped values, lower, upper)."""
    v = np.asarray(valores, dtype=float)
    ok = np.isfinite(v)
    if not np.any(ok):
        return v, 0.0, 360.0
    r = np.radians(v[ok])
    centro = np.degrees(np.arctan2(np.mean(np.sin(r)), np.mean(np.cos(r)))) % 360.0
    u = centro + (v - centro + 180.0) % 360.0 - 180.0
    lo, hi = np.nanmin(u), np.nanmax(u)
    margen = max(minimo - (hi - lo), 0.0) / 2.0 + 0.05 * (hi - lo) + 1.0
    return u, lo - margen, hi + margen


def _grafico_ola(plt, ejemplo):
    """Elevation (minus the sensor's heave, so positive up) over a window
    around the interval's highest crest-to-trough excursion."""
    t, h = ejemplo.traza
    z = -h
    ok = np.isfinite(z)
    if not np.any(ok):
        return None
    n = int(round(VENTANA_S / max(np.median(np.diff(t)), 1e-3)))
    if len(z) > n:
        # The window of the largest range: where the highest wave is.
        paso = max(n // 6, 1)
        inicios = np.arange(0, len(z) - n + 1, paso)
        rango = [np.nanmax(z[i:i + n]) - np.nanmin(z[i:i + n]) if np.any(ok[i:i + n]) else -1 for i in inicios]
        i0 = int(inicios[int(np.argmax(rango))])
        t, z = t[i0:i0 + n], z[i0:i0 + n]
    fig, ax = plt.subplots(figsize=(11, 3))
    ax.plot([_fecha(x) for x in t], z, lw=0.8)
    ax.axhline(0.0, color="k", lw=0.4)
    ax.set_ylabel("elevation, m (positive up)")
    _eje_fechas(ax)
    ax.set_title("Elevation (minus the sensor's heave): %d s around the highest wave of the interval from %s"
                 % (int(round(t[-1] - t[0])), ejemplo.inicio.strftime("%Y-%m-%d %H:%M UTC")))
    return fig


def _grafico_espectro(plt, ejemplo):
    """The heave spectrum on a log scale with its confidence limits, the
    band of the bulk values and the peak."""
    from . import espectro
    e, esp = ejemplo.esp, ejemplo.espectro
    f, S = esp.f, esp.S
    sel = (f > 0) & (f <= 1.0)
    if not np.any(S[sel] > 0):
        return None     # a flat record: nothing to draw on a log scale
    lo, hi = espectro.limites_confianza(esp.gl)
    fig, ax = plt.subplots(figsize=(11, 4))
    if np.isfinite(lo):
        ax.fill_between(f[sel], S[sel] * lo, S[sel] * hi, color="tab:blue", alpha=0.25, lw=0,
                        label="%d %% confidence (%.0f degrees of freedom)" % (round(100 * espectro.CONFIANZA), esp.gl))
    ax.plot(f[sel], S[sel], color="tab:blue", lw=1.0, label="variance density")
    ax.axvspan(espectro.BANDA_HZ[0], espectro.BANDA_HZ[1], color="0.9", zorder=0,
               label="band of the bulk values, %.2f to %.2f Hz" % espectro.BANDA_HZ)
    if np.isfinite(e.get("tp", np.nan)):
        ax.axvline(1.0 / e["tp"], color="r", ls="--", lw=0.8, label="peak, Tp = %.2f s" % e["tp"])
    ax.set_yscale("log")
    positivo = S[sel][S[sel] > 0]
    if len(positivo):
        ax.set_ylim(max(positivo.min(), positivo.max() * 1e-6) * 0.5, positivo.max() * (hi if np.isfinite(hi) else 1) * 2)
    ax.set_xlim(0, 1.0)
    ax.set_xlabel("frequency, Hz")
    ax.set_ylabel("variance density, m²/Hz")
    ax.set_title("Spectrum of the interval starting %s: Hm0 = %.2f m, Tp = %.2f s, Tm01 = %.2f s, Tm02 = %.2f s"
                 % (ejemplo.inicio.strftime("%Y-%m-%d %H:%M UTC"), e["hm0"], e["tp"], e["tm01"], e["tm02"]))
    _leyenda_fuera(ax)
    return fig


def _grafico_momentos(plt, ejemplo):
    """Direction, spreads and check factor per frequency within the band."""
    from . import espectro
    esp = ejemplo.espectro
    f = esp.f
    sel = (f >= espectro.BANDA_HZ[0]) & (f <= espectro.BANDA_HZ[1])
    dirf, s1, dir2, s2 = espectro.direcciones_por_frecuencia(esp.a1, esp.b1, esp.a2, esp.b2)
    fig, (a1, a2, a3) = plt.subplots(3, 1, figsize=(11, 7), sharex=True)
    u, lo, hi = limites_direccion(np.concatenate([dirf[sel], dir2[sel]]))
    n = int(np.sum(sel))
    a1.plot(f[sel], u[:n], ".-", label="mean direction atan2(b1, a1)")
    a1.plot(f[sel], u[n:], ".-", label="principal direction atan2(b2, a2)/2")
    a1.set_ylim(lo, hi)
    a1.set_ylabel("from, degrees")
    _leyenda_fuera(a1)
    a2.plot(f[sel], s1[sel], ".-", label="spread sqrt(2 (1 - r1))")
    a2.plot(f[sel], s2[sel], ".-", label="second-order spread sqrt((1 - m2)/2)")
    a2.set_ylabel("degrees")
    a2.set_ylim(bottom=0)
    _leyenda_fuera(a2)
    a3.plot(f[sel], esp.k[sel], ".-", color="tab:green", label="check factor (1 in deep water)")
    a3.axhline(1.0, color="k", lw=0.4)
    a3.set_ylabel("ratio")
    a3.set_xlabel("frequency, Hz")
    _leyenda_fuera(a3)
    a1.set_title("Directions per frequency, interval starting %s" % ejemplo.inicio.strftime("%Y-%m-%d %H:%M UTC"))
    return fig


def _grafico_direccional(plt, it):
    """The maximum entropy directional spectrum of one interval on a compass
    rose: the angle is where the waves come from, the radius the frequency."""
    from . import espectro
    esp = it.espectro
    f = esp.f
    sel = (f >= espectro.BANDA_HZ[0]) & (f <= espectro.BANDA_HZ[1])
    th = espectro.direcciones_mem()
    D = espectro.mem(esp.a1[sel], esp.b1[sel], esp.a2[sel], esp.b2[sel], th)
    E = esp.S[sel][:, None] * D * (np.pi / 180.0)  # per degree, for the reader
    if not np.any(E > 0):
        return None
    paso = espectro.PASO_DIRECCION
    bordes_th = np.radians(np.append(th - paso / 2.0, th[-1] + paso / 2.0))
    df = f[1] - f[0]
    bordes_f = np.append(f[sel] - df / 2.0, f[sel][-1] + df / 2.0)
    fig = plt.figure(figsize=(7.5, 6.5))
    ax = fig.add_subplot(projection="polar")
    ax.set_theta_zero_location("N")
    ax.set_theta_direction(-1)
    import matplotlib.colors as mcolors
    top = np.nanmax(E)
    m = ax.pcolormesh(bordes_th, bordes_f, np.where(E > top * 1e-3, E, np.nan), shading="flat", cmap="viridis",
                      norm=mcolors.LogNorm(vmin=top * 1e-3, vmax=top))
    # Out to the frequency below which 99.5 % of the variance lies.
    acumulado = np.nancumsum(esp.S[sel])
    k = int(np.searchsorted(acumulado, 0.995 * acumulado[-1])) if acumulado[-1] > 0 else len(acumulado) - 1
    ax.set_rlim(0, bordes_f[min(k + 2, len(bordes_f) - 1)])
    ax.set_rlabel_position(135)
    cb = fig.colorbar(m, ax=ax, pad=0.1, shrink=0.8)
    cb.set_label("m²/Hz/degree")
    e = it.esp
    ax.set_title("Directional spectrum (maximum entropy), interval starting %s\nradius: frequency, Hz; angle: "
                 "direction the waves come from\nmean %.0f°, principal %.0f°, spread %.0f° / %.0f° (1st / 2nd order)"
                 % (it.inicio.strftime("%Y-%m-%d %H:%M UTC"), e.get("dir_mean", np.nan),
                    e.get("dir_principal", np.nan), e.get("spread", np.nan), e.get("spread2", np.nan)),
                 fontsize="medium")
    return fig


def _grafico_frecuencia_tiempo(plt, ints):
    """Every interval's spectrum as a column: time across, frequency up,
    log variance density in colour; a time without an interval is left
    blank."""
    from . import espectro
    con = [i for i in ints if i.espectro is not None]
    if len(con) < 2:
        return None
    f = con[0].espectro.f
    con = sorted((i for i in con if len(i.espectro.f) == len(f)), key=lambda i: i.inicio)
    sel = (f > 0) & (f <= 0.6)
    import matplotlib.colors as mcolors
    import matplotlib.dates as mdates
    todos = np.concatenate([i.espectro.S[sel] for i in con])
    top = float(np.nanmax(todos)) if np.any(todos > 0) else 0.0
    if not top > 0:
        return None
    suelo = top * 1e-4
    bordes, columnas = [con[0].inicio.timestamp()], []
    for i in con:
        t0, t1 = i.inicio.timestamp(), i.fin.timestamp()
        if t0 > bordes[-1] + 2.0:
            columnas.append(np.full(int(np.sum(sel)), np.nan))   # nothing recorded here
            bordes.append(t0)
        columnas.append(np.clip(i.espectro.S[sel], suelo, None))
        bordes.append(max(t1, bordes[-1] + 1.0))
    df = f[1] - f[0]
    bf = np.append(f[sel] - df / 2.0, f[sel][-1] + df / 2.0)
    fig, ax = plt.subplots(figsize=(11, 4))
    m = ax.pcolormesh(mdates.date2num([_fecha(t) for t in bordes]), bf, np.array(columnas).T, shading="flat",
                      norm=mcolors.LogNorm(vmin=suelo, vmax=top), cmap="viridis")
    ax.xaxis_date()
    ax.set_ylabel("frequency, Hz")
    _eje_fechas(ax)
    cb = fig.colorbar(m, ax=ax, pad=0.01)
    cb.set_label("variance density, m²/Hz")
    ax.set_title("Spectrum of each interval (the band of the bulk values is %.2f to %.2f Hz)" % espectro.BANDA_HZ)
    return fig


_COLOR = {3: "#f0c000", 4: "#d62728", 9: "#7f7f7f"}


def _marcar_banderas(ax, ints):
    """Shades the intervals whose aggregate flag is not pass (suspect
    yellow, fail red, missing grey) on a time axis."""
    for i in ints:
        c = i.qc.get("qc_flag")
        if c in _COLOR:
            ax.axvspan(i.inicio.replace(tzinfo=None), i.fin.replace(tzinfo=None), color=_COLOR[c], alpha=0.18, lw=0)


def _tabla_banderas(ints):
    """The intervals not passing, with the tests that flagged them."""
    malos = [i for i in ints if i.qc.get("qc_flag") not in (qc.PASA, None)]
    partes = ["<h3>Flagged intervals</h3><p>%d of %d intervals did not pass (shaded on the plots: suspect "
              "yellow, fail red). The zero-crossing agreement compares the buoy's own H1/3 and mean direction "
              "with the spectral ones; a disagreement is a property of the sea (a long swell under a spread "
              "sea gives one), so it is reported but never flags the interval.</p>" % (len(malos), len(ints))]
    if malos:
        partes.append("<table><tr><th>start (UTC)</th><th>end (UTC)</th><th>flag</th><th>tests not passing</th>"
                      "<th>missing</th><th>repaired</th><th>zero-crossing agreement</th></tr>")
        nombres = {1: "pass", 2: "not evaluated", 3: "suspect", 4: "fail", 9: "missing"}
        for i in malos[:500]:
            tests = ", ".join("%s (%s)" % (qc.NOMBRE_QARTOD[k], nombres[i.qc[k]]) for k in qc.AGREGADOS
                              if i.qc.get(k) in (3, 4, 9))
            r = i.reparacion or {}
            partes.append("<tr><td>%s</td><td>%s</td><td>%s</td><td style='text-align:left'>%s</td><td>%d</td>"
                          "<td>%d</td><td>%s</td></tr>"
                          % (i.inicio.strftime("%Y-%m-%d %H:%M:%S"), i.fin.strftime("%Y-%m-%d %H:%M:%S"),
                             nombres.get(i.qc.get("qc_flag"), "?"), html.escape(tests), r.get("faltan", 0),
                             r.get("reparadas_heave", 0) + r.get("reparadas_velocidad", 0),
                             nombres.get(i.qc.get(qc.COMPARACION), "?")))
        partes.append("</table>")
    return "".join(partes)


def _tabla_fallos(faltas):
    """What went wrong on the card: gaps, restarts, the card out, torn lines."""
    partes = ["<h3>Faults on the card</h3>"]
    if not faltas:
        partes.append("<p>None found.</p>")
        return "".join(partes)
    partes.append("<table><tr><th>from (UTC)</th><th>to (UTC)</th><th>what</th><th>samples missing</th>"
                  "<th>where</th><th>detail</th></tr>")
    for f in faltas[:1000]:
        h = lambda t: t.strftime("%Y-%m-%d %H:%M:%S") if t is not None else ""
        partes.append("<tr><td>%s</td><td>%s</td><td style='text-align:left'>%s</td><td>%s</td>"
                      "<td style='text-align:left'>%s</td><td style='text-align:left'>%s</td></tr>"
                      % (h(f.get("inicio")), h(f.get("fin")), html.escape(f["tipo"]),
                         "" if f.get("muestras") is None else f["muestras"], html.escape(f.get("donde") or ""),
                         html.escape(f.get("detalle") or "")))
    if len(faltas) > 1000:
        partes.append("<tr><td colspan=6>... and %d more</td></tr>" % (len(faltas) - 1000))
    partes.append("</table>")
    return "".join(partes)


def escribir(ruta, ints, olas, informes, ejemplo, titulo, direccional=None, faltas=()):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    partes = ["<!DOCTYPE html><html><head><meta charset='utf-8'><title>%s</title>" % html.escape(titulo),
              "<style>body{font-family:sans-serif;max-width:1100px;margin:auto}table{border-collapse:collapse}"
              "td,th{border:1px solid #999;padding:2px 6px;text-align:right}</style></head><body>",
              "<h1>%s</h1>" % html.escape(titulo)]
    x = _fechas(ints)

    if ejemplo is not None and ejemplo.espectro is not None:
        partes.append("<h2>One interval</h2>")
        if ejemplo.traza is not None:
            fig = _grafico_ola(plt, ejemplo)
            if fig is not None:
                partes.append(_png(fig))
        fig = _grafico_espectro(plt, ejemplo)
        if fig is not None:
            partes.append(_png(fig))
            partes.append(_png(_grafico_momentos(plt, ejemplo)))
        else:
            partes.append("<p>The interval's heave has no variance: no spectrum to draw.</p>")
    fig = None
    if direccional is not None and direccional.espectro is not None:
        fig = _grafico_direccional(plt, direccional)
    if fig is not None:
        partes += ["<h2>Directional spectrum</h2>", _png(fig)]
    elif ints:
        partes.append("<h2>Directional spectrum</h2><p>No interval with a directional spectrum at the asked "
                      "time.</p>")

    if ints:
        partes.append("<h2>The deployment</h2>")
        fig = _grafico_frecuencia_tiempo(plt, ints)
        if fig is not None:
            partes.append(_png(fig))
        fig, ax = plt.subplots(figsize=(11, 3.5))
        ax.plot(x, _es(ints, "hm0"), ".-", label="Hm0 (spectrum)")
        ax.plot(x, _fw(ints, "h13_cm", 100.0), ".-", label="H1/3 (buoy)")
        ax.plot(x, _fw(ints, "hmax_cm", 100.0), ".", ms=3, label="Hmax (buoy)")
        ax.set_ylabel("m")
        _leyenda_fuera(ax)
        ax.set_title("Heights")
        _eje_fechas(ax)
        _marcar_banderas(ax, ints)
        partes.append(_png(fig))

        fig, ax = plt.subplots(figsize=(5, 5))
        hm0, h13 = _es(ints, "hm0"), _fw(ints, "h13_cm", 100.0)
        ax.plot(hm0, h13, ".")
        lim = np.nanmax(np.concatenate([hm0, h13, [0.1]])) * 1.1
        ax.plot([0, lim], [0, lim], "k-", lw=0.5)
        ax.set_xlabel("Hm0, m")
        ax.set_ylabel("H1/3, m")
        ax.set_title("Buoy's H1/3 against spectral Hm0")
        partes.append(_png(fig))

        fig, ax = plt.subplots(figsize=(11, 3.5))
        for k, et in (("tp", "Tp"), ("tm01", "Tm01"), ("tm02", "Tm02")):
            ax.plot(x, _es(ints, k), ".-", label=et)
        ax.plot(x, _fw(ints, "tav_ds", 10.0), ".", label="Tav (buoy)")
        ax.plot(x, _fw(ints, "t13_ds", 10.0), ".", label="T1/3 (buoy)")
        ax.set_ylabel("s")
        _leyenda_fuera(ax)
        ax.set_title("Periods")
        _eje_fechas(ax)
        _marcar_banderas(ax, ints)
        partes.append(_png(fig))

        fig, (ax, ax2) = plt.subplots(2, 1, figsize=(11, 5.5), sharex=True)
        series = [("dir_mean", "mean (spectrum)", "."), ("dir_peak", "at the peak (spectrum)", "."),
                  ("dir_principal", "principal (spectrum)", ".")]
        valores = [_es(ints, k) for k, _, _ in series] + [_fw(ints, "dir_ddeg", 10.0)]
        u, lo, hi = limites_direccion(np.concatenate(valores))
        n = len(ints)
        for j, (_, et, m) in enumerate(series):
            ax.plot(x, u[j * n:(j + 1) * n], m, label=et)
        ax.plot(x, u[3 * n:], "x", label="mean (buoy)")
        ax.set_ylim(lo, hi)
        ax.set_ylabel("from, degrees")
        _leyenda_fuera(ax)
        ax.set_title("Directions (degrees clockwise from north, where the waves come from)")
        ax2.plot(x, _es(ints, "spread"), ".-", label="spread (1st order)")
        ax2.plot(x, _es(ints, "spread2"), ".-", label="spread (2nd order)")
        ax2.set_ylabel("degrees")
        ax2.set_ylim(bottom=0)
        _leyenda_fuera(ax2)
        _eje_fechas(ax2)
        _marcar_banderas(ax, ints)
        _marcar_banderas(ax2, ints)
        partes.append(_png(fig))

    if olas:
        fig, ax = plt.subplots(figsize=(6, 5))
        ax.plot([o["periodo_ds"] / 10.0 for o in olas], [o["altura_cm"] / 100.0 for o in olas], ".", ms=2, alpha=0.4)
        ax.set_xlabel("period, s")
        ax.set_ylabel("height, m")
        ax.set_title("Waves: height against period (%d waves)" % len(olas))
        partes += ["<h2>Waves</h2>", _png(fig)]

    partes.append("<h2>Quality</h2><p>Codes: 1 pass, 2 not evaluated, 3 suspect, 4 fail, 9 missing. "
                  "Intervals: %d.</p><table><tr><th>test</th>" % len(ints))
    codigos = (1, 2, 3, 4, 9)
    partes.append("".join("<th>%d</th>" % c for c in codigos) + "</tr>")
    for n in ("qc_flag",) + tuple(qc.NOMBRES):
        cuenta = [sum(1 for i in ints if i.qc.get(n) == c) for c in codigos]
        partes.append("<tr><td style='text-align:left'>%s</td>%s</tr>" % (n, "".join("<td>%d</td>" % c for c in cuenta)))
    partes.append("</table>")
    partes.append(_tabla_banderas(ints))
    partes.append(_tabla_fallos(faltas))
    problemas = [(i.ruta, p) for i in informes for p in i.problemas()]
    partes.append("<h3>Files</h3><p>%d files read, %d with problems.</p>" % (len(informes), len({r for r, _ in problemas})))
    if problemas:
        partes.append("<ul>" + "".join("<li>%s: %s</li>" % (html.escape(r), html.escape(p)) for r, p in problemas[:500])
                      + "</ul>")
    partes.append("</body></html>")
    with open(ruta, "w", encoding="utf-8") as h:
        h.write("\n".join(partes))
