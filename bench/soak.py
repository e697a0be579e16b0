#!/usr/bin/env python3
"""Soak run of kalosqm-station: the service reads two simulated meters for N
minutes with a 1-minute interval while the meters, the time server and the
network database go away and come back in turn; then it tells, per site,
whether every due minute has a stored reading or one line in the site's log.

    bench/soak.py --minutes 20 [--build build] [--keep] [--kill]

Everything runs on 127.0.0.1: two sqmle-sim, a kalosqm-timeserver on port 37
(the program asks time servers on the RFC 868 port, so this needs root; the
run goes on without Internet time otherwise), a private MariaDB server made by
db/network/start-server.sh. The station runs with TZ=UTC, so log times and
reading times compare directly. Nothing here is a test: it prints what it saw
and exits 1 when a due minute went unexplained.
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
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def port_free(port):
    with socket.socket() as s:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            s.bind(("127.0.0.1", port))
            return True
        except OSError:
            return False


class Soak:
    def __init__(self, args):
        self.args = args
        self.bin = os.path.join(os.path.abspath(args.build), "bin")
        self.tmp = tempfile.mkdtemp(prefix="kalo-soak-")
        self.prog = os.path.join(self.tmp, "station")
        self.env = dict(os.environ, TZ="UTC", LANG="C.UTF-8", LC_ALL="C.UTF-8",
                        FIREBIRD_LOCK=os.path.join(self.tmp, "fblock"))
        os.makedirs(self.env["FIREBIRD_LOCK"])
        self.procs = {}
        self.events = []  # (monotonic seconds from start, what)
        self.rss = []
        self.t0 = None

    # --- helpers -------------------------------------------------------
    def log(self, what):
        at = 0 if self.t0 is None else time.monotonic() - self.t0
        self.events.append((at, what))
        print(f"[{at / 60:5.1f} min] {what}", flush=True)

    def cli(self, *words, check=True):
        r = subprocess.run([os.path.join(self.bin, "kalosqm-cli"), "--dir", self.prog, *words],
                           env=self.env, capture_output=True, text=True, timeout=120)
        if check and r.returncode != 0:
            raise SystemExit(f"kalosqm-cli {' '.join(words)} failed: {r.stderr.strip()}")
        return r.stdout

    def start(self, name, argv, **kw):
        out = open(os.path.join(self.tmp, name + ".out"), "ab")
        self.procs[name] = subprocess.Popen(argv, env=self.env, stdout=out, stderr=subprocess.STDOUT,
                                            start_new_session=True, **kw)
        return self.procs[name]

    def stop(self, name, sig=signal.SIGTERM):
        p = self.procs.pop(name, None)
        if p and p.poll() is None:
            p.send_signal(sig)
            try:
                p.wait(15)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()

    # --- the parts -----------------------------------------------------
    def meter(self, name, port, mode="normal"):
        self.stop(name)
        if mode == "down":
            return
        argv = [os.path.join(self.bin, "sqmle-sim"), "--port", str(port)]
        if mode == "silent":
            argv.append("--silent")
        self.start(name, argv)
        for _ in range(50):  # listening before the next tick
            try:
                socket.create_connection(("127.0.0.1", port), 0.2).close()
                return
            except OSError:
                time.sleep(0.1)

    def timeserver(self, up):
        self.stop("timeserver")
        if up:
            self.start("timeserver", [os.path.join(self.bin, "kalosqm-timeserver"), "--port", "37"])

    def netdb_start(self):
        d = os.path.join(self.tmp, "netdb")
        subprocess.run([os.path.join(ROOT, "db/network/start-server.sh"), d], check=True, env=self.env,
                       stdout=subprocess.DEVNULL)
        self.netdb_dir = d
        self.netdb_port = int(open(os.path.join(d, "port")).read())
        pid = int(open(os.path.join(d, "server.pid")).read())
        self.netdb_cmd = open(f"/proc/{pid}/cmdline", "rb").read().split(b"\0")[:-1]
        self.netdb_pid = pid

    def netdb_down(self):
        os.kill(self.netdb_pid, signal.SIGTERM)
        for _ in range(300):
            try:
                os.kill(self.netdb_pid, 0)
                time.sleep(0.1)
            except ProcessLookupError:
                return

    def netdb_up(self):
        p = subprocess.Popen(self.netdb_cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                             start_new_session=True)
        self.netdb_pid = p.pid
        for _ in range(100):
            try:
                socket.create_connection(("127.0.0.1", self.netdb_port), 0.2).close()
                return
            except OSError:
                time.sleep(0.1)

    def netdb_sql(self, sql):
        r = subprocess.run(["mariadb", "--no-defaults", "-h127.0.0.1", f"-P{self.netdb_port}", "-uroot",
                            "-pkalo-admin", "-N", "-B", "noctila", "-e", sql],
                           capture_output=True, text=True, timeout=30)
        return r.stdout.strip()

    # --- set-up --------------------------------------------------------
    def setup(self):
        for d in ("Dati", "crdfiles"):
            os.makedirs(os.path.join(self.prog, d))
        delivered = os.path.join(os.path.abspath(self.args.build), "db", "KALOSQMDATA.FDB")
        if not os.path.exists(delivered):
            delivered = os.path.join(self.bin, "Dati", "KALOSQMDATA.FDB")
        shutil.copy(delivered, os.path.join(self.prog, "Dati", "KALOSQMDATA.FDB"))
        self.netdb_start()
        self.have_time = port_free(37) and os.geteuid() == 0
        self.ports = {"roof-a": free_port(), "roof-b": free_port()}
        for name, port in self.ports.items():
            self.meter(name, port)
        # Only our own time server, and only if it can listen where the program asks.
        for line in self.cli("timeservers", "list").splitlines()[1:]:
            host = line.split("\t")[0].split()[0] if line.strip() else ""
            if host:
                self.cli("timeservers", "remove", host, check=False)
        if self.have_time:
            self.cli("timeservers", "add", "127.0.0.1", "--timeout", "2000")
            self.timeserver(True)
        self.cli("settings", "set", "use-internet-time", "on" if self.have_time else "off")
        self.cli("settings", "set", "sync-frequency", "1")
        self.cli("settings", "set", "upload-data", "on")
        self.cli("settings", "set", "upload-mode", "automatic")
        self.sites = {}
        for i, (name, port) in enumerate(self.ports.items(), 1):
            code = f"SOAK{i}"
            self.netdb_sql(f"INSERT INTO SQMSITES (SIT_CODE) VALUES ('{code}')")
            self.cli("site", "add", "--name", name, "--host", "127.0.0.1", "--port", str(port),
                     "--lat", "45.85", "--lon", "11.57", "--alt", "1045", "--timeout", "3",
                     "--method", "0", "--interval", "1", "--autostart", "on", "--auto-upload", "on")
            self.cli("cred", "make", "--code", code, "--host", "127.0.0.1", "--port", str(self.netdb_port),
                     "--user", "kalo", "--password", "kalo-net", "--database", "noctila", "--upload",
                     "--download", "-o", os.path.join(self.prog, "crdfiles", f"Cred_{code}.crd"))
            self.sites[name] = i
            # The desktop program's "Set credentials" writes the code with the
            # file; kalosqm-cli has no such command, so the soak writes it itself.
            self.isql(f"UPDATE SQMSITES SET SIT_CODE='{code}' WHERE SIT_ID={i};")
        if not self.have_time:
            print("soak: port 37 is not ours to take (not root, or in use): Internet time stays off")

    def isql(self, sql):
        subprocess.run(["isql-fb", "-q", "-user", "SYSDBA", os.path.join(self.prog, "Dati", "KALOSQMDATA.FDB")],
                       input=sql + "\nCOMMIT;\n", env=self.env, text=True, check=True, capture_output=True)

    def station(self):
        self.start("station", [os.path.join(self.bin, "kalosqm-station"), "--dir", self.prog])

    # --- the run -------------------------------------------------------
    def run(self):
        m = self.args.minutes * 60.0
        plan = [
            (0.15, "meter roof-a stopped (connection refused)", lambda: self.meter("roof-a", self.ports["roof-a"], "down")),
            (0.30, "meter roof-a back", lambda: self.meter("roof-a", self.ports["roof-a"])),
            (0.35, "meter roof-b silent (accepts, never answers)", lambda: self.meter("roof-b", self.ports["roof-b"], "silent")),
            (0.40, "network database stopped", self.netdb_down),
            (0.47, "meter roof-b back", lambda: self.meter("roof-b", self.ports["roof-b"])),
            (0.50, "SIGHUP to the station", lambda: self.procs["station"].send_signal(signal.SIGHUP)),
            (0.65, "network database back", self.netdb_up),
        ]
        if self.have_time:
            plan += [(0.70, "time server stopped", lambda: self.timeserver(False)),
                     (0.85, "time server back", lambda: self.timeserver(True))]
        if self.args.kill:
            plan += [(0.90, "station killed (kill -9) and started again", self.kill_and_restart)]
        plan.sort(key=lambda p: p[0])
        self.t0 = time.monotonic()
        self.start_utc = dt.datetime.now(dt.timezone.utc).replace(tzinfo=None)
        self.station()
        self.log("station started")
        while True:
            now = time.monotonic() - self.t0
            if now >= m:
                break
            while plan and plan[0][0] * m <= now:
                _, what, act = plan.pop(0)
                act()
                self.log(what)
            self.sample_rss()
            time.sleep(min(5.0, max(0.1, m - now)))
        self.end_utc = dt.datetime.now(dt.timezone.utc).replace(tzinfo=None)
        self.stop("station")
        self.log("station stopped (SIGTERM)")

    def kill_and_restart(self):
        self.stop("station", signal.SIGKILL)
        self.station()

    def sample_rss(self):
        p = self.procs.get("station")
        if not p:
            return
        try:
            for line in open(f"/proc/{p.pid}/status"):
                if line.startswith("VmRSS:"):
                    self.rss.append(int(line.split()[1]) / 1024.0)
        except OSError:
            pass

    # --- what happened -------------------------------------------------
    def readings(self, site_id):
        fmt = "%Y-%m-%dT%H:%M:%S"
        out = self.cli("readings", "--site", str(site_id), "--from", self.start_utc.strftime(fmt),
                       "--to", (self.end_utc + dt.timedelta(minutes=1)).strftime(fmt))
        rows = []
        for line in out.splitlines()[1:]:
            cells = line.split("\t")
            try:
                rows.append((dt.datetime.strptime(cells[0], "%Y-%m-%d %H:%M:%S"), float(cells[1]), cells[4]))
            except (ValueError, IndexError):
                break  # the statistics block, if any
        return rows

    def log_lines(self, name):
        path = os.path.join(self.prog, "LOGS", f"ERROR-LOG-SITE-{name}.TXT")
        lines = []
        if os.path.exists(path):
            for line in open(path, encoding="utf-8", errors="replace"):
                mt = re.match(r"(\d\d/\d\d/\d{4} \d\d\.\d\d\.\d\d)(.*)", line.rstrip("\r\n"))
                if mt:
                    lines.append((dt.datetime.strptime(mt.group(1), "%d/%m/%Y %H.%M.%S"), mt.group(2)))
        return lines

    def report(self):
        bad = 0
        print()
        print(f"soak: {self.args.minutes} min, folder {self.tmp}")
        for name, site_id in self.sites.items():
            rows = self.readings(site_id)
            fails = [(t, why) for t, why in self.log_lines(name) if self.start_utc <= t <= self.end_utc]
            events = sorted([(t, "reading") for t, _, _ in rows] + [(t, "line") for t, _ in fails])
            print(f"site {name}: {len(rows)} readings, {len(fails)} failure lines,"
                  f" {sum(1 for r in rows if r[2] == 'Yes')} uploaded")
            if not events:
                print("  nothing at all")
                bad += 1
                continue
            # A reading is due every 60 s (every second 30-second tick): two
            # events (readings or failure lines) further apart than that
            # leave due minutes unexplained; closer ones are two for one.
            times = [t for t, _ in events]
            spans = list(zip(times, times[1:])) + [(times[-1], self.end_utc)]
            empty, double = [], []
            for a, b in spans:
                gap = (b - a).total_seconds()
                missed = int((gap + 15) // 60) - 1 if (a, b) != spans[-1] else int(gap // 60) - 1
                empty += [(a, b)] * max(missed, 0)
                if gap < 50 and b is not self.end_utc:
                    double.append(a)
            due = len(events) + len(empty)
            print(f"  due minutes {due}, without a reading or a line {len(empty)}, two events within 50 s {len(double)}")
            for a, b in sorted(set(empty)):
                why = sorted({w.strip() for t, w in fails if a < t < b})
                print(f"    unexplained between {a:%H:%M:%S} and {b:%H:%M:%S}"
                      f" ({(b - a).total_seconds():.0f} s){': ' + '; '.join(why) if why else ''}")
            for t in double:
                print(f"    two events near {t:%H:%M:%S}")
            bad += len(empty)
        if self.rss:
            print(f"station RSS: {min(self.rss):.1f} .. {max(self.rss):.1f} MB over {len(self.rss)} samples")
        try:
            print(f"network database: {self.netdb_sql('SELECT COUNT(*) FROM READINGS')} readings")
        except Exception as e:  # the report goes on
            print(f"network database: {e}")
        station_out = os.path.join(self.tmp, "station.out")
        print("station lines about outages:")
        for line in open(station_out, encoding="utf-8", errors="replace"):
            if re.search(r"unreachable|time server|reachable again|answered again|log", line, re.I) \
                    and "reading " not in line:
                print("  " + line.rstrip())
        for log in ("ERROR-LOG.txt", "ERROR-LOG-SITE-NETWORK.TXT"):
            path = os.path.join(self.prog, "LOGS", log)
            if os.path.exists(path):
                print(f"{log}:")
                for line in open(path, encoding="utf-8", errors="replace"):
                    print("  " + line.rstrip())
        return bad

    def cleanup(self):
        for name in list(self.procs):
            self.stop(name)
        try:
            self.netdb_down()
        except Exception:
            pass
        if self.args.keep:
            print(f"soak: kept {self.tmp}")
        else:
            subprocess.run([os.path.join(ROOT, "db/network/stop-server.sh"), self.netdb_dir],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            shutil.rmtree(self.tmp, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--minutes", type=float, default=20)
    ap.add_argument("--build", default=os.path.join(ROOT, "build"))
    ap.add_argument("--keep", action="store_true", help="keep the folder with the database and logs")
    ap.add_argument("--kill", action="store_true", help="also kill -9 the station once and start it again")
    args = ap.parse_args()
    soak = Soak(args)
    try:
        soak.setup()
        soak.run()
        bad = soak.report()
    finally:
        soak.cleanup()
    print(f"soak: {'every due minute has a reading or a line' if bad == 0 else f'{bad} due minutes unexplained'}")
    sys.exit(1 if bad else 0)


if __name__ == "__main__":
    main()
