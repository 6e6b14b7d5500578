"""informe CARD --out DIR [--from T] [--to T]: from a recovered card to data
files, spectra, checks and plots."""

import argparse
import datetime
import os
import shlex
import sys

import numpy as np

from . import analisis, pagina, registros, salidas, tarjeta


def _fecha(texto):
    for formato in ("%Y-%m-%dT%H:%M:%SZ", "%Y-%m-%dT%H:%M:%S", "%Y-%m-%dT%H:%MZ", "%Y-%m-%dT%H:%M", "%Y-%m-%d"):
        try:
            return datetime.datetime.strptime(texto, formato).replace(tzinfo=datetime.timezone.utc)
        except ValueError:
            pass
    raise argparse.ArgumentTypeError("not a UTC time YYYY-MM-DD[THH:MM[:SS]][Z]: %s" % texto)


def _posicion(texto):
    try:
        lat, lon = (float(x) for x in texto.split(","))
    except ValueError:
        raise argparse.ArgumentTypeError("expected LAT,LON in degrees: %s" % texto) from None
    if not (-90 <= lat <= 90 and -180 <= lon <= 180):
        raise argparse.ArgumentTypeError("position out of range: %s" % texto)
    return lat, lon


class Progreso:
    """A progress bar on a terminal; nothing when the output is not one."""

    def __init__(self, total, activo):
        self.total, self.activo, self.n = max(total, 1), activo, 0

    def paso(self, texto):
        self.n += 1
        if self.activo:
            lleno = int(30 * self.n / self.total)
            sys.stderr.write("\r[%s%s] %d/%d %s   " % ("#" * lleno, "." * (30 - lleno), self.n, self.total, texto))
            sys.stderr.flush()

    def fin(self):
        if self.activo:
            sys.stderr.write("\n")


def main(argv=None):
    ap = argparse.ArgumentParser(prog="informe", description=__doc__)
    ap.add_argument("card", help="card image, or a folder copied from a card")
    ap.add_argument("--out", required=True, help="output folder")
    ap.add_argument("--from", dest="desde", type=_fecha, help="first UTC time to report")
    ap.add_argument("--to", dest="hasta", type=_fecha, help="UTC time to report up to")
    ap.add_argument("--position", type=_posicion,
                    help="LAT,LON of the buoy for the NetCDF (the card itself holds no position)")
    ap.add_argument("--quiet", action="store_true", help="no per-file problem lines")
    g = ap.add_argument_group("about the data, for the NetCDF's attributes")
    g.add_argument("--station", help="station identifier (the NetCDF's station, platform_id and id)")
    g.add_argument("--station-name", help="the station's name in words")
    g.add_argument("--institution", help="institution that runs the buoy")
    g.add_argument("--creator", help="person or group that made the data set")
    g.add_argument("--contact", help="the creator's e-mail address")
    g.add_argument("--license", help="terms of use of the data")
    g.add_argument("--project", help="project the deployment belongs to")
    ap.add_argument("--directional", dest="direccional", type=_fecha,
                    help="UTC time whose interval has its directional spectrum drawn (default: the interval shown "
                         "in detail)")
    a = ap.parse_args(argv)

    try:
        origen = tarjeta.abrir(a.card)
        dias, otros, vacios = analisis.dias_de_la_tarjeta(origen)
    except tarjeta.ErrorTarjeta as e:
        print("informe: %s" % e, file=sys.stderr)
        return 1
    os.makedirs(a.out, exist_ok=True)
    if a.desde or a.hasta:
        def quiero(dia):
            try:
                d = datetime.datetime.strptime(dia, "%y%m%d").replace(tzinfo=datetime.timezone.utc)
            except ValueError:
                return True
            return (a.hasta is None or d < a.hasta) and (a.desde is None or d + datetime.timedelta(days=1) > a.desde)
        dias = {k: v for k, v in dias.items() if quiero(k)}

    informes = []
    for d in vacios:
        inf = registros.Informe(d, "day")
        inf.nota = "empty day folder, skipped"
        informes.append(inf)
    metadatos = dict(station=a.station, station_name=a.station_name, institution=a.institution, creator=a.creator,
                     contact=a.contact, license=a.license, project=a.project)
    nc = salidas.NetCDF(os.path.join(a.out, "olas.nc"), os.path.basename(os.path.normpath(a.card)), a.position,
                        metadatos)
    ajustes = Ajustes()
    intervalos, olas = [], []
    progreso = Progreso(len(dias), sys.stderr.isatty())
    for nombre, ficheros in dias.items():
        progreso.paso(nombre)
        d = analisis.leer_dia(nombre, ficheros, informes)
        if d.muestras is None and not d.res and not d.olas:
            continue
        L = analisis.construir_intervalos(d, [f.nombre for f in ficheros if f.tipo == "raw"])
        ajustes.dia(d, L, ficheros)
        m = d.muestras
        for it in d.intervalos:
            if analisis.dentro_de(it, a.desde, a.hasta):
                intervalos.append(analisis.analizar_intervalo(it, m, d.fs or 10.0))
        if m is not None and (a.desde or a.hasta):
            t = m["t"]
            ok = np.ones(len(t), dtype=bool)
            if a.desde:
                ok &= t >= a.desde.timestamp()
            if a.hasta:
                ok &= t < a.hasta.timestamp()
            m = {k: v[ok] for k, v in m.items()}
        for o in d.olas:
            if (a.desde is None or o["tiempo"] >= a.desde) and (a.hasta is None or o["tiempo"] < a.hasta):
                olas.append(o)
        if m is not None:
            nc.muestras(m)
        # Only the plot's interval keeps its trace; a month of them would not fit.
        ejemplo = _ejemplo(intervalos)
        for it in intervalos:
            if it.traza is not None and it is not ejemplo:
                it.traza = None
    progreso.fin()
    olas.sort(key=lambda o: (o["tiempo"], o["numero"]))
    nc.olas(olas)
    nc.intervalos(intervalos)
    nc.cerrar(_historia(sys.argv[1:] if argv is None else argv), informes, ajustes.atributos())
    salidas.escribir_intervalos(os.path.join(a.out, "intervals.csv"), intervalos)
    salidas.escribir_olas(os.path.join(a.out, "waves.csv"), olas)
    direccional = _direccional(intervalos, a.direccional)
    if a.direccional is not None and direccional is None:
        print("informe: no interval with a spectrum holds %s: no directional spectrum drawn"
              % a.direccional.strftime("%Y-%m-%dT%H:%M:%SZ"), file=sys.stderr)
    pagina.escribir(os.path.join(a.out, "informe.html"), intervalos, olas, informes, _ejemplo(intervalos),
                    "Wave buoy report: %s" % (a.station or os.path.basename(os.path.abspath(a.card))),
                    direccional=direccional)

    for f in otros:
        print("%s: not a record file of the buoy, skipped" % f.ruta, file=sys.stderr)
    malos = 0
    for inf in informes:
        for p in inf.problemas():
            malos += 1
            if not a.quiet:
                print("%s: %s" % (inf.ruta, p), file=sys.stderr)
    print("informe: %d days, %d files (%d with problems), %d intervals, %d waves, %d samples -> %s"
          % (len(dias), len(informes), len({i.ruta for i in informes if i.problemas()}), len(intervalos),
             len(olas), nc.n, a.out))
    return 0


