#!/usr/bin/env python3
"""The printer application under load and faults: several IPP clients print
PWG raster, JPEG and native jobs to every printer and cancel some at random
(before, during and after the first page); others ask for the printers'
attributes and open the web pages throughout; the server is restarted with
jobs queued. With --sim the printers include the simulator on the emulated
USB bus and on the network (port 9100 and SNMP, in a namespace bed; root),
which meanwhile go silent, run out of paper and are unplugged and plugged
back. Prints a table; exits non-zero when a check fails.

    stress.py --app BIN --mkraster BIN --inspector BIN --filter BIN
              [--sim BIN --netbed SCRIPT] [--printers 1,2,8] [--seconds 20]

Checks: every job ends (completed, canceled or aborted) saying why and
none is lost across the restart; each cancel is done within 2 s; each
Get-Printer-Attributes answers within 1 s; each device receives per job a
well-formed job stream, one ending with "CancelJob?", or (a job cut off by
a fault on that device, or cancelled while it read nothing) one cut short;
descriptors, threads and memory of the
restarted server come back to their level after warm-up. A watchdog dumps
every thread's stack (gdb) and fails the run when a request goes unanswered
or a job stays processing past a bound.
"""
import argparse
import concurrent.futures
import ctypes
import http.client
import os
import random
import re
import shutil
import signal
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
SHUTDOWN_BOUND = 3.0
ANSWER_BOUND = 30.0  # a request unanswered this long: the server is stuck
EARLY_LOOK = 5.0  # a request this late: what the server is doing is kept
LOG_SILENCE = 10.0  # at "info" each answered request logs lines
STALL_SECONDS = 3  # how long a write waits for a printer that reads nothing, unexplained
# A job processing this long is stuck: faults last at most FAULT_MAX s and a
# silent printer's write gives up after STALL_SECONDS.
STUCK_BOUND = 45.0
FAULT_MAX = 5.0
RSS_SLACK_KIB = 12 * 1024
# Longer than a status poll's period plus its longest wait (USB 3 s, SNMP
# 1.5 s twice): the idle server is caught at least once between two polls.
IDLE_SECONDS = 8
OPEN_JOBS_PER_CLIENT = 2
START_OF_JOB = b"Event=StartOfJob;"
# What a job that ended says when nothing said why: PAPPL's default for an
# aborted job, or the word of a printer problem that cleared.
NO_REASON = ("", "Job aborted.", "Printing.")


def process_level(pid):
    """Descriptors, threads and resident memory (KiB) of a process."""
    fds = len(os.listdir(f"/proc/{pid}/fd"))
    status = dict(line.split(":", 1) for line in open(f"/proc/{pid}/status"))
    return fds, int(status["Threads"]), int(status["VmRSS"].split()[0])


def open_files(pid):
    """What the process's descriptors point at, for the report of a leak."""
    files = []
    for fd in os.listdir(f"/proc/{pid}/fd"):
        try:
            files.append(os.readlink(f"/proc/{pid}/fd/{fd}"))
        except OSError:
            pass
    return sorted(files)


def idle_level(pid, pick):
    """The process's level over IDLE_SECONDS of idling, sampled every 0.25 s:
    an idle server still polls its printers, whose queries open a socket or
    a thread for a moment. `pick` (max before the load, min after it) keeps
    such moments out of the comparison; what leaked is there throughout."""
    samples = []
    deadline = time.time() + IDLE_SECONDS
    while time.time() < deadline:
        samples.append(process_level(pid))
        time.sleep(0.25)
    return tuple(pick(s[i] for s in samples) for i in range(3))


def setns(fd):
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.setns(fd, 0x40000000) != 0:  # CLONE_NEWNET
        raise OSError(ctypes.get_errno(), "setns")


