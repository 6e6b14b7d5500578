"""informe CARD [CARD ...] --out DIR [--from T] [--to T]: from recovered cards
to data files, spectra, checks and plots."""

import argparse
import datetime
import os
import shlex
import sys

import numpy as np

from . import analisis, banderas, fallos, pagina, qc, registros, salidas, tarjeta


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


class ErrorEntrada(Exception):
    """Input the report cannot be made from: one line says why."""


def nombres_de_tarjetas(rutas):
    """Each card by the end of its path, as much of it as tells them apart."""
    partes = [os.path.normpath(os.path.abspath(r)).split(os.sep) for r in rutas]
    for k in range(1, max(len(p) for p in partes) + 1):
        nombres = ["/".join(p[-k:]) for p in partes]
        if len(set(nombres)) == len(nombres) or all(len(p) <= k for p in partes):
            break
    vistos = {}
    for k, n in enumerate(nombres):
        vistos[n] = vistos.get(n, 0) + 1
        if vistos[n] > 1:
            nombres[k] = "%s (%d)" % (n, vistos[n])   # the same card given twice
    return nombres


def _abrir_tarjetas(rutas):
    """Opens every card and lists its files. Returns [(name, origin, days,
    others, empty day folders)] in the order of their first day; raises
    ErrorEntrada for a card that holds nothing to read."""
    tarjetas = []
    nombres = nombres_de_tarjetas(rutas)
    for ruta, nombre in zip(rutas, nombres):
        try:
            origen = tarjeta.abrir(ruta)
            dias, otros, vacios = analisis.dias_de_la_tarjeta(origen)
        except tarjeta.ErrorTarjeta as e:
            raise ErrorEntrada(str(e)) from None
        except OSError as e:
            raise ErrorEntrada("cannot read %s: %s" % (ruta, e.strerror or e)) from None
        if not dias:
            if isinstance(origen, tarjeta.Carpeta):
                imagenes = sorted(f.nombre for f in otros if f.dia is None and f.nombre.lower().endswith(".img"))
                if imagenes:
                    raise ErrorEntrada("%s holds no day folders of a card but the image %s: give %s"
                                       % (ruta, imagenes[0], os.path.join(ruta, imagenes[0])))
                if not otros and not vacios:
                    raise ErrorEntrada("%s is empty: no card files in it" % ruta)
            raise ErrorEntrada("%s holds no record file of the buoy (no YYMMDD/HHMM.raw, .wav or .res)%s"
                               % (ruta, "; its day folders are empty" if vacios else ""))
        if len(rutas) > 1:
            for fs in dias.values():
                for f in fs:
                    f.etiqueta = nombre
            for f in otros:
                f.etiqueta = nombre
        tarjetas.append((nombre, origen, dias, otros, vacios))
    tarjetas.sort(key=lambda t: min(t[2]))
    return tarjetas


