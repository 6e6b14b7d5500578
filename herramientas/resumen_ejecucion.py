#!/usr/bin/python3
"""The closing words of `make run`: what ran, where its files are and what
each count of summary.json means, for someone who has just run the buoy for
the first time.

    herramientas/resumen_ejecucion.py out
"""

import json
import os
import sys
import textwrap

PORTS = [("Serial", "telemetry link"), ("Serial1", "debug console"), ("Serial2", "motion sensor"),
         ("Serial3", "GPS receiver")]


def get(j, *path, default=None):
    for k in path:
        if not isinstance(j, dict) or k not in j:
            return default
        j = j[k]
    return j


def duration(s):
    s = int(round(s))
    if s % 3600 == 0 and s >= 3600:
        return "%d h" % (s // 3600)
    if s % 60 == 0 and s >= 60:
        return "%d min" % (s // 60)
    return "%d s" % s


def count_records(path):
    """"$RES," and "$GPS," lines in telemetry.txt, read as a stream."""
    n = {"$RES,": 0, "$GPS,": 0, "$OLA,": 0}
    try:
        with open(path, "rb") as f:
            for line in f:
                for k in n:
                    if k.encode() in line:
                        n[k] += 1
    except OSError:
        pass
    return n


def summary_text(folder):
    path = os.path.join(folder, "summary.json")
    try:
        with open(path) as f:
            j = json.load(f)
    except (OSError, ValueError) as e:
        return "No summary in %s (%s): did the run end?\n" % (path, getattr(e, "strerror", None) or e)
    if not isinstance(j, dict):
        return "%s is not a summary of a run\n" % path
    out = []
    board = get(j, "board", default="host")
    where = ("the flashable image on the emulated ATSAMD21, instruction by instruction" if board == "samd21"
             else "the firmware as a library on the simulated board")
    resets = get(j, "watchdog_resets", default=[]) or []
    out.append("== What ran ==")
    out.append("The buoy for %s of virtual time: %s, the world's clock from %s; %s start(s), %s." % (
        duration(get(j, "virtual_seconds", default=0) or 0), where, get(j, "utc_start", default="?"),
        get(j, "boots", default="?"),
        "no reset" if not resets else "%d reset(s): %s" % (len(resets), ", ".join(
            "%s at %.0f s" % (r.get("cause", "?"), r.get("time_s", 0)) for r in resets if isinstance(r, dict)))))
    sea = get(j, "sensor", "sea")
    if isinstance(sea, dict):
        out.append("The sea: Hs %.2f m, Tp %g s, from %g deg; the sensor sent %s epochs at %g Hz, the firmware took "
                   "%s samples." % (sea.get("hs_m", 0), sea.get("tp_s", 0), sea.get("dir_from_deg", 0),
                                    get(j, "sensor", "epochs_sent", default="?"), get(j, "sensor", "rate_hz", default=0),
                                    get(j, "sensor", "firmware_samples", default="?")))
    rec = count_records(os.path.join(folder, "telemetry.txt"))
    out.append("On the link: %d interval record(s) (\"$RES,\"), %d GPS fix(es) (\"$GPS,\"), %d command repl(ies) "
               "(\"$OLA,\")." % (rec["$RES,"], rec["$GPS,"], rec["$OLA,"]))
    out.append("")
    out.append("== Where the files are (%s/) ==" % folder.rstrip("/"))
    files = [("debug.txt", "every byte of the debug console"),
             ("telemetry.txt", "every byte on the telemetry link (decoded above by herramientas/tov03 decode)"),
             ("card.img", "the SD card: a folder a day, HHMM.raw samples, HHMM.wav waves, HHMM.res intervals; "
                          "herramientas/informe %s --out informe/ makes NetCDF, CSV and a report of it"
                          % os.path.join(folder, "card.img")),
             ("eeprom.bin", "the stored parameters; kept, so the next run on this folder is the same buoy restarted"),
             ("world.json", "where the world's clock ended; the next run on this folder goes on from there"),
             ("gps_commands.bin", "what the buoy sent to its GPS receiver"),
             ("summary.json", "these counts and many more")]
    for name, what in files:
        if os.path.exists(os.path.join(folder, name)):
            out.append(textwrap.fill(what, 100, initial_indent="  %-17s " % name, subsequent_indent=" " * 20))
    out.append("")
    out.append("== What the counts mean ==")
    out.append("  bytes per port: sent by the buoy / received by it / dropped on the way in")
    for port, role in PORTS:
        sent = get(j, "uart_sent_bytes", port, default=0)
        got = get(j, "uart_received_bytes", port, default=0)
        lost = get(j, "uart_dropped_bytes", port, default=0)
        cause = get(j, "uart_dropped_bytes_by_cause", port, default={}) or {}
        detail = ""
        if lost:
            detail = "  (receive buffer full: %s, lost by the hardware: %s)" % (cause.get("receive_buffer", "?"),
                                                                             cause.get("hardware", "?"))
        out.append("  %-8s %-15s %10s / %10s / %10s%s" % (port, role, sent, got, lost, detail))
    out.append("  Dropped bytes are those that found the firmware's receive buffer full (or, on the chip, the")
    out.append("  USART's own two bytes). On the GPS port a large count is expected: the firmware reads the")
    out.append("  receiver only while it asks for the time, and the receiver's bursts fill the buffer in between.")
    out.append("  Anywhere else, dropped bytes mean lost data.")
    commits = get(j, "eeprom_commits")
    if commits is not None:
        out.append("  EEPROM commits: %s (the parameter page written: a few at every start, one per stored change)"
                   % commits)
    card = get(j, "sd_card")
    if isinstance(card, dict):
        out.append("  Card: %s blocks written, %s failed writes, %s failed reads%s" % (
            card.get("blocks_written", "?"), card.get("failed_writes", "?"), card.get("failed_reads", "?"),
            "" if card.get("present", True) else " (no card in the slot)"))
    offset = get(j, "clock", "offset_s")
    out.append("  Clock: %s" % ("never set (no GPS fix)" if offset is None else
                                "%+.3f s from the world's UTC at the end" % offset))
    return "\n".join(textwrap.fill(l, 100) if not l.startswith(" ") else l for l in out) + "\n"


def main(argv=None):
    argv = sys.argv[1:] if argv is None else argv
    if len(argv) != 1:
        sys.stderr.write("usage: resumen_ejecucion.py OUT_FOLDER\n")
        return 2
    sys.stdout.write(summary_text(argv[0]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