class NetPrinter:
    """The simulator at 10.77.0.11 (raw port 9100, its snmpd) in a namespace
    bed; the application runs in the bed's host namespace."""

    def __init__(self, args, work):
        self.netbed, self.sim = args.netbed, args.sim
        self.run_dir = os.path.join(work, "netbed")
        self.name = f"vxt{os.getpid()}r"
        subprocess.run([args.netbed, "up", self.name, "--sim", args.sim, "--run", self.run_dir,
                        "--host", "a=10.77.0.1/24", "--printer", "a=10.77.0.11/24,status=1,toner=80"],
                       check=True, timeout=120, capture_output=True)
        self.ns = ["ip", "netns", "exec", self.name + "-h"]
        self.enter()

    def enter(self):
        """Moves this thread, and the threads and processes it starts after,
        into the bed's host namespace, where the application listens."""
        self.home_ns = os.open("/proc/thread-self/ns/net", os.O_RDONLY)
        fd = os.open(f"/run/netns/{self.name}-h", os.O_RDONLY)
        try:
            setns(fd)
        finally:
            os.close(fd)
        self.jobs = os.path.join(self.run_dir, self.name, "p1", "jobs")
        self.found_as = "Vexo VEXO 10.77.0.11"

    def ctl(self, *command):
        subprocess.run([self.sim, "ctl", "--control", os.path.join(self.run_dir, self.name, "p1", "ctl"), *command],
                       check=True, capture_output=True, timeout=30)

    def fault(self, kind, on):
        if kind == "unplugged":
            subprocess.run(["ip", "netns", "exec", self.name + "-p1", "ip", "link", "set", "eth0",
                            "down" if on else "up"], check=True, timeout=30)
        else:
            self.ctl(*{"silent": ("silent", "1" if on else "0"),
                       "no paper": ("status", "3079" if on else "1")}[kind])

    def close(self):
        # back home first: the bed's removal ends every process in it
        setns(self.home_ns)
        os.close(self.home_ns)
        subprocess.run([self.netbed, "down", self.name, "--run", self.run_dir], timeout=120, capture_output=True)


class UsbPrinter:
    """The simulator on an emulated USB bus, run as the application's user."""

    def __init__(self, args, app):
        self.sim = app.sim or args.sim
        self.control = os.path.join(app.home, "usb-ctl")
        self.jobs = os.path.join(app.home, "usb-jobs")
        os.makedirs(self.jobs)
        shutil.chown(self.jobs, app.uid)
        self.log = os.path.join(app.home, "usb-sim.out")
        self.out = open(self.log, "w")
        self.proc = subprocess.Popen(app.prefix + [self.sim, "serve", "--usb", "--control", self.control,
                                                   "--jobs", self.jobs, "--status", "1", "--toner", "80"],
                                     stdout=self.out, stderr=subprocess.STDOUT, env=app.env)
        deadline = time.time() + 20
        self.bus = None
        while time.time() < deadline and not self.bus:
            with open(self.log) as f:
                m = re.search(r"^usb-bus (\S+)", f.read(), re.M)
            self.bus = m.group(1) if m else None
            time.sleep(0.1)
        assert self.bus, "the simulated USB printer did not start"
        self.found_as = "Vexo VEXO USB"

    def ctl(self, *command):
        subprocess.run([self.sim, "ctl", "--control", self.control, *command], check=True, capture_output=True,
                       timeout=30)

    def fault(self, kind, on):
        self.ctl(*{"silent": ("silent", "1" if on else "0"), "no paper": ("status", "3079" if on else "1"),
                   "unplugged": ("plugged", "0" if on else "1")}[kind])

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(timeout=30)
        self.out.close()


