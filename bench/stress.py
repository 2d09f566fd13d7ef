#!/usr/bin/env python3
"""The printer application under load: several IPP clients print PWG raster,
JPEG and native jobs to every printer and cancel some at random, others ask
for the printers' attributes throughout, and the server is restarted with
jobs queued. Prints a table; exits non-zero when a check fails.

    stress.py --app BIN --mkraster BIN --inspector BIN --filter BIN
              [--printers 1,2,8] [--seconds 20] [--usb-sim BIN]

Checks: every job ends (completed, canceled or aborted with a message) and
none is lost across the restart; each cancel is done within 2 s; each
Get-Printer-Attributes answers within 1 s; each printed output is a well-formed
job stream or ends with "CancelJob?"; descriptors and threads come back to
their level after the load. A watchdog dumps every thread's stack (gdb) when
the server stops answering.
"""
import argparse
import os
import random
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "printerapp", "tests"))
import ipp_client  # noqa: E402
from app_e2e import App, PNG_MAKER, filter_stream, mkraster  # noqa: E402

CANCEL_BOUND = 2.0
ATTRIBUTES_BOUND = 1.0


def process_level(pid):
    """Descriptors, threads and resident memory (KiB) of a process."""
    fds = len(os.listdir(f"/proc/{pid}/fd"))
    status = dict(line.split(":", 1) for line in open(f"/proc/{pid}/status"))
    return fds, int(status["Threads"]), int(status["VmRSS"].split()[0])


class Run:
    def __init__(self, args, work, printers):
        self.args = args
        self.app = App(args, work)
        self.names = [f"P{i}" for i in range(printers)]
        self.jobs = {}  # (printer, id) -> {"name", "cancel"}
        self.lock = threading.Lock()
        self.failures = []
        self.cancel_times = []
        self.attr_times = []
        self.stop = threading.Event()
        self.paused = threading.Event()  # set while the server restarts
        self.paused.set()
        self.documents = {}

    def fail(self, what):
        with self.lock:
            self.failures.append(what)
        self.stop.set()

    def prepare(self, work):
        page = os.path.join(work, "page.pwg")
        mkraster(self.args, page)
        png = os.path.join(work, "photo.png")
        subprocess.run(["python3", "-c", PNG_MAKER, png], check=True)
        self.documents = {
            "image/pwg-raster": open(page, "rb").read(),
            "application/octet-stream": filter_stream(self.args, page, "", work),
        }
        if shutil.which("pnmtojpeg"):  # netpbm: a grey ramp as a phone's photo
            w, h = 400, 600
            pgm = b"P5 %d %d 255\n" % (w, h) + bytes((x + y) % 256 for y in range(h) for x in range(w))
            self.documents["image/jpeg"] = subprocess.run(["pnmtojpeg"], input=pgm, capture_output=True,
                                                          check=True).stdout
        else:
            self.documents["image/png"] = open(png, "rb").read()

    def client(self, c):
        rng = random.Random(c)
        n = 0
        while not self.stop.is_set():
            self.paused.wait()
            printer = rng.choice(self.names)
            fmt = rng.choice(list(self.documents))
            name = f"c{c}-{n}"
            n += 1
            try:
                status, attrs = ipp_client.print_job(self.app.port, printer, self.documents[fmt], name, fmt)
            except (OSError, TimeoutError):
                continue  # the server is restarting
            if status == 0x0507:
                continue  # a raster job while the printer prints: refused busy, nothing to follow
            if status != 0:
                self.fail(f"{name}: Print-Job status {status:#06x}")
                return
            job = attrs["job-id"][0]
            with self.lock:
                self.jobs[(printer, job)] = {"name": name, "cancel": None}
            if rng.random() < 0.3:
                time.sleep(rng.uniform(0, 0.5))  # before, during or after the first page
                self.cancel(printer, job)

    def cancel(self, printer, job):
        start = time.monotonic()
        try:
            ipp_client.cancel_job(self.app.port, printer, job)
            while ipp_client.job_state(self.app.port, printer, job)[0] < 7:
                if time.monotonic() - start > 10:
                    break
                time.sleep(0.05)
        except (OSError, TimeoutError):
            return
        took = time.monotonic() - start
        with self.lock:
            self.jobs[(printer, job)]["cancel"] = took
            self.cancel_times.append(took)
        if took > CANCEL_BOUND:
            self.fail(f"job {job} on {printer} cancelled after {took:.2f} s")

    def prober(self):
        while not self.stop.is_set():
            self.paused.wait()
            printer = random.choice(self.names)
            start = time.monotonic()
            try:
                ipp_client.printer_attributes(self.app.port, printer, timeout=30)
            except TimeoutError:
                self.watchdog("Get-Printer-Attributes not answered in 30 s")
                return
            except OSError:
                continue
            took = time.monotonic() - start
            with self.lock:
                self.attr_times.append(took)
            if took > ATTRIBUTES_BOUND:
                self.fail(f"Get-Printer-Attributes took {took:.2f} s")
            time.sleep(0.05)

    def watchdog(self, what):
        self.fail(what + ":\n" + self.app.stacks())

    def restart(self):
        self.paused.clear()
        time.sleep(0.3)  # requests under way finish
        start = time.monotonic()
        self.app.stop(subcommand=True)
        took = time.monotonic() - start
        self.app.start()
        self.paused.set()
        return took

    def settle(self, seconds=120):
        deadline = time.time() + seconds
        states = {}
        for (printer, job), info in list(self.jobs.items()):
            while True:
                try:
                    states[(printer, job)] = ipp_client.job_state(self.app.port, printer, job, timeout=30)
                except TimeoutError:
                    self.watchdog(f"job {job}'s state not answered")
                    return states
                if states[(printer, job)][0] >= 7 or time.time() > deadline:
                    break
                time.sleep(0.2)
        return states

    def check_outputs(self, states):
        bad = []
        for (printer, job), (state, _) in states.items():
            if state != 9:
                continue
            name = self.jobs[(printer, job)]["name"]
            path = os.path.join(self.app.out, name + ".vxo")
            data = open(path, "rb").read() if os.path.exists(path) else b""
            if data.endswith(b"CancelJob?"):
                continue
            stream = os.path.join(self.app.work, "check.vxo")
            with open(stream, "wb") as f:
                f.write(data)
            r = subprocess.run([self.args.inspector, stream], capture_output=True, timeout=60)
            if r.returncode != 0:
                bad.append(name)
        return bad