def main(argv=None):
    ap = argparse.ArgumentParser(prog="informe", description=__doc__)
    ap.add_argument("card", nargs="+",
                    help="card image, or a folder copied from a card; several cards of one buoy (successive "
                         "deployments) make one dataset")
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
        return _informe(a, argv)
    except ErrorEntrada as e:
        print("informe: %s" % e, file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        print("informe: interrupted", file=sys.stderr)
        return 130
    except OSError as e:
        print("informe: %s%s" % (e.strerror or e, ": " + e.filename if getattr(e, "filename", None) else ""),
              file=sys.stderr)
        return 1
    except Exception as e:  # noqa: BLE001 - a fault of this tool, said in one line
        if os.environ.get("INFORME_TRAZA"):
            raise
        print("informe: internal error, nothing written to trust (%s: %s); INFORME_TRAZA=1 shows where"
              % (type(e).__name__, e), file=sys.stderr)
        return 2


def _informe(a, argv):
    if a.desde and a.hasta and a.desde >= a.hasta:
        raise ErrorEntrada("--from %s is not before --to %s" % (a.desde.strftime("%Y-%m-%dT%H:%M:%SZ"),
                                                                a.hasta.strftime("%Y-%m-%dT%H:%M:%SZ")))
    if os.path.exists(a.out) and not os.path.isdir(a.out):
        raise ErrorEntrada("--out %s is a file, not a folder" % a.out)
    tarjetas = _abrir_tarjetas(a.card)
    dias = {}
    otros, vacios = [], []
    for nombre, origen, d, o, v in tarjetas:
        for k, fs in d.items():
            dias.setdefault(k, []).extend(fs)
        otros += o
        vacios += [(nombre + ":" + x) if len(tarjetas) > 1 else x for x in v if x not in d]
    dias = dict(sorted(dias.items()))
    creada = not os.path.exists(a.out)
    try:
        os.makedirs(a.out, exist_ok=True)
    except OSError as e:
        raise ErrorEntrada("cannot make the output folder %s: %s" % (a.out, e.strerror or e)) from None
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
    ruta_nc = os.path.join(a.out, "olas.nc")
    nombres = [t[0] for t in tarjetas]
    metadatos = dict(station=a.station, station_name=a.station_name, institution=a.institution, creator=a.creator,
                     contact=a.contact, license=a.license, project=a.project)
    nc = salidas.NetCDF(ruta_nc, ", ".join(nombres), a.position, metadatos)
    ajustes = Ajustes()
    intervalos, olas, faltas, solapes = [], [], [], []
    progreso = Progreso(len(dias), sys.stderr.isatty())
    try:
        for nombre, ficheros in dias.items():
            progreso.paso(nombre)
            d = analisis.leer_dia(nombre, ficheros, informes)
            solapes += d.solapes
            if d.muestras is None and not d.res and not d.olas:
                continue
            L = analisis.construir_intervalos(d, [f.nombre for f in ficheros if f.tipo == "raw"])
            ajustes.dia(d, L, ficheros)
            faltas += fallos.del_dia(d, ficheros)
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
                antes = nc.n
                nc.muestras(m)
                if "calidad_heave" in m:
                    banderas.muestras(nc.nc, m, antes)
            # Each interval's bulk values against the interval before it (the
            # day before's last included), before the plot's interval is chosen.
            qc.tasa_de_cambio(intervalos)
            # Only the plot's interval keeps its trace; a month of them would not fit.
            ejemplo = _ejemplo(intervalos)
            for it in intervalos:
                if it.traza is not None and it is not ejemplo:
                    it.traza = None
        progreso.fin()
        if not intervalos and not olas and nc.n == 0:
            motivos = ["%s: %s" % (i.ruta, p) for i in informes for p in i.problemas()]
            raise ErrorEntrada("no samples, waves or intervals %s in %s%s"
                               % ("between --from and --to" if a.desde or a.hasta else "could be read",
                                  ", ".join(a.card), " (%s%s)" % ("; ".join(motivos[:2]), "; ..." if len(motivos) > 2
                                                                  else "") if motivos else ""))
    except BaseException:
        # Nothing half-made is left behind to pass for a result.
        nc.nc.close()
        try:
            os.remove(ruta_nc)
            if creada:
                os.rmdir(a.out)
        except OSError:
            pass
        raise
    faltas = fallos.ordenar(faltas, informes, solapes, a.desde, a.hasta)
    olas.sort(key=lambda o: (o["tiempo"], o["numero"]))
    nc.olas(olas)
    nc.intervalos(intervalos)
    banderas.escribir(nc.nc, intervalos, faltas)
    nc.cerrar(_historia(sys.argv[1:] if argv is None else argv, nombres_de_tarjetas(a.card)), informes, ajustes.atributos())
    salidas.escribir_intervalos(os.path.join(a.out, "intervals.csv"), intervalos)
    salidas.escribir_olas(os.path.join(a.out, "waves.csv"), olas)
    direccional = _direccional(intervalos, a.direccional)
    if a.direccional is not None and direccional is None:
        print("informe: no interval with a spectrum holds %s: no directional spectrum drawn"
              % a.direccional.strftime("%Y-%m-%dT%H:%M:%SZ"), file=sys.stderr)
    pagina.escribir(os.path.join(a.out, "informe.html"), intervalos, olas, informes, _ejemplo(intervalos),
                    "Wave buoy report: %s" % (a.station or ", ".join(nombres)), direccional=direccional, faltas=faltas)

    for f in otros:
        print("%s: not a record file of the buoy, skipped" % f.ruta, file=sys.stderr)
    for s in solapes:
        print("informe: %s" % fallos.texto_solape(s), file=sys.stderr)
    malos = 0
    for inf in informes:
        for p in inf.problemas():
            malos += 1
            if not a.quiet:
                print("%s: %s" % (inf.ruta, p), file=sys.stderr)
    print("informe: %d days, %d files (%d with problems), %d intervals (%d flagged), %d waves, %d samples, "
          "%d faults on the card -> %s"
          % (len(dias), len(informes), len({i.ruta for i in informes if i.problemas()}), len(intervalos),
             sum(1 for i in intervalos if i.qc.get("qc_flag") not in (qc.PASA,)), len(olas), nc.n, len(faltas),
             a.out))
    return 0


def _historia(argv, nombres=None):
    """The command line with the card and the output folder cut to their last
    names (the cards to nombres, the names that tell them apart, when given):
    the file is read elsewhere, and this machine's folders are nobody's
    business. Every option but --quiet takes a value."""
    corto = lambda x: os.path.basename(os.path.normpath(x)) if x else x
    tarjetas = list(nombres or [])
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
            fuera.append(tarjetas.pop(0) if tarjetas else corto(x))
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