class Run:
    def __init__(self, args, work, printers):
        self.args = args
        self.work = work
        self.app = App(args, work)
        self.app.env["VEXO_APP_STALL_SECONDS"] = str(STALL_SECONDS)
        self.count = printers
        self.devices = {}  # printer name -> NetPrinter / UsbPrinter
        self.names = []
        self.jobs = {}  # (printer, id) -> {"name", "cancel", "submitted"}
        self.lock = threading.Lock()
        self.failures = []
        self.cancel_times = []
        self.attr_times = []
        self.page_times = []
        self.faults = []  # (printer, kind, start, end)
        self.stop = threading.Event()
        self.paused = threading.Event()  # clear while the server restarts
        self.paused.set()
        self.epoch = 0  # counts restarts: a request caught by one proves nothing
        self.documents = {}
        self.net = self.usb = None
        self.before = None

    def fail(self, what):
        with self.lock:
            self.failures.append(what)
        self.stop.set()

    def watchdog(self, what):
        if not self.failures or "threads" not in self.failures[-1]:
            # twice: a thread found in the same place is stuck, one that moved is slow
            first = self.app.stacks()
            time.sleep(3)
            self.fail(what + "; the server's threads:\n" + first + "\n3 s later:\n" + self.app.stacks()
                      + "\nits main thread's variables:\n" + self.main_thread_locals()
                      + "\nits descriptors:\n" + self.descriptors()
                      + "\nsockets on its port:\n" + self.sockets())
        else:
            self.fail(what)

    def main_thread_locals(self):
        """Where the main loop is, with its counters: tells a long loop from a stuck call."""
        r = subprocess.run(["gdb", "-p", str(self.app.server.pid), "-batch", "-ex", "thread 1", "-ex", "bt full 8",
                            "-ex", "frame function papplSystemRun",
                            "-ex", "print system->logfd", "-ex", "print system->loglevel",
                            "-ex", "print system->logmaxsize", "-ex", "print system->logfile"],
                           capture_output=True, text=True, timeout=120)
        return r.stdout[-8000:] + r.stderr[-2000:]

    def descriptors(self):
        """What each descriptor of the server is: a log descriptor that now
        names something else shows here."""
        pid = self.app.server.pid
        lines = []
        try:
            with open(f"/proc/{pid}/status") as f:
                lines += [line.rstrip() for line in f if line.startswith(("State", "Threads"))]
            for fd in sorted(os.listdir(f"/proc/{pid}/fd"), key=int):
                try:
                    target = os.readlink(f"/proc/{pid}/fd/{fd}")
                    info = os.stat(f"/proc/{pid}/fd/{fd}")
                    lines.append(f"{fd} -> {target} (inode {info.st_ino}, {info.st_size} bytes)")
                except OSError:
                    pass
            info = os.stat(self.app.log)
            lines.append(f"the log file: inode {info.st_ino}, {info.st_size} bytes")
        except OSError as e:
            lines.append(str(e))
        return "\n".join(lines)

    def sockets(self):
        """Who holds what on the server's port: a connection that went
        nowhere shows here (queued on a listener, or to itself)."""
        port = self.app.port
        r = subprocess.run(["ss", "-tanpi", f"( sport = :{port} or dport = :{port} )"], capture_output=True,
                           text=True, timeout=30)
        return r.stdout + r.stderr

    # --- set-up --------------------------------------------------------------

    def start(self):
        self.app.log_level = self.args.log_level
        if self.args.sim:
            self.net = NetPrinter(self.args, self.work)
            self.app.prefix = self.net.ns + self.app.prefix
            self.usb = UsbPrinter(self.args, self.app)
            self.app.env.update(UMOCKDEV_DIR=self.usb.bus, LD_PRELOAD="libumockdev-preload.so.0")
            if "ASAN_OPTIONS" in self.app.env:
                self.app.env["ASAN_OPTIONS"] += ":verify_asan_link_order=0"
        self.app.start()
        sims = [d for d in (self.usb, self.net) if d][:self.count]
        for device in sims:
            # the first start's search adds them by itself
            name = self.found(device.found_as)
            self.devices[name] = device
            self.names.append(name)
        for i in range(self.count - len(sims)):
            self.app.add(f"P{i}")
            self.names.append(f"P{i}")

    def found(self, info, seconds=40):
        deadline = time.time() + seconds
        printers = ""
        while time.time() < deadline and info not in printers.splitlines():
            printers = self.app.run("printers").stdout
            time.sleep(0.3)
        assert info in printers.splitlines(), f"{info} not added: {printers}\n" + self.app.log_text()
        return info.replace(" ", "_")

    def prepare(self):
        page = os.path.join(self.work, "page.pwg")
        mkraster(self.args, page)
        png = os.path.join(self.work, "photo.png")
        subprocess.run(["python3", "-c", PNG_MAKER, png], check=True)
        self.documents = {
            "image/pwg-raster": open(page, "rb").read(),
            "application/octet-stream": filter_stream(self.args, page, "", self.work),
        }
        if shutil.which("pnmtojpeg"):  # netpbm: a grey ramp as a phone's photo
            w, h = 400, 600
            pgm = b"P5 %d %d 255\n" % (w, h) + bytes((x + y) % 256 for y in range(h) for x in range(w))
            self.documents["image/jpeg"] = subprocess.run(["pnmtojpeg"], input=pgm, capture_output=True,
                                                          check=True).stdout
        else:
            self.documents["image/png"] = open(png, "rb").read()

    # --- load ----------------------------------------------------------------

    def submit(self, printer, fmt, name):
        """The job's id, or None when it was refused busy or the server is restarting."""
        epoch = self.epoch
        try:
            status, attrs = ipp_client.print_job(self.app.port, printer, self.documents[fmt], name, fmt,
                                                 timeout=ANSWER_BOUND)
        except TimeoutError:
            if self.paused.is_set() and epoch == self.epoch:
                self.watchdog(f"{name}: Print-Job not answered in {ANSWER_BOUND:.0f} s")
            return None
        except OSError:
            return None  # the server is restarting
        if status == 0x0507:
            # a raster job while the printer prints: refused busy; a client
            # tries again a little later, as CUPS' backend does
            self.stop.wait(1)
            return None
        if status == 0x0506 and not self.paused.is_set():
            return None  # not accepting jobs: the server is shutting down
        if status != 0:
            self.fail(f"{name}: Print-Job status {status:#06x}")
            return None
        job = attrs["job-id"][0]
        with self.lock:
            self.jobs[(printer, job)] = {"name": name, "format": fmt, "cancel": None, "submitted": time.monotonic(),
                                         "epoch": epoch}
        return job

    def client(self, c):
        """Prints as a person does: a few jobs, then waits for the oldest to
        end before the next (an open loop would only measure the queue)."""
        rng = random.Random(c)
        n = 0
        mine = []
        while not self.stop.is_set():
            self.paused.wait()
            while len(mine) >= OPEN_JOBS_PER_CLIENT and not self.stop.is_set():
                if self.ended(*mine[0]):
                    mine.pop(0)
                else:
                    time.sleep(0.2)
            printer = rng.choice(self.names)
            fmt = rng.choice(list(self.documents))
            job = self.submit(printer, fmt, f"c{c}-{n}")
            n += 1
            if job is None:
                continue
            mine.append((printer, job))
            if rng.random() < 0.3:
                time.sleep(rng.uniform(0, 1.0))  # before, during or after the first page
                self.cancel(printer, job)

    def ended(self, printer, job):
        """Whether the job is over; its end state and message are kept."""
        if self.jobs[(printer, job)].get("ended"):
            return True
        try:
            state = ipp_client.job_state(self.app.port, printer, job, timeout=ANSWER_BOUND)
        except (OSError, TimeoutError):
            return False
        if state[0] >= 7:
            self.jobs[(printer, job)]["ended"] = state
            return True
        return False

    def cancel(self, printer, job):
        start = time.monotonic()
        stacks = None  # taken while the cancel is late, not after it ends
        try:
            ipp_client.cancel_job(self.app.port, printer, job)
            while ipp_client.job_state(self.app.port, printer, job)[0] < 7:
                if time.monotonic() - start > 5 * CANCEL_BOUND:
                    break
                if stacks is None and time.monotonic() - start > CANCEL_BOUND and self.paused.is_set():
                    stacks = self.app.stacks()
                time.sleep(0.05)
        except (OSError, TimeoutError):
            return  # the server restarted meanwhile
        took = time.monotonic() - start
        with self.lock:
            self.jobs[(printer, job)]["cancel"] = took
            self.jobs[(printer, job)]["cancelled at"] = start
            self.cancel_times.append(took)
        if took > CANCEL_BOUND:
            self.fail(f"job {job} on {printer} cancelled after {took:.2f} s"
                      + (f"; the server's threads while it was late:\n{stacks}" if stacks else ""))

    def prober(self, p):
        rng = random.Random(100 + p)
        while not self.stop.is_set():
            self.paused.wait()
            printer = rng.choice(self.names)
            start = time.monotonic()
            epoch = self.epoch
            early = {}  # what the server was doing while the request was late
            look = threading.Timer(EARLY_LOOK, lambda: early.setdefault("look", self.look()))
            look.start()
            try:
                self.probe(printer)
            except TimeoutError as e:
                look.cancel()
                if self.paused.is_set() and epoch == self.epoch:
                    self.watchdog(f"Get-Printer-Attributes: {e} in {ANSWER_BOUND:.0f} s; at {EARLY_LOOK:.0f} s:\n"
                                  + early.get("look", "(not looked at)"))
                continue
            except OSError:
                look.cancel()
                continue
            look.cancel()
            took = time.monotonic() - start
            if not self.paused.is_set() or epoch != self.epoch:
                continue  # caught by the restart
            with self.lock:
                self.attr_times.append(took)
            if took > ATTRIBUTES_BOUND:
                self.fail(f"Get-Printer-Attributes of {printer} took {took:.2f} s")
            time.sleep(0.05)

    def probe(self, printer):
        """Get-Printer-Attributes in its two steps: a stuck server shows as a
        connection not accepted, or one accepted and not answered."""
        uri = f"ipp://localhost:{self.app.port}/ipp/print/{printer}"
        conn = http.client.HTTPConnection("localhost", self.app.port, timeout=ANSWER_BOUND)
        step = "connection not accepted"
        try:
            conn.connect()
            step = f"request not answered on {conn.sock.getsockname()} -> {conn.sock.getpeername()}"
            conn.request("POST", f"/ipp/print/{printer}",
                         ipp_client.encode(ipp_client.GET_PRINTER_ATTRIBUTES, uri),
                         {"Content-Type": "application/ipp"})
            conn.getresponse().read()
        except TimeoutError:
            raise TimeoutError(step) from None
        finally:
            conn.close()

    def look(self):
        return "threads:\n" + self.app.stacks() + "\nsockets:\n" + self.sockets()

    def browser(self):
        """The web pages, as someone watching the printers would open them."""
        rng = random.Random(7)
        while not self.stop.is_set():
            self.paused.wait()
            printer = rng.choice(self.names)
            path = rng.choice(["/", f"/{printer}", f"/{printer}/jobs", f"/{printer}/printer-status",
                               f"/{printer}/supplies"])
            start = time.monotonic()
            epoch = self.epoch
            conn = http.client.HTTPConnection("localhost", self.app.port, timeout=ANSWER_BOUND)
            try:
                conn.request("GET", path)
                r = conn.getresponse()
                r.read()
                if r.status not in (200, 404) and self.paused.is_set():
                    self.fail(f"GET {path}: {r.status}")
            except TimeoutError:
                if self.paused.is_set() and epoch == self.epoch:
                    self.watchdog(f"GET {path} not answered in {ANSWER_BOUND:.0f} s")
                continue
            except (OSError, http.client.HTTPException):
                continue
            finally:
                conn.close()
            with self.lock:
                self.page_times.append(time.monotonic() - start)
            time.sleep(0.2)

    def faulter(self):
        """In the middle of jobs: a simulated printer goes silent, runs out of
        paper or is unplugged, for a few seconds."""
        rng = random.Random(3)
        kinds = ["silent", "no paper", "unplugged"]
        sims = [n for n in self.names if n in self.devices]
        if not sims:
            return
        self.stop.wait(2)
        while not self.stop.is_set():
            self.paused.wait()
            printer = rng.choice(sims)
            kind = kinds[len(self.faults) % len(kinds)] if len(self.faults) < 6 else rng.choice(kinds)
            device = self.devices[printer]
            start = time.monotonic()
            device.fault(kind, True)
            self.stop.wait(rng.uniform(2, FAULT_MAX))
            device.fault(kind, False)
            self.faults.append((printer, kind, start, time.monotonic()))
            self.stop.wait(rng.uniform(1, 3))

    def stuck_watch(self):
        """A job processing past the bound: a job thread is stuck."""
        seen = {}  # (printer, job) -> when first seen processing
        while not self.stop.is_set():
            self.stop.wait(2)
            self.paused.wait()
            server = self.app.server
            if server and server.poll() is not None and self.paused.is_set():
                # what follows (jobs not found, printers gone) only echoes this
                self.fail(f"the server ended by itself with {server.returncode}:\n" + self.app.log_text())
                return
            with self.lock:
                open_jobs = [k for k in self.jobs if self.jobs[k].get("ended") is None]
            for key in open_jobs:
                try:
                    state, message = ipp_client.job_state(self.app.port, *key, timeout=ANSWER_BOUND)
                except (OSError, TimeoutError):
                    break
                if state >= 7:
                    self.jobs[key]["ended"] = (state, message)
                elif state == 5:
                    since = seen.setdefault(key, time.monotonic())
                    if time.monotonic() - since > STUCK_BOUND:
                        self.watchdog(f"job {key[1]} on {key[0]} processing for {STUCK_BOUND:.0f} s")
                        return
                else:
                    seen.pop(key, None)

    def log_watch(self):
        """The log stops getting lines while requests are answered: where its
        lines go instead (another descriptor, nowhere) is what to see."""
        if self.args.log_level not in ("debug", "info"):
            return
        last, changed, answered = None, time.monotonic(), len(self.attr_times)
        while not self.stop.is_set():
            self.stop.wait(1)
            self.paused.wait()
            try:
                info = os.stat(self.app.log)
                now = (info.st_ino, info.st_size)
            except OSError:
                continue
            if now != last:
                last, changed, answered = now, time.monotonic(), len(self.attr_times)
            elif time.monotonic() - changed > LOG_SILENCE and len(self.attr_times) > answered + 5:
                self.watchdog(f"the server's log got no line for {LOG_SILENCE:.0f} s while it answered "
                              f"{len(self.attr_times) - answered} requests; where its writes went:\n" + self.writes())
                return

    def writes(self):
        r = subprocess.run(["timeout", "3", "strace", "-f", "-qq", "-e", "trace=write", "-s", "40",
                            "-p", str(self.app.server.pid)], capture_output=True, text=True)
        return "\n".join(r.stderr.splitlines()[:40])

    def load(self, seconds, clients=4):
        threads = [threading.Thread(target=self.client, args=(c,), daemon=True) for c in range(clients)]
        threads += [threading.Thread(target=self.prober, args=(p,), daemon=True) for p in range(2)]
        threads += [threading.Thread(target=t, daemon=True) for t in (self.browser, self.faulter, self.stuck_watch, self.log_watch)]
        for t in threads:
            t.start()
        return threads

    def restart(self, warm_up=False):
        """`shutdown` with jobs queued and printing, and a new start."""
        self.paused.clear()
        self.epoch += 1
        time.sleep(0.3)  # requests under way finish
        start = time.monotonic()
        self.app.stop(subcommand=True)
        took = time.monotonic() - start
        self.app.start()
        if warm_up:
            # the jobs left queued print first, then one job on every printer
            # (what a server sets up once, on its first job to a kind of
            # device, is there from then on: PAPPL's libusb context), then a
            # quiet moment
            self.settle(60)
            self.print_once_everywhere()
            self.before = idle_level(self.app.server.pid, max)  # setpriv execs the server: the same process
            self.files_before = open_files(self.app.server.pid)
        self.epoch += 1
        self.paused.set()
        return took

    def print_once_everywhere(self):
        for printer in self.names:
            status, attrs = ipp_client.print_job(self.app.port, printer, self.documents["application/octet-stream"],
                                                 "warm-up", "application/octet-stream", timeout=ANSWER_BOUND)
            if status != 0:
                continue  # refused busy: that printer has printed already
            deadline = time.time() + 60
            while time.time() < deadline and ipp_client.job_state(self.app.port, printer, attrs["job-id"][0],
                                                                  timeout=ANSWER_BOUND)[0] < 7:
                time.sleep(0.2)

    # --- checks --------------------------------------------------------------

    def settle(self, seconds=120):
        deadline = time.time() + seconds
        states = {}
        for (printer, job), info in list(self.jobs.items()):
            if info.get("ended"):
                # seen ended: the job history may have dropped it since
                states[(printer, job)] = info["ended"]
                continue
            while True:
                try:
                    states[(printer, job)] = ipp_client.job_state(self.app.port, printer, job, timeout=ANSWER_BOUND)
                except TimeoutError:
                    self.watchdog(f"job {job}'s state not answered")
                    return states
                if states[(printer, job)][0] >= 7 or time.time() > deadline:
                    break
                time.sleep(0.2)
        return states

    def inspect(self, data):
        """'ok', 'cancel' or 'cut'."""
        if data.endswith(b"CancelJob?"):
            return "cancel"
        with tempfile.NamedTemporaryFile(dir=self.work, suffix=".vxo") as f:
            f.write(data)
            f.flush()
            r = subprocess.run([self.args.inspector, f.name], capture_output=True, timeout=60)
        return "ok" if r.returncode == 0 else "cut"

    def inspect_all(self, pieces):
        """inspect() of each (path, start, end) on every core: a long run
        has thousands of streams."""
        def one(piece):
            path, start, end = piece
            if not os.path.exists(path):
                return self.inspect(b"")
            with open(path, "rb") as f:
                f.seek(start)
                return self.inspect(f.read(-1 if end is None else end - start))
        with concurrent.futures.ThreadPoolExecutor(os.cpu_count() or 1) as pool:
            return list(pool.map(one, pieces))

    def check_outputs(self, states):
        """Printers' names with what went wrong on their devices."""
        names = [self.jobs[(printer, job)]["name"] for (printer, job), (state, _) in states.items()
                 if state == 9 and printer not in self.devices]
        paths = [os.path.join(self.app.out, name + ".vxo") for name in names]
        kinds = self.inspect_all((p, 0, None) for p in paths)
        bad = [name for name, kind in zip(names, kinds) if kind == "cut"]
        # The simulators keep what they were sent. A stream may be cut short
        # only while that printer read nothing (a cancelled or given-up job
        # closes the connection) or by the restart.
        self.streams = {}
        for printer, device in self.devices.items():
            kinds = {"ok": 0, "cancel": 0, "cut": 0, "empty": 0}
            streams = []
            for f in sorted(os.listdir(device.jobs)):
                if not f.endswith(".vxo"):
                    continue
                # PAPPL keeps a network printer's connection open while jobs
                # are queued: one file may hold several jobs
                path = os.path.join(device.jobs, f)
                data = open(path, "rb").read()
                starts = [m.start() for m in re.finditer(re.escape(START_OF_JOB), data)] or [0]
                if not data:
                    kinds["empty"] += 1  # opened for a job that ended before its first byte
                    continue
                streams += [(path, a, b) for a, b in zip(starts, starts[1:] + [len(data)])]
            for kind in self.inspect_all(streams):
                kinds[kind] += 1
            self.streams[printer] = kinds
            # Each fault may cut the job it stops, and each job cancelled
            # while the printer read nothing: its rest never reaches it.
            faults = [(s, e) for p, _, s, e in self.faults if p == printer]
            cancelled = sum(1 for (p, _), info in self.jobs.items()
                            if p == printer and info.get("cancelled at") is not None
                            and any(s <= info["cancelled at"] <= e + 1 for s, e in faults))
            cuts_allowed = 1 + len(faults) + cancelled  # one for the restart
            if kinds["cut"] > cuts_allowed:
                bad.append(f"{printer}: {kinds['cut']} streams cut short, {len(faults)} faults, "
                           f"{cancelled} jobs cancelled during them")
        return bad