def run(args, printers, seconds):
    work = tempfile.mkdtemp(prefix="vexo-stress-")
    os.chmod(work, 0o755)
    r = Run(args, work, printers)
    row = {}
    try:
        r.app.log_level = "info"
        r.app.start()
        for name in r.names:
            r.app.add(name)
        r.prepare(work)
        before = process_level(r.app.server.pid)  # setpriv execs the server: the same process
        threads = [threading.Thread(target=r.client, args=(c,), daemon=True) for c in range(4)]
        threads += [threading.Thread(target=r.prober, daemon=True) for _ in range(2)]
        started = time.monotonic()
        for t in threads:
            t.start()
        r.stop.wait(seconds / 2)
        row["shutdown s"] = r.restart() if not r.stop.is_set() else float("nan")
        r.stop.wait(seconds / 2)
        r.stop.set()
        for t in threads:
            t.join(60)
        elapsed = time.monotonic() - started
        states = r.settle()
        lost = [k for k, s in states.items() if s[0] == 0]
        stuck = [k for k, s in states.items() if 0 < s[0] < 7]
        silent = [k for k, s in states.items() if s[0] == 8 and not s[1]]
        if lost:
            r.fail(f"jobs lost: {lost}")
        if stuck:
            r.watchdog(f"jobs not ended: {stuck}")
        if silent:
            r.fail(f"jobs aborted without a reason: {silent}")
        bad = r.check_outputs(states)
        if bad:
            r.fail(f"outputs not well-formed: {bad}")
        time.sleep(2)
        after = process_level(r.app.server.pid)
        done = sum(1 for s in states.values() if s[0] == 9)
        attr = sorted(r.attr_times) or [float("nan")]
        row.update({
            "printers": printers, "jobs": len(states), "completed": done,
            "jobs/min": done * 60 / elapsed,
            "p99 attrs s": attr[min(len(attr) - 1, int(len(attr) * 0.99))],
            "max cancel s": max(r.cancel_times, default=float("nan")),
            "fds": f"{before[0]}->{after[0]}", "threads": f"{before[1]}->{after[1]}",
            "rss MiB": f"{before[2] // 1024}->{after[2] // 1024}",
        })
        # the server restarted in between: compare with its own start
        if after[0] > before[0] + 2 or after[1] > before[1] + 2:
            r.fail(f"descriptors or threads did not come back: {before} -> {after}")
    except BaseException:
        print("--- application log ---\n" + r.app.log_text())
        raise
    finally:
        r.app.close()
        shutil.rmtree(work, ignore_errors=True)
    return row, r.failures


def main():
    p = argparse.ArgumentParser()
    for opt in ("app", "filter", "inspector", "mkraster"):
        p.add_argument("--" + opt, required=True)
    p.add_argument("--printers", default="1,2,8")
    p.add_argument("--seconds", type=float, default=20)
    args = p.parse_args()
    if shutil.which("ipptool") is None:
        print("ipptool missing (cups-ipp-utils)")
        return 77
    columns = ["printers", "jobs", "completed", "jobs/min", "p99 attrs s", "max cancel s", "shutdown s",
               "fds", "threads", "rss MiB"]
    print("  ".join(f"{c:>12}" for c in columns))
    failed = []
    for n in [int(x) for x in args.printers.split(",")]:
        row, failures = run(args, n, args.seconds)
        print("  ".join(f"{row[c]:>12.2f}" if isinstance(row.get(c), float) else f"{row.get(c, '-')!s:>12}"
                        for c in columns), flush=True)
        failed += failures
    for f in failed:
        print("FAILED:", f)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
