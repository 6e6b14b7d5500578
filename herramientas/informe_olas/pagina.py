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


def escribir(ruta, ints, olas, informes, ejemplo, titulo, faltas=()):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    partes = ["<!DOCTYPE html><html><head><meta charset='utf-8'><title>%s</title>" % html.escape(titulo),
              "<style>body{font-family:sans-serif;max-width:1100px;margin:auto}table{border-collapse:collapse}"
              "td,th{border:1px solid #999;padding:2px 6px;text-align:right}</style></head><body>",
              "<h1>%s</h1>" % html.escape(titulo)]
    x = _fechas(ints)

    if ejemplo is not None and ejemplo.espectro is not None:
        t, h = ejemplo.traza
        fig, ax = plt.subplots(figsize=(11, 3))
        ax.plot((t - t[0]) / 60.0, h, lw=0.5)
        ax.set_xlabel("minutes from %s" % ejemplo.inicio.strftime("%Y-%m-%d %H:%M:%S UTC"))
        ax.set_ylabel("heave, m (positive down)")
        ax.invert_yaxis()
        ax.set_title("Heave of one interval")
        partes += ["<h2>One interval</h2>", _png(fig)]
        f, S = ejemplo.espectro[0], ejemplo.espectro[1]
        e = ejemplo.esp
        fig, ax = plt.subplots(figsize=(11, 3.5))
        sel = (f > 0) & (f <= 0.6)
        ax.plot(f[sel], S[sel])
        ax.axvline(1.0 / e["tp"], color="r", ls="--", label="Tp = %.2f s" % e["tp"])
        ax.set_xlabel("frequency, Hz")
        ax.set_ylabel("variance density, m²/Hz")
        ax.set_title("Spectrum: Hm0 = %.2f m, Tp = %.2f s, Tm01 = %.2f s, Tm02 = %.2f s, mean direction %.0f°, "
                     "spread %.0f°" % (e["hm0"], e["tp"], e["tm01"], e["tm02"], e["dir_mean"], e["spread"]))
        ax.legend()
        partes.append(_png(fig))

    if ints:
        fig, ax = plt.subplots(figsize=(11, 3.5))
        ax.plot(x, _es(ints, "hm0"), ".-", label="Hm0 (spectrum)")
        ax.plot(x, _fw(ints, "h13_cm", 100.0), ".-", label="H1/3 (buoy)")
        ax.plot(x, _fw(ints, "hmax_cm", 100.0), ".", ms=3, label="Hmax (buoy)")
        ax.set_ylabel("m")
        ax.legend()
        ax.set_title("Heights")
        _marcar_banderas(ax, ints)
        fig.autofmt_xdate()
        partes += ["<h2>The deployment</h2>", _png(fig)]

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
        ax.legend(ncol=5)
        ax.set_title("Periods")
        _marcar_banderas(ax, ints)
        fig.autofmt_xdate()
        partes.append(_png(fig))

        fig, ax = plt.subplots(figsize=(11, 3.5))
        ax.plot(x, _es(ints, "dir_mean"), ".", label="mean (spectrum)")
        ax.plot(x, _es(ints, "dir_peak"), ".", label="at the peak (spectrum)")
        ax.plot(x, _fw(ints, "dir_ddeg", 10.0), "x", label="mean (buoy)")
        ax.set_ylim(0, 360)
        ax.set_ylabel("degrees from north (coming from)")
        ax2 = ax.twinx()
        ax2.plot(x, _es(ints, "spread"), "g-", lw=0.7, label="spread")
        ax2.set_ylabel("spread, degrees (green line)")
        ax2.set_ylim(0, 90)
        ax.legend(loc="upper left", ncol=3)
        ax.set_title("Directions")
        _marcar_banderas(ax, ints)
        fig.autofmt_xdate()
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