def run(args, printers, seconds):
    work = tempfile.mkdtemp(prefix="vexo-stress-", dir="/tmp")  # short: the USB bus's sockets live under it
    os.chmod(work, 0o755)
    r = Run(args, work, printers)
    row = {}
    try:
        r.start()
        r.prepare()
        started = time.monotonic()
        threads = r.load(seconds)
        r.stop.wait(seconds / 3)
        row["shutdown s"] = r.restart(warm_up=True) if not r.stop.is_set() else float("nan")
        if row["shutdown s"] > SHUTDOWN_BOUND:
            r.fail(f"shutdown with jobs queued took {row['shutdown s']:.1f} s")
        # The restarted server's level once the jobs it found queued are
        # printed and it is idle, against its level after the rest of the
        # load and the same idle time.
        before = r.before
        r.stop.wait(seconds * 2 / 3)
        r.stop.set()
        for t in threads:
            t.join(60)
        elapsed = time.monotonic() - started
        states = r.settle()
        if not states or not r.attr_times:
            r.fail(f"nothing was printed or answered: {len(states)} jobs, {len(r.attr_times)} answers")
        lost = [k for k, s in states.items() if s[0] == 0]
        stuck = [k for k, s in states.items() if 0 < s[0] < 7]
        silent = [(r.jobs[k]["name"], r.jobs[k]["format"], r.jobs[k]["epoch"], k[0], k[1], s)
                  for k, s in states.items() if s[0] >= 7 and (s[1] in NO_REASON or (s[0] == 8 and s[1] == "Canceled."))]
        if lost:
            r.fail(f"jobs lost: {lost}")
        if stuck:
            shown = {}
            for name in r.names:
                try:
                    attrs = ipp_client.printer_attributes(r.app.port, name)[1]
                    shown[name] = (attrs.get("printer-state"), attrs.get("printer-state-reasons"),
                                      attrs.get("printer-state-message"))
                except (OSError, TimeoutError) as e:
                    shown[name] = e
            r.watchdog(f"jobs not ended: {[(k, states[k]) for k in stuck]}; printers {shown}")
        if silent:
            r.fail(f"jobs ended without a reason (name, format, epoch, printer, id, (state, message)): {silent}")
        bad = r.check_outputs(states)
        if bad:
            r.fail(f"outputs not well-formed: {bad}")
        after = idle_level(r.app.server.pid, min)
        if args.verbose and shutil.which("gdb"):
            # retained by the allocator, or in use: what a trim gives back
            subprocess.run(["gdb", "-p", str(r.app.server.pid), "-batch", "-ex", "call (int) malloc_trim(0)"],
                           capture_output=True, timeout=120)
            print(f"  rss {after[2] // 1024} MiB, after malloc_trim: {process_level(r.app.server.pid)[2] // 1024} MiB",
                  flush=True)
        if before is None:  # no restart: a check failed early
            before = after
        done = sum(1 for s in states.values() if s[0] == 9)
        attr = sorted(r.attr_times) or [float("nan")]
        row.update({
            "printers": printers, "jobs": len(states), "completed": done,
            "canceled": sum(1 for s in states.values() if s[0] == 7),
            "aborted": sum(1 for s in states.values() if s[0] == 8),
            "jobs/min": done * 60 / elapsed,
            "p99 attrs s": attr[min(len(attr) - 1, int(len(attr) * 0.99))],
            "max attrs s": attr[-1],
            "max cancel s": max(r.cancel_times, default=float("nan")),
            "fds": f"{before[0]}->{after[0]}", "threads": f"{before[1]}->{after[1]}",
            "rss MiB": f"{before[2] // 1024}->{after[2] // 1024}",
            "faults": len(r.faults),
        })
        if after[0] > before[0] + 2 or after[1] > before[1] + 2:
            files = open_files(r.app.server.pid)
            added = [f for f in files if f not in getattr(r, "files_before", [])]
            r.fail(f"descriptors or threads did not come back: {before} -> {after}; open now: {files}, "
                   f"new: {added}\n" + r.sockets())
        if after[2] > before[2] + RSS_SLACK_KIB:
            r.fail(f"memory did not come back: {before[2] // 1024} -> {after[2] // 1024} MiB")
        if args.verbose:
            reasons = {}
            for (printer, _), (state, message) in states.items():
                if state == 8:
                    reasons[(printer, message)] = reasons.get((printer, message), 0) + 1
            print(f"  aborted: {reasons}\n  faults: {[(p, k, round(e - s, 1)) for p, k, s, e in r.faults]}\n"
                  f"  device streams: {getattr(r, 'streams', {})}", flush=True)
    except BaseException:
        print("--- application log ---\n" + r.app.log_text())
        raise
    finally:
        try:
            if r.failures:
                print("--- application log ---\n" + r.app.log_text())
                if args.save_log and os.path.exists(r.app.log):
                    shutil.copyfile(r.app.log, f"{args.save_log}.{printers}")
                    if os.path.exists(r.app.log + ".O"):  # the part before the last rotation
                        shutil.copyfile(r.app.log + ".O", f"{args.save_log}.{printers}.O")
            stopping = time.time()
            try:
                r.app.close()
            except subprocess.TimeoutExpired:
                # what it waits on is the finding; then it goes
                r.fail(f"the server did not stop {time.time() - stopping:.0f} s after SIGTERM; its threads:\n"
                       + r.app.stacks())
                r.app.server.kill()
                r.app.server.wait()
                r.app.server = None
                r.app.close()
        finally:
            for device in (r.usb, r.net):
                if device:
                    if args.keep and os.path.isdir(device.jobs):
                        shutil.copytree(device.jobs, os.path.join(work, "received", "net" if device is r.net else "usb"))
                    device.close()
            if args.keep:
                print(f"  kept: {work}", flush=True)
            else:
                shutil.rmtree(work, ignore_errors=True)
    return row, r.failures


