#!/usr/bin/env python3
"""Backlog soak run of kalosqm-station: N sites, one simulated meter each,
every site holding W waiting night readings (stored locally, not yet on the
network database) while the service reads them all at the 1-minute interval
for M minutes, real clock and real 30-second ticks, automatic upload on.

    bench/soak_backlog.py [--sites 6] [--waiting 100] [--minutes 8] [--build build] [--keep]

It prints per site the live readings stored during the run, the largest gap
between two consecutive ones, the waiting readings sent and the drain rate,
then the station's RSS and thread count at the end. Exit status 1 when a site
has a gap over --max-gap seconds (65) or fewer than two live readings, 2 when
the set-up failed.

The waiting readings are made as an outage leaves them: a community-standard
file of one reading a minute for the W minutes before the run goes in through
kalosqm-cli import (the program's own astronomy and reading keys), then their
origin is set to the station's own ('K' instead of the import's 'I'), so they
are the station's night readings with the uploaded flag 0 that waited for the
network database.

Everything runs on 127.0.0.1: N sqmle-sim, a private MariaDB server made by
db/network/start-server.sh; Internet time stays off. Every process started here
is stopped by its id at the end, also on Ctrl+C.
"""
import argparse
import datetime as dt
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
FMT = "%Y-%m-%dT%H:%M:%S"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class SetupError(Exception):
    pass


