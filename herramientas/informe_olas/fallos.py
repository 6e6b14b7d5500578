"""What went wrong on the card, as a list for the report: gaps in the
samples, restarts of the buoy, a card out of its slot, torn lines, files
that could not be used, cards that overlap.

Each fault is a dict: 'tipo' (the kind, in words), 'inicio' and 'fin'
(datetimes, UTC, or None), 'muestras' (samples missing, or None), 'donde'
(the file, or ""), 'detalle'."""

import datetime

UTC = datetime.timezone.utc
HUECO_MINIMO_S = 1.0     # a gap this long or longer, of more samples than a repair fills, is listed on its own
REINICIO_MAXIMO_S = 60.0  # a restart leaves a gap this short at most (the buoy boots in seconds)


def _fecha(t):
    return datetime.datetime.fromtimestamp(t, UTC)


def del_dia(d, ficheros):
    """The faults one day's samples show: each gap of a second or more that
    a repair cannot fill, and the day's other lost samples summed up."""
    faltas = []
    sueltas = lugares = 0
    nuevas = sorted((t, n) for n, t in d.primeras.items())
    primera = nuevas[0][0] if nuevas else None
    for t0, t1, n in d.huecos:
        if (t1 - t0) < HUECO_MINIMO_S or n <= _reparable():
            sueltas += n
            lugares += 1
            continue
        fichero = next((nombre for t, nombre in nuevas
                        if t != primera and t0 - 1.0 <= t <= t1 + 2.0), None)
        duracion = t1 - t0
        if fichero and duracion <= REINICIO_MAXIMO_S and _cierre(d, t0, t1):
            # The buoy closed the interval itself (its record is there) and
            # started the next one's files: a pause of its own, such as the
            # GPS fix it takes every few hours, not a restart.
            tipo = "pause at an interval's end"
            detalle = ("%.1f s without samples as the buoy closed its interval and started %s (its record "
                       "of the interval is there: no restart)" % (duracion, fichero))
        elif fichero and duracion <= REINICIO_MAXIMO_S:
            tipo = "restart (power cut or reset)"
            detalle = "%.1f s without samples, the buoy started %s" % (duracion, fichero)
        elif fichero:
            tipo = "card out or buoy off"
            detalle = "%.0f s without samples, writing resumed in %s" % (duracion, fichero)
        else:
            tipo = "gap in the samples"
            detalle = "%.1f s without samples" % duracion
        faltas.append(dict(tipo=tipo, inicio=_fecha(t0), fin=_fecha(t1), muestras=int(n),
                           donde=(d.nombre + "/" + fichero) if fichero else d.nombre, detalle=detalle))
    if sueltas:
        faltas.append(dict(tipo="samples lost one or a few at a time", inicio=None, fin=None, muestras=sueltas,
                           donde=d.nombre,
                           detalle="%d samples in %d places (lost sensor frames: one line fewer in a second), "
                                   "marked, and interpolated where at most %s in a row"
                                   % (sueltas, lugares, _reparable())))
    for it in d.intervalos:
        if it.fw is None:
            faltas.append(dict(tipo="interval without the buoy's record", inicio=it.inicio, fin=it.fin,
                               muestras=None, donde=d.nombre,
                               detalle="samples but no .res line (a cut, the card out, or no waves)"))
    return faltas


def _cierre(d, t0, t1):
    """Whether an interval with the buoy's own record ends within the gap
    (t0, t1), give or take the second the record's end is written in."""
    return any(it.fw is not None and t0 - 2.0 <= it.fin.timestamp() <= t1 + 2.0 for it in d.intervalos)


def _reparable():
    from . import qc
    return qc.REPARABLE


def texto_solape(s):
    a, b, t0, t1, n = s
    return "cards %s and %s overlap from %s to %s: %d samples of %s left out" % (
        a, b, _fecha(t0).strftime("%Y-%m-%dT%H:%M:%SZ"), _fecha(t1).strftime("%Y-%m-%dT%H:%M:%SZ"), n, b)


def ordenar(faltas, informes, solapes, desde=None, hasta=None):
    """All faults in time order (those without a time last), with the files'
    problems and the cards' overlaps."""
    todas = [f for f in faltas
             if f["inicio"] is None
             or ((desde is None or (f["fin"] or f["inicio"]) >= desde) and (hasta is None or f["inicio"] < hasta))]
    for a, b, t0, t1, n in solapes:
        todas.append(dict(tipo="cards overlap", inicio=_fecha(t0), fin=_fecha(t1), muestras=n, donde=b,
                          detalle=texto_solape((a, b, t0, t1, n))))
    for inf in informes:
        if inf.cortada:
            todas.append(dict(tipo="torn line", inicio=None, fin=None, muestras=None, donde=inf.ruta,
                              detalle="last line %d has no line end (power or card lost during a write)"
                                      % inf.lineas))
        if inf.ceros and not inf.vacio:
            todas.append(dict(tipo="torn write", inicio=None, fin=None, muestras=None, donde=inf.ruta,
                              detalle="%d zero bytes past the last line (the file's size reached the card, "
                                      "its data did not)" % inf.ceros))
        otros = [p for p in inf.problemas() if not p.startswith("torn last line")]
        for p in otros:
            todas.append(dict(tipo="file problem", inicio=None, fin=None, muestras=None, donde=inf.ruta, detalle=p))
    con = sorted((f for f in todas if f["inicio"] is not None), key=lambda f: f["inicio"])
    sin = [f for f in todas if f["inicio"] is None]
    return con + sin