def main():
    p = argparse.ArgumentParser()
    for opt in ("app", "filter", "inspector", "mkraster"):
        p.add_argument("--" + opt, required=True)
    p.add_argument("--sim", help="the printer simulator: USB and network printers, with faults (root)")
    p.add_argument("--netbed")
    p.add_argument("--printers", default="1,2,8")
    p.add_argument("--seconds", type=float, default=20)
    p.add_argument("--verbose", action="store_true")
    p.add_argument("--log-level", default="info")
    p.add_argument("--save-log", help="a failed run's application log goes to SAVE_LOG.PRINTERS")
    p.add_argument("--keep", action="store_true", help="keep the run's folder: what each device received, the log")
    p.add_argument("--slow", type=float, default=1.0,
                   help="multiplies the time bounds: a sanitizer's build runs several times slower and is run for "
                        "its reports, not its times")
    args = p.parse_args()
    global CANCEL_BOUND, ATTRIBUTES_BOUND, SHUTDOWN_BOUND, STUCK_BOUND
    CANCEL_BOUND *= args.slow
    ATTRIBUTES_BOUND *= args.slow
    SHUTDOWN_BOUND *= args.slow
    STUCK_BOUND *= args.slow
    # Stopped by hand or by a time-out: the servers, printers and namespaces go too.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    if shutil.which("ipptool") is None:
        print("ipptool missing (cups-ipp-utils)")
        return 77
    if args.sim and (os.getuid() != 0 or not args.netbed):
        print("the simulated printers need root and --netbed")
        return 77
    columns = ["printers", "jobs", "completed", "canceled", "aborted", "jobs/min", "p99 attrs s", "max attrs s",
               "max cancel s", "shutdown s", "faults", "fds", "threads", "rss MiB"]
    print(" ".join(f"{c:>12}" for c in columns), flush=True)
    failed = []
    for n in [int(x) for x in args.printers.split(",")]:
        row, failures = run(args, n, args.seconds)
        print(" ".join(f"{row[c]:>12.2f}" if isinstance(row.get(c), float) else f"{row.get(c, '-')!s:>12}"
                       for c in columns), flush=True)
        failed += failures
    for f in failed:
        print("FAILED:", f)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