def _historia(argv):
    """The command line with the card and the output folder cut to their last
    names: the file is read elsewhere, and this machine's folders are
    nobody's business. Every option but --quiet takes a value."""
    corto = lambda x: os.path.basename(os.path.normpath(x)) if x else x
    fuera, opcion = [], None
    for x in argv:
        if opcion is not None:
            fuera.append(corto(x) if opcion == "--out" else x)
            opcion = None
        elif x.startswith("--out="):
            fuera.append("--out=" + corto(x[6:]))
        elif x.startswith("-"):
            fuera.append(x)
            if "=" not in x and x not in ("--quiet", "-h", "--help"):
                opcion = x
        else:
            fuera.append(corto(x))
    return "informe " + " ".join(shlex.quote(x) for x in fuera)


class Ajustes:
    """The buoy's settings as its card shows them: the sampling rate, the
    averaging interval, how many direction methods its records hold and which
    kinds of record it wrote."""

    def __init__(self):
        self.fs, self.L, self.metodos, self.tipos = set(), set(), set(), set()

    def dia(self, d, L, ficheros):
        if d.fs:
            self.fs.add(float(d.fs))
        if d.res:
            self.L.add(int(L))
            self.metodos.update(2 if r.get("dir2_ddeg") is not None else 1 for r in d.res)
        self.tipos.update(f.tipo for f in ficheros if f.tipo in ("raw", "wav", "res"))

    def atributos(self):
        lista = lambda xs, fmt: ", ".join(fmt % x for x in sorted(xs))
        att = {}
        if self.fs:
            att["sampling_rate_hz"] = lista(self.fs, "%g")
        if self.L:
            att["averaging_interval_minutes"] = lista(self.L, "%d")
        if self.metodos:
            att["direction_methods"] = lista(self.metodos, "%d")
        if self.tipos:
            att["records_on_card"] = ", ".join(t for t in ("raw", "wav", "res") if t in self.tipos)
        return att


def _direccional(intervalos, cuando):
    """The interval whose directional spectrum is drawn: the one holding the
    asked time, else the one shown in detail."""
    if cuando is not None:
        for i in intervalos:
            if i.inicio <= cuando < i.fin and i.espectro is not None:
                return i
        return None
    return _ejemplo(intervalos)


def _ejemplo(intervalos):
    """The interval shown in detail: the one with the highest Hm0 among those
    that passed every test, else the one with the most samples."""
    buenos = [i for i in intervalos if i.qc.get("qc_flag") == 1 and np.isfinite(i.esp.get("hm0", np.nan))]
    if buenos:
        return max(buenos, key=lambda i: i.esp["hm0"])
    con = [i for i in intervalos if i.espectro is not None]
    return max(con, key=lambda i: i.muestras) if con else None