class Backlog:
    def __init__(self, args):
        self.args = args
        self.build = os.path.abspath(args.build)
        self.bin = os.path.join(self.build, "bin")
        self.tmp = tempfile.mkdtemp(prefix="kalo-backlog-")
        self.prog = os.path.join(self.tmp, "station")
        self.env = dict(os.environ, TZ="UTC", LANG="C.UTF-8", LC_ALL="C.UTF-8",
                        FIREBIRD_LOCK=os.path.join(self.tmp, "fblock"))
        os.makedirs(self.env["FIREBIRD_LOCK"])
        self.procs = {}
        self.netdb_dir = None
        self.sites = []  # (id, name, code)
        self.samples = []  # (seconds from start, RSS MB, threads)
        self.sent_lines = {}  # site name -> [(seconds from start, count)]
        self.reader = None

    # --- helpers -------------------------------------------------------
    def cli(self, *words, check=True):
        r = subprocess.run([os.path.join(self.bin, "kalosqm-cli"), "--dir", self.prog, *words],
                           env=self.env, capture_output=True, text=True, timeout=300)
        if check and r.returncode != 0:
            raise SetupError(f"kalosqm-cli {' '.join(words)} failed: {(r.stderr or r.stdout).strip()}")
        return r.stdout

    def isql(self, sql):
        subprocess.run(["isql-fb", "-q", "-user", "SYSDBA", os.path.join(self.prog, "Dati", "KALOSQMDATA.FDB")],
                       input=sql + "\nCOMMIT;\n", env=self.env, text=True, check=True, capture_output=True)

    def netdb_sql(self, sql):
        r = subprocess.run(["mariadb", "--no-defaults", "-h127.0.0.1", f"-P{self.netdb_port}", "-uroot",
                            "-pkalo-admin", "-N", "-B", "noctila", "-e", sql],
                           capture_output=True, text=True, timeout=30)
        if r.returncode != 0:
            raise SetupError(f"network database: {r.stderr.strip()}")
        return r.stdout.strip()

    def start(self, name, argv, **kw):
        out = open(os.path.join(self.tmp, name + ".out"), "ab")
        self.procs[name] = subprocess.Popen(argv, env=self.env, stdout=kw.pop("stdout", out),
                                            stderr=subprocess.STDOUT, start_new_session=True, **kw)
        return self.procs[name]

    def stop(self, name, sig=signal.SIGTERM, wait=30):
        p = self.procs.pop(name, None)
        if p and p.poll() is None:
            p.send_signal(sig)
            try:
                p.wait(wait)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()

    # --- set-up --------------------------------------------------------
    def setup(self):
        for d in ("Dati", "crdfiles"):
            os.makedirs(os.path.join(self.prog, d))
        delivered = os.path.join(self.build, "db", "KALOSQMDATA.FDB")
        if not os.path.exists(delivered):
            delivered = os.path.join(self.bin, "Dati", "KALOSQMDATA.FDB")
        for exe in ("kalosqm-station", "kalosqm-cli", "sqmle-sim"):
            if not os.path.exists(os.path.join(self.bin, exe)):
                raise SetupError(f"{self.bin}/{exe} is missing: build it first")
        shutil.copy(delivered, os.path.join(self.prog, "Dati", "KALOSQMDATA.FDB"))

        self.netdb_dir = os.path.join(self.tmp, "netdb")
        subprocess.run([os.path.join(ROOT, "db/network/start-server.sh"), self.netdb_dir], check=True,
                       env=self.env, stdout=subprocess.DEVNULL)
        self.netdb_port = int(open(os.path.join(self.netdb_dir, "port")).read())

        # Nothing leaves the machine: no public time server is asked.
        for line in self.cli("timeservers", "list").splitlines()[1:]:
            host = line.split("\t")[0].split()[0] if line.strip() else ""
            if host:
                self.cli("timeservers", "remove", host, check=False)
        self.cli("settings", "set", "use-internet-time", "off")
        self.cli("settings", "set", "upload-data", "on")
        self.cli("settings", "set", "upload-mode", "automatic")

        # The outage ended two minutes before the run: W readings, one a
        # minute, before that.
        now = dt.datetime.now(dt.timezone.utc).replace(tzinfo=None, microsecond=0)
        last = now.replace(second=7) - dt.timedelta(minutes=2)
        self.waiting_from = last - dt.timedelta(minutes=self.args.waiting - 1)
        self.waiting_to = last
        for i in range(1, self.args.sites + 1):
            name, code, port = f"backlog-{i}", f"BACK{i}", free_port()
            self.start(f"meter{i}", [os.path.join(self.bin, "sqmle-sim"), "--port", str(port)])
            self.wait_listening(port)
            self.netdb_sql(f"INSERT INTO SQMSITES (SIT_CODE) VALUES ('{code}')")
            self.cli("site", "add", "--name", name, "--host", "127.0.0.1", "--port", str(port),
                     "--lat", "45.85", "--lon", "11.57", "--alt", "1045", "--timeout", "3",
                     "--method", "0", "--interval", "1", "--autostart", "on", "--auto-upload", "on")
            site_id = self.site_id(name)
            self.cli("cred", "make", "--code", code, "--host", "127.0.0.1", "--port", str(self.netdb_port),
                     "--user", "kalo", "--password", "kalo-net", "--database", "noctila", "--upload",
                     "--download", "-o", os.path.join(self.prog, "crdfiles", f"Cred_{code}.crd"))
            # The desktop program's "Set Site code"; the command line has none.
            self.isql(f"UPDATE SQMSITES SET SIT_CODE='{code}' WHERE SIT_ID={site_id};")
            if self.args.waiting > 0:
                path = os.path.join(self.tmp, f"{name}.dat")
                self.write_community_file(path, i)
                self.cli("import", path, "--site", str(site_id))
                self.isql(f"UPDATE READINGS SET REA_ORIGIN='K' WHERE REA_SITE={site_id} AND REA_ORIGIN='I';")
            self.sites.append((site_id, name, code))
        for site_id, name, _ in self.sites:
            rows = self.readings(site_id, self.waiting_from, self.waiting_to + dt.timedelta(seconds=1))
            waiting = sum(1 for r in rows if not r[2])
            if waiting != self.args.waiting:
                raise SetupError(f"site {name}: {waiting} waiting readings stored, not {self.args.waiting}")

    def wait_listening(self, port):
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", port), 0.2).close()
                return
            except OSError:
                time.sleep(0.1)
        raise SetupError(f"sqmle-sim on port {port} does not listen")

    def site_id(self, name):
        for line in self.cli("sites").splitlines()[1:]:
            cells = line.split()
            if len(cells) > 1 and cells[1] == name:
                return int(cells[0])
        raise SetupError(f"site {name} not listed by kalosqm-cli sites")

    def write_community_file(self, path, seed):
        header = ["# Community Standard Skyglow Data Format 1.0",
                  "# URL: http://www.darksky.org/measurements",
                  "# Number of header lines: 35"]
        while len(header) < 32:
            header.append(f"# Comment: line {len(header) + 1}")
        header[8] = "# Position (lat, lon, elev(m)): 45.85, 11.57, 1045"
        header[20] = "# SQM cover offset value: 0.00"
        header += ["# UTC Date & Time, Local Date & Time, Temperature, Counts, Frequency, MSAS",
                   "# YYYY-MM-DDTHH:mm:ss.fff;YYYY-MM-DDTHH:mm:ss.fff;Celsius;number;Hz;mag/arcsec^2",
                   "# END OF HEADER"]
        lines = []
        for k in range(self.args.waiting):
            t = self.waiting_from + dt.timedelta(minutes=k)
            msas = 20.5 + ((k * 7 + seed * 3) % 50) / 100.0
            lines.append(f"{t:%Y-%m-%dT%H:%M:%S}.000;{t + dt.timedelta(hours=1):%Y-%m-%dT%H:%M:%S}.000;"
                         f"{2.0 + (k % 10) / 10:.1f};0;{int(10 + k % 40)};{msas:.2f}")
        with open(path, "w") as f:
            f.write("\n".join(header + lines) + "\n")

    # --- the run -------------------------------------------------------
    def read_station(self, pipe, out):
        # Each line with its time since the start, for the drain's pace.
        for raw in iter(pipe.readline, b""):
            at = time.monotonic() - self.t0
            line = raw.decode("utf-8", "replace").rstrip("\n")
            out.write(f"[{at:7.1f} s] {line}\n")
            out.flush()
            m = re.match(r'site "([^"]+)": sent (\d+) waiting reading', line)
            if m:
                self.sent_lines.setdefault(m.group(1), []).append((at, int(m.group(2))))
        pipe.close()

    def run(self):
        m = self.args.minutes * 60.0
        out = open(os.path.join(self.tmp, "station.out"), "w")
        self.t0 = time.monotonic()
        self.start_utc = dt.datetime.now(dt.timezone.utc).replace(tzinfo=None)
        p = self.start("station", [os.path.join(self.bin, "kalosqm-station"), "--dir", self.prog],
                       stdout=subprocess.PIPE)
        self.reader = threading.Thread(target=self.read_station, args=(p.stdout, out), daemon=True)
        self.reader.start()
        print(f"soak: station started, {self.args.sites} sites x {self.args.waiting} waiting readings, "
              f"{self.args.minutes:g} min", flush=True)
        next_note = 60.0
        while True:
            now = time.monotonic() - self.t0
            if p.poll() is not None:
                raise SetupError(f"the station ended by itself (exit {p.returncode}); see {out.name}")
            self.sample()
            if now >= m:
                break
            if now >= next_note:
                print(f"soak: {now / 60:.0f} of {self.args.minutes:g} min", flush=True)
                next_note += 60.0
            time.sleep(min(5.0, max(0.05, m - now)))
        self.end_utc = dt.datetime.now(dt.timezone.utc).replace(tzinfo=None)
        self.stop("station")
        self.reader.join(10)

    def sample(self):
        p = self.procs.get("station")
        if not p:
            return
        rss = threads = None
        try:
            for line in open(f"/proc/{p.pid}/status"):
                if line.startswith("VmRSS:"):
                    rss = int(line.split()[1]) / 1024.0
                elif line.startswith("Threads:"):
                    threads = int(line.split()[1])
        except OSError:
            return
        if rss is not None:
            self.samples.append((time.monotonic() - self.t0, rss, threads))

    # --- what happened -------------------------------------------------
    def readings(self, site_id, start, end):
        out = self.cli("readings", "--site", str(site_id), "--from", start.strftime(FMT), "--to", end.strftime(FMT))
        rows = []
        for line in out.splitlines()[1:]:
            cells = line.split("\t")
            try:
                rows.append((dt.datetime.strptime(cells[0], "%Y-%m-%d %H:%M:%S"), float(cells[1]),
                             cells[4].strip() == "Yes"))
            except (ValueError, IndexError):
                break
        return rows

    def report(self):
        bad = []
        minutes = (self.end_utc - self.start_utc).total_seconds() / 60.0
        print()
        print(f"soak: {self.args.sites} sites x {self.args.waiting} waiting readings, {minutes:.1f} min "
              f"({self.start_utc:%H:%M:%S} to {self.end_utc:%H:%M:%S} UTC), folder {self.tmp}")
        print(f"{'site':<12} {'live':>5} {'largest gap':>12} {'first after':>12} {'sent':>6} "
              f"{'left':>6} {'drain/min':>10} {'on network':>11}")
        total_sent = 0
        for site_id, name, code in self.sites:
            live = self.readings(site_id, self.start_utc - dt.timedelta(seconds=1),
                                 self.end_utc + dt.timedelta(minutes=1))
            times = [t for t, _, _ in live]
            gaps = [(b - a).total_seconds() for a, b in zip(times, times[1:])]
            largest = max(gaps) if gaps else None
            first = (times[0] - self.start_utc).total_seconds() if times else None
            waiting = self.readings(site_id, self.waiting_from, self.waiting_to + dt.timedelta(seconds=1))
            sent = sum(1 for r in waiting if r[2])
            total_sent += sent
            try:
                on_net = self.netdb_sql(
                    "SELECT COUNT(*) FROM READINGS R JOIN SQMSITES S ON R.REA_SITE=S.SIT_ID "
                    f"WHERE S.SIT_CODE='{code}' AND R.REA_DATETIME < '{self.start_utc:%Y-%m-%d %H:%M:%S}'")
            except SetupError as e:
                on_net = "?"
            gap_text = f"{largest:.0f} s" if largest is not None else "-"
            first_text = f"{first:.0f} s" if first is not None else "-"
            print(f"{name:<12} {len(live):>5} {gap_text:>12} {first_text:>12} {sent:>6} "
                  f"{len(waiting) - sent:>6} {sent / minutes:>10.2f} {on_net:>11}")
            if len(live) < 2:
                bad.append(f"{name}: {len(live)} live reading(s)")
            elif largest > self.args.max_gap:
                bad.append(f"{name}: gap of {largest:.0f} s")
            if self.args.verbose:
                print("    live at " + " ".join(f"{t:%H:%M:%S}" for t in times))
                print("    gaps    " + " ".join(f"{g:.0f}" for g in gaps))
                sends = self.sent_lines.get(name, [])
                if sends:
                    print("    sent    " + " ".join(f"{n}@{at:.0f}s" for at, n in sends))
        print(f"waiting readings sent, whole station: {total_sent} in {minutes:.1f} min "
              f"({total_sent / minutes:.2f} a minute, {total_sent / minutes / 60:.2f} a second)")
        if self.samples:
            at, rss, threads = self.samples[-1]
            # From the first half minute on: the start-up itself is no trend.
            run = [s for s in self.samples if s[0] >= 30] or self.samples
            print(f"station at the end ({at:.0f} s): RSS {rss:.1f} MB, {threads} threads "
                  f"(from 30 s on: RSS {min(s[1] for s in run):.1f} .. {max(s[1] for s in run):.1f} MB,"
                  f" threads {min(s[2] for s in run)} .. {max(s[2] for s in run)})")
        for log in ("ERROR-LOG.txt", "ERROR-LOG-SITE-NETWORK.TXT"):
            path = os.path.join(self.prog, "LOGS", log)
            if os.path.exists(path):
                print(f"{log}:")
                for line in open(path, encoding="utf-8", errors="replace"):
                    print("  " + line.rstrip())
        for what in bad:
            print(f"soak: FAIL {what} (over {self.args.max_gap:g} s, or too few readings)")
        if not bad:
            print(f"soak: every site read with no gap over {self.args.max_gap:g} s")
        return bad

    def cleanup(self):
        signal.signal(signal.SIGINT, signal.SIG_IGN)  # a second Ctrl+C must not leave anything behind
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        # The station first, so that it lets go of the meters and the server.
        if "station" in self.procs:
            self.stop("station")
        for name in list(self.procs):
            self.stop(name)
        if self.netdb_dir:
            subprocess.run([os.path.join(ROOT, "db/network/stop-server.sh"), self.netdb_dir],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if self.args.keep:
            print(f"soak: kept {self.tmp}")
        else:
            shutil.rmtree(self.tmp, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--sites", type=int, default=6)
    ap.add_argument("--waiting", type=int, default=100, help="waiting readings per site")
    ap.add_argument("--minutes", type=float, default=8)
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--max-gap", type=float, default=65, help="largest gap allowed between live readings, seconds")
    ap.add_argument("--keep", action="store_true", help="keep the folder with the database, logs and outputs")
    ap.add_argument("-v", "--verbose", action="store_true", help="also each site's reading times, gaps and sends")
    args = ap.parse_args()
    if args.sites < 1 or args.waiting < 0 or args.minutes <= 0:
        ap.error("--sites at least 1, --waiting at least 0, --minutes over 0")

    # Ctrl+C or a TERM: the same way out, through the clean-up.
    def interrupted(signum, frame):
        raise KeyboardInterrupt
    signal.signal(signal.SIGTERM, interrupted)

    soak = Backlog(args)
    bad = None
    try:
        soak.setup()
        soak.run()
        bad = soak.report()
    except KeyboardInterrupt:
        print("\nsoak: interrupted; stopping what was started", file=sys.stderr)
        soak.cleanup()
        sys.exit(130)
    except (SetupError, subprocess.CalledProcessError) as e:
        print(f"soak: {e}", file=sys.stderr)
        soak.args.keep = True
        soak.cleanup()
        sys.exit(2)
    soak.cleanup()
    sys.exit(1 if bad else 0)


if __name__ == "__main__":
    main()
