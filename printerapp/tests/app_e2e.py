#!/usr/bin/env python3
"""End-to-end tests of vexo-printer-app: the application started as a normal
user on a private port, printers writing to file:// devices, IPP clients
(ipptool, and CUPS through a private scheduler) printing to it.

    app_e2e.py --app BIN --filter BIN --inspector BIN --mkraster BIN --work DIR SCENARIO
"""
import argparse
import atexit
import fcntl
import os
import pwd
import random
import re
import select
import shutil
import signal
import socket
import struct
import subprocess
import sys
import termios
import tempfile
import threading
import time

import ipp_client

HERE = os.path.dirname(os.path.abspath(__file__))
# The shutdown bound: 3 s as users meet it; a sanitizer's build runs several
# times slower (a page's encoding cannot be interrupted) and is run for its
# reports, so there the bound only catches a hang.
SHUTDOWN_BOUND = 9 if ("ASAN_OPTIONS" in os.environ or "TSAN_OPTIONS" in os.environ) else 3
PPD = os.path.join(HERE, "..", "..", "ppd", "vexo.ppd")
EVERYWHERE = "/usr/share/cups/ipptool/ipp-everywhere.test"
# No PAPPL version offers it; everything else must pass.
ALLOWED_EVERYWHERE_FAILURES = {"overrides-supported"}


def free_port():
    """A free port below the ephemeral range. The server is restarted on
    it: meanwhile a client asking for it could be given that very port as
    its own and connect to itself, then wait for an answer that never comes,
    and the new server could not bind it."""
    with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
        low = int(f.read().split()[0])
    rng = random.SystemRandom()
    for _ in range(200):
        port = rng.randrange(max(1024, low - 10000), low)
        try:
            for family, host in ((socket.AF_INET, "127.0.0.1"), (socket.AF_INET6, "::1")):
                with socket.socket(family) as s:
                    s.bind((host, port))
            return port
        except OSError:
            continue
    raise AssertionError("no free port below the ephemeral range")


def reachable_copies(folder, programs, env):
    """nobody may not reach a checkout in a home folder (mode 0700): copies of
    the programs it runs, and of the sanitizer suppressions they read, in
    `folder`, which only root may change. Returns the copies' paths; `env`
    names the suppression copies."""
    os.chmod(folder, 0o755)
    copies = []
    for program in programs:
        copies.append(os.path.join(folder, os.path.basename(program)))
        shutil.copy2(program, copies[-1])
        os.chmod(copies[-1], 0o755)
    for name in ("ASAN_OPTIONS", "LSAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"):
        if name not in env:
            continue
        parts = []
        for part in env[name].split(":"):
            if part.startswith("suppressions="):
                copy = os.path.join(folder, f"{name.lower()}-{len(parts)}.supp")
                shutil.copyfile(part[len("suppressions="):], copy)
                os.chmod(copy, 0o644)
                part = "suppressions=" + copy
            parts.append(part)
        env[name] = ":".join(parts)
    return copies


class App:
    """The application as a normal user would run it: its own HOME, TMPDIR and
    config folder; as root the test drops to nobody and runs copies."""

    def __init__(self, args, work):
        self.bin = args.app
        self.sim = getattr(args, "sim", None)
        self.staged = None
        self.work = work
        self.home = os.path.join(work, "home")
        self.out = os.path.join(work, "out")
        for d in (self.home, self.out, os.path.join(self.home, "cfg")):
            os.makedirs(d, exist_ok=True)
        self.port = free_port()
        self.prefix = []
        if os.getuid() == 0:
            nobody = pwd.getpwnam("nobody")
            for d in (work, self.home, self.out, os.path.join(self.home, "cfg")):
                os.chown(d, nobody.pw_uid, nobody.pw_gid)
            self.prefix = ["setpriv", f"--reuid={nobody.pw_uid}", f"--regid={nobody.pw_gid}", "--clear-groups"]
            self.uid = nobody.pw_uid
        else:
            self.uid = os.getuid()
        self.env = dict(os.environ, HOME=self.home, TMPDIR=self.home, XDG_CONFIG_HOME=os.path.join(self.home, "cfg"))
        if self.prefix:
            self.staged = tempfile.mkdtemp(prefix="vexo-app-bin-")
            atexit.register(shutil.rmtree, self.staged, ignore_errors=True)  # whatever path the test ends by
            copies = reachable_copies(self.staged, [p for p in (self.bin, self.sim) if p], self.env)
            self.bin = copies[0]
            self.sim = copies[1] if self.sim else None
        self.log = os.path.join(self.home, "log")
        self.server = None
        self.log_level = "debug"

    def run(self, *argv, check=True):
        # The sub-commands are PAPPL's own client code, which exits without
        # freeing what it parsed; sanitizer builds check the server instead.
        env = dict(self.env)
        if "ASAN_OPTIONS" in env:
            env["ASAN_OPTIONS"] += ":detect_leaks=0"
        r = subprocess.run(self.prefix + [self.bin, *argv], env=env, capture_output=True, text=True, timeout=60)
        if check and r.returncode != 0:
            raise AssertionError(f"{argv[0]} failed ({r.returncode}): {r.stdout}{r.stderr}")
        return r

    def start(self, listen="localhost", log_level=None):
        sock = os.path.join(self.home, f"vexo-printer-app{self.uid}.sock")
        if os.path.exists(sock):
            os.unlink(sock)  # PAPPL leaves it behind; a stale one would look like a running server
        self.server = subprocess.Popen(
            self.prefix + [self.bin, "server", "-o", f"server-port={self.port}", "-o", f"listen-hostname={listen}",
                           "-o", f"spool-directory={self.home}/spool", "-o", f"log-file={self.log}",
                           "-o", f"log-level={log_level or self.log_level}"], env=self.env)
        deadline = time.time() + 20
        while not os.path.exists(sock):
            if self.server.poll() is not None or time.time() > deadline:
                raise AssertionError("the application did not start:\n" + self.log_text())
            time.sleep(0.1)

    def add(self, name, driver="vexo"):
        self.run("add", "-d", name, "-m", driver, "-v", f"file://{self.out}?ext=vxo")
        time.sleep(1.1)  # printer-up-time must be past 0 for the IPP checks

    def uri(self, name):
        return f"ipp://localhost:{self.port}/ipp/print/{name}"

    def stop(self, subcommand=False):
        """Ends the server as the service manager does (SIGTERM), or with the
        `shutdown` subcommand."""
        if self.server and self.server.poll() is None:
            if subcommand:
                self.run("shutdown")
            else:
                self.server.send_signal(signal.SIGTERM)
            code = self.server.wait(timeout=60)
            self.server = None
            # a sanitizer's report at exit fails the run
            assert code == 0, f"the server exited with {code}:\n" + self.log_text()
        self.server = None

    def close(self):
        try:
            self.stop()
        finally:
            if self.staged:
                shutil.rmtree(self.staged, ignore_errors=True)

    def log_text(self):
        try:
            with open(self.log, errors="replace") as f:
                return f.read()[-6000:]
        except OSError:
            return "(no log)"

    def output(self, job_name):
        path = os.path.join(self.out, job_name + ".vxo")
        with open(path, "rb") as f:
            return f.read()

    def spool_leftovers(self):
        spool = os.path.join(self.home, "spool")
        # PAPPL keeps each job's attributes (*.ipp) for the job history
        return [f for f in os.listdir(spool) if not f.endswith((".log", ".ipp"))] if os.path.isdir(spool) else []

    def stacks(self):
        """Every thread's stack in the server, for the report of a hang."""
        if not shutil.which("gdb"):
            return "(no gdb for the stacks)"
        r = subprocess.run(["gdb", "-p", str(self.server.pid), "-batch", "-ex", "thread apply all bt"],
                           capture_output=True, text=True, timeout=120)
        return "\n".join(line for line in r.stdout.splitlines() if line.startswith(("Thread", "#")))

    def check_answers(self, what):
        """A request went unanswered: slow on a loaded machine, or a server
        that will never answer again (a deadlock)."""
        try:
            ipp_client.printers(self.port, timeout=30)
        except TimeoutError:
            self.hung("the server stopped answering " + what)

    def hung(self, what):
        """Fails with the stacks of a server that stopped answering, and ends it."""
        stacks = self.stacks()
        self.server.kill()
        self.server.wait()
        self.server = None
        raise AssertionError(f"{what}; the server's threads:\n{stacks}")


def ipptool(*argv, check=True):
    r = subprocess.run(["ipptool", *argv], capture_output=True, text=True, timeout=300, cwd=HERE)
    if check and r.returncode != 0:
        raise AssertionError("ipptool " + " ".join(argv) + " failed:\n" + r.stdout + r.stderr)
    return r.stdout


def submit(app, printer, path, job_name, fmt="image/pwg-raster", sides="one-sided", resolution="600dpi",
           copies=1, media_type="stationery", expect_state=9, wait=True):
    out = ipptool("-tv", "-d", f"filename={path}", "-d", f"format={fmt}", "-d", f"job-name={job_name}",
                  "-d", f"sides={sides}", "-d", f"resolution={resolution}", "-d", f"copies={copies}",
                  "-d", f"media-type={media_type}", "-d", f"expect-state={expect_state}",
                  app.uri(printer), "print-job.test" if wait else "submit.test")
    return out


def job_id_of(output):
    m = re.search(r"job-id \(integer\) = (\d+)", output)
    assert m, output
    return int(m.group(1))


def filter_stream(args, raster, options, work):
    """What the CUPS filter sends for the same raster and options."""
    tmp = tempfile.mkdtemp(dir=work)
    with open(raster, "rb") as stdin:
        r = subprocess.run([args.filter, "7", "user", "title", "1", options], stdin=stdin, capture_output=True,
                           env=dict(os.environ, PPD=PPD, TMPDIR=tmp), timeout=120)
    shutil.rmtree(tmp)
    assert r.returncode == 0, r.stderr.decode(errors="replace")[-2000:]
    return r.stdout


def inspect(args, data, work, png_dir=None):
    path = os.path.join(work, "stream.vxo")
    with open(path, "wb") as f:
        f.write(data)
    argv = [args.inspector] + (["--png", png_dir] if png_dir else []) + [path]
    r = subprocess.run(argv, capture_output=True, text=True, timeout=120)
    assert r.returncode == 0, f"the inspector refused the stream: {r.stdout}{r.stderr}"
    return r.stdout


def mkraster(args, path, *options):
    subprocess.run([args.mkraster, "--space", "SW", *options, "-o", path], check=True, timeout=120)


def native_page(args, work, options=""):
    """A page already in the printer's language, as the CUPS filter makes it: its path."""
    raster = os.path.join(work, "page.pwg")
    mkraster(args, raster)
    native = os.path.join(work, "native.bin")
    with open(native, "wb") as f:
        f.write(filter_stream(args, raster, options, work))
    return native


# --- scenarios ---------------------------------------------------------------

def scenario_ipptool(args, app, work):
    page = os.path.join(work, "page.pwg")
    mkraster(args, page, "--pages", "1")
    app.add("Test")
    r = subprocess.run(["ipptool", "-t", "-f", page, app.uri("Test"), EVERYWHERE], capture_output=True, text=True,
                       timeout=600)
    print(r.stdout)
    failed_tests = re.findall(r"^\s+(.*?)\s+\[FAIL\]$", r.stdout, re.M)
    missing = set(re.findall(r"EXPECTED: (\S+)", r.stdout))
    assert failed_tests == ["PWG 5100.14 section 5.1/5.2 - Required Operations and Attributes"] or not failed_tests, \
        f"ipp-everywhere.test failures: {failed_tests}"
    assert missing <= ALLOWED_EVERYWHERE_FAILURES, f"unexpected failed checks: {missing - ALLOWED_EVERYWHERE_FAILURES}"
    passed = len(re.findall(r"\[PASS\]", r.stdout))
    print(f"ipp-everywhere.test: {passed} passed, failed only: {sorted(missing) or 'nothing'}")


def scenario_pages(args, app, work):
    """The application's stream equals the filter's for the same raster."""
    app.add("Test")
    cases = [
        ("two600", ["--pages", "2"], {}, ""),
        ("two1200", ["--pages", "2", "--dpi", "1200"], {"resolution": "1200dpi"}, "Resolution=1200dpi"),
        ("duplex3", ["--pages", "3"], {"sides": "two-sided-long-edge", "media_type": "stationery-heavyweight"},
         "Duplex=DuplexNoTumble MediaType=Thick"),
        ("letter", ["--pages", "1", "--size", "Letter"], {"sides": "two-sided-short-edge"},
         "PageSize=Letter Duplex=DuplexTumble"),
    ]
    for name, raster_options, attrs, filter_options in cases:
        raster = os.path.join(work, name + ".pwg")
        mkraster(args, raster, *raster_options)
        submit(app, "Test", raster, name, **attrs)
        got = app.output(name)
        summary = inspect(args, got, work)
        expected = filter_stream(args, raster, filter_options, work)
        assert got == expected, f"{name}: the application's stream differs from the filter's\n{summary}"
        print(f"{name}: {len(got)} bytes, same as the filter's\n{summary}")
    # the printer's darkness setting, 60 of 100, is the PPD's darkness3
    app.run("modify", "-d", "Test", "-o", "printer-darkness-configured=60")
    raster = os.path.join(work, "two600.pwg")
    submit(app, "Test", raster, "dark")
    assert app.output("dark") == filter_stream(args, raster, "GammaDarkness=darkness3", work), "darkness differs"
    assert app.spool_leftovers() == [], app.spool_leftovers()


def scenario_png(args, app, work):
    """A PNG is scaled by PAPPL and halftoned by the printer's own stages."""
    app.add("Test")
    png = os.path.join(work, "photo.png")
    # a 2:3 gray ramp with a black frame, made without extra tools
    subprocess.run(["python3", "-c", PNG_MAKER, png], check=True)
    submit(app, "Test", png, "photo", fmt="image/png", resolution="600dpi")
    pages_dir = os.path.join(work, "pages")
    summary = inspect(args, app.output("photo"), work, png_dir=pages_dir)
    print(summary)
    assert "page 1: na_a4_210x297mm 4960 x 701" in summary, summary
    assert "page 2" not in summary, summary
    black = float(re.search(r"([\d.]+)% black", summary).group(1))
    assert 20 < black < 80, f"a gray ramp should print partly black, got {black}%"


PNG_MAKER = r"""
import struct, sys, zlib
w, h = 400, 600
rows = []
for y in range(h):
    row = bytearray([0])
    for x in range(w):
        edge = x < 8 or y < 8 or x >= w - 8 or y >= h - 8
        row.append(0 if edge else (x * 255) // w)
    rows.append(bytes(row))
def chunk(t, d):
    return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d) & 0xffffffff)
data = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 0, 0, 0, 0))
data += chunk(b"IDAT", zlib.compress(b"".join(rows))) + chunk(b"IEND", b"")
open(sys.argv[1], "wb").write(data)
"""


def scenario_hostile(args, app, work):
    """Pages the printer does not offer end that job with a reason; the next prints."""
    app.add("Test")
    cases = [
        ("wide", ["--size", "3100x12"], "too large"),  # 25834 pixels wide at 600 dpi
        ("black8", ["--space", "K"], "raster type not offered"),
        ("rgb", ["--space", "RGB"], "cannot print"),  # refused by PAPPL itself: not a color printer
        ("dpi300", ["--dpi", "300"], "not offered"),
    ]
    for name, raster_options, reason in cases:
        raster = os.path.join(work, name + ".pwg")
        subprocess.run([args.mkraster, "--space", "SW", *raster_options, "-o", raster], check=True)
        out = submit(app, "Test", raster, name, expect_state=8)
        assert "document-unprintable-error" in out or "document-format-error" in out, out
        if reason:
            assert reason in out, f"{name}: no reason in the job's message:\n{out}"
        print(f"{name}: aborted: " + (re.search(r"job-state-message.*", out) or re.search("x", "x")).group(0))
        path = os.path.join(app.out, name + ".vxo")
        assert not os.path.exists(path) or os.path.getsize(path) == 0, f"{name}: something was sent"
        good = os.path.join(work, "good.pwg")
        mkraster(args, good)
        submit(app, "Test", good, name + "-next")
        inspect(args, app.output(name + "-next"), work)
    # documents that are not what they claim end saying so, before any page
    for name, fmt, data in (("garbage", "image/pwg-raster", b"RaS2" + bytes(200)),
                            ("notraster", "image/pwg-raster", b"%PDF-1.7\n" * 40),
                            ("badjpeg", "image/jpeg", b"\xff\xd8\xff\xe0" + b"\x00" * 300)):
        path = os.path.join(work, name)
        with open(path, "wb") as f:
            f.write(data)
        out = submit(app, "Test", path, name, fmt=fmt, expect_state=8)
        assert "document-format-error" in out and "could not be read" in out, f"{name}:\n{out}"
    # a bad page after a good one: the printer is told to drop the job
    mixed = os.path.join(work, "mixed.pwg")
    with open(mixed, "wb") as f:
        good_bytes = open(good, "rb").read()
        bad_bytes = open(os.path.join(work, "black8.pwg"), "rb").read()
        f.write(good_bytes + bad_bytes[4:])  # one stream: sync word once
    submit(app, "Test", mixed, "mixed", expect_state=8)
    got = app.output("mixed")
    assert got.endswith(b"Event=EndOfPage;CancelJob?"), got[-60:]
    inspect(args, got, work)
    assert app.server.poll() is None, "the server died"
    assert app.spool_leftovers() == [], app.spool_leftovers()


def scenario_cancel(args, app, work):
    """Cancelling a printing job ends its stream with "CancelJob?"."""
    app.add("Test")
    png = os.path.join(work, "photo.png")
    subprocess.run(["python3", "-c", PNG_MAKER, png], check=True)
    out = submit(app, "Test", png, "long", fmt="image/png", resolution="1200dpi", copies=50, wait=False)
    job_id = job_id_of(out)
    path = os.path.join(app.out, "long.vxo")
    deadline = time.time() + 60
    while not (os.path.exists(path) and b"Event=EndOfPage;" in open(path, "rb").read()):
        assert time.time() < deadline, "no page arrived:\n" + app.log_text()
        time.sleep(0.2)
    ipptool("-t", "-d", f"job-id={job_id}", app.uri("Test"), "cancel-job.test")
    got = app.output("long")
    assert got.endswith(b"Event=EndOfPage;CancelJob?"), got[-60:]
    assert got.count(b"CancelJob?") == 1
    summary = inspect(args, got, work)
    pages = summary.count("\npage ")
    assert 1 <= pages < 50, summary
    print(f"cancelled after {pages} of 50 pages")
    assert app.spool_leftovers() == [], app.spool_leftovers()
    submit(app, "Test", png, "after-cancel", fmt="image/png")
    inspect(args, app.output("after-cancel"), work)


def start_long_job(app, printer, png):
    """Fifty copies of a PNG at 1200 dpi, once its output has begun: its id."""
    job = job_id_of(submit(app, printer, png, "long", fmt="image/png", resolution="1200dpi", copies=50, wait=False))
    path = os.path.join(app.out, "long.vxo")
    deadline = time.time() + 60
    while not (os.path.exists(path) and os.path.getsize(path) > 0):
        assert time.time() < deadline, "the long job did not start:\n" + app.log_text()
        time.sleep(0.1)
    return job


def scenario_restart(args, app, work):
    """Printers and their settings survive a restart; the subcommands answer."""
    app.add("Kept")
    assert "vexo \"Vexo VEXO\"" in app.run("drivers").stdout
    app.run("modify", "-d", "Kept", "-o", "printer-darkness-configured=60")
    # a job that never got a document is saved without a format; loading it
    # must neither lose the jobs after it nor misread the rest of the file
    ipptool("-t", "-d", "expect-state=7", app.uri("Kept"), "create-job.test")
    page = os.path.join(work, "submitted.png")
    subprocess.run(["python3", "-c", PNG_MAKER, page], check=True)
    submit(app, "Kept", page, "after-empty", fmt="image/png")
    time.sleep(1.5)  # the state is saved by the server's loop
    # A job printing does not hold the server: it ends at its next page and
    # says why; the shutdown is done within 3 s.
    long_job = start_long_job(app, "Kept", page)
    started = time.time()
    app.stop(subcommand=True)
    took = time.time() - started
    print(f"shutdown with a job printing took {took:.1f} s")
    assert took < SHUTDOWN_BOUND, f"shutdown took {took:.1f} s"
    assert "The server stopped before the job was printed." in app.log_text()
    app.start()
    # aborted, not left processing, and still saying why
    state = ipp_client.job_state(app.port, "Kept", long_job)
    assert state == (8, "The server stopped before the job was printed."), state
    printers = app.run("printers").stdout
    assert printers.split() == ["Kept"], printers + app.log_text()
    status = app.run("status").stdout
    print(status)
    assert "Unknown directive" not in app.log_text(), app.log_text()
    jobs = ipptool("-tv", "-d", "which-jobs=completed", app.uri("Kept"), "jobs.test")
    assert "no-document" in jobs and "after-empty" in jobs, jobs
    attrs = ipptool("-tv", app.uri("Kept"), "attributes.test")
    assert "printer-darkness-configured (integer) = 60" in attrs, attrs
    assert "printer-make-and-model (textWithoutLanguage) = Vexo VEXO" in attrs
    # the command line's own way to print
    app.run("submit", "-d", "Kept", "-o", "print-quality=draft", page)
    path = os.path.join(app.out, "submitted.png.vxo")
    deadline = time.time() + 60
    while not (os.path.exists(path) and open(path, "rb").read().endswith(b"Event=EndOfJob;")):
        assert time.time() < deadline, "the submitted job did not print:\n" + app.log_text()
        time.sleep(0.2)
    inspect(args, open(path, "rb").read(), work)


def scenario_raw(args, app, work):
    """A job already in the printer's language passes through unchanged."""
    # First, a server stopped while its first start still searches the
    # network (seconds of quiet waits) ends at once: the search is called
    # off, so nothing runs on in a process whose PAPPL system is freed.
    time.sleep(0.5)
    started = time.time()
    app.stop()
    took = time.time() - started
    print(f"stopped during the first start's search in {took:.1f} s")
    assert took < 1.5, f"the shutdown waited {took:.1f} s for the first start's search"
    app.start()
    app.add("Test")
    native = native_page(args, work, "Duplex=DuplexTumble")
    # sent as an unknown type: the application recognises it by its first command
    submit(app, "Test", native, "raw", fmt="application/octet-stream")
    assert app.output("raw") == open(native, "rb").read(), "the raw job was changed"


def scenario_saves(args, app, work):
    """Jobs ending in quick succession are saved together, at most once a
    second, not once per change: each save writes every job kept. The
    last change still reaches the disk within a second or so: a server
    killed then knows every job after its restart. Completed jobs beyond
    the printer's limit are then dropped, oldest first."""
    app.stop()
    app.log_level = "info"  # the whole log is counted; debug lines would rotate it
    app.start()
    app.add("Quick")
    native = native_page(args, work)
    with open(app.log, errors="replace") as f:
        saved_before = f.read().count("Saving system state")
    started = time.time()
    names = [f"quick-{i}-" + "x" * 200 for i in range(30)]  # long: the state outgrows a pipe
    for name in names:
        submit(app, "Quick", native, name, fmt="application/octet-stream")
    took = time.time() - started
    time.sleep(3)  # the last change is saved within a second
    with open(app.log, errors="replace") as f:
        saves = f.read().count("Saving system state") - saved_before
    print(f"{len(names)} jobs in {took:.1f} s, state saved {saves} times")
    assert 0 < saves <= took + 4, f"{saves} saves in {took + 3:.1f} s"
    app.server.kill()  # no shutdown, no last save
    app.server.wait()
    app.server = None
    app.start()
    jobs = ipptool("-tv", "-d", "which-jobs=completed", app.uri("Quick"), "jobs.test")
    missing = [n for n in names if f"= {n}\n" not in jobs]
    assert not missing, f"lost after the kill: {[n[:8] for n in missing]}\n{jobs}"

    # A save that cannot write (a stalled disk) holds the system and the
    # printer for reading. The server must still accept and answer: its
    # loop once waited for the system's write lock to number each client.
    state = os.path.join(app.home, "cfg", "vexo-printer-app.state")
    owner = os.stat(state)
    os.remove(state)
    os.mkfifo(state, 0o600)
    os.chown(state, owner.st_uid, owner.st_gid)
    reader = os.open(state, os.O_RDONLY | os.O_NONBLOCK)
    try:
        fcntl.fcntl(reader, fcntl.F_SETPIPE_SZ, 4096)
        ipptool("-t", "-d", "location=stalled", app.uri("Quick"), "set-location.test")
        # The save starts within a second and stops with the pipe full; the
        # state (long job names) is more than the pipe and the file's buffer.
        seen = []
        for _ in range(100):
            seen.append(struct.unpack("i", fcntl.ioctl(reader, termios.FIONREAD, b"\0" * 4))[0])
            if len(seen) > 5 and seen[-1] > 0 and len(set(seen[-5:])) == 1:
                break
            time.sleep(0.1)
        assert seen[-1] > 0, "the save did not start:\n" + "".join(
            line for line in open(app.log, errors="replace") if "state" in line or "Set-Printer" in line)
        started = time.time()
        try:
            status, attrs = ipp_client.printer_attributes(app.port, "Quick", timeout=5)
        except TimeoutError:
            raise AssertionError("Get-Printer-Attributes unanswered for 5 s while a save was stalled") from None
        print(f"answered in {time.time() - started:.2f} s while the save was stalled")
        assert attrs.get("printer-location") == ["stalled"], attrs.get("printer-location")
    finally:
        # The next save makes a regular file again; this one is read to its end.
        os.remove(state)
        deadline = time.time() + 30
        while time.time() < deadline:
            select.select([reader], [], [], 1)
            try:
                if not os.read(reader, 65536):
                    break
            except BlockingIOError:
                pass
        os.close(reader)
    ipptool("-t", "-d", "location=here", app.uri("Quick"), "set-location.test")
    for _ in range(50):  # saved again, to a file
        if os.path.isfile(state):
            break
        time.sleep(0.1)

    # Completed jobs beyond the printer's limit go, oldest first, once they
    # are a minute old: here all but the newest are an hour old, and the
    # limit is 5. A young newest job once kept every other one.
    app.stop()
    with open(state) as f:
        text = f.read()

    def age(m):
        line = m.group(0)
        if f'name="{names[-1]}"' in line:
            return line
        return re.sub(r'completed="(\d+)"', lambda c: f'completed="{int(c.group(1)) - 3600}"', line)
    text = re.sub(r"^Job .*$", age, text, flags=re.M)
    text = re.sub(r"^MaxCompletedJobs \d+$", "MaxCompletedJobs 5", text, flags=re.M)
    with open(state, "w") as f:
        f.write(text)
    app.start()
    for _ in range(10):  # cleaned by the server's loop as it starts (or a second later)
        jobs = ipptool("-tv", "-d", "which-jobs=completed", app.uri("Quick"), "jobs.test")
        kept = [n for n in names if f"= {n}\n" in jobs]
        if kept == names[-5:]:
            break
        time.sleep(0.5)
    assert kept == names[-5:], f"kept {[n[:8] for n in kept]}, not the newest five"


def load(threads, seconds):
    """Runs each callable in its own thread until `seconds` pass or one
    fails; returns the first failure, if any."""
    stop = threading.Event()
    failures = []

    def loop(fn):
        while not stop.is_set():
            try:
                fn()
            except Exception as e:  # reported by the caller
                failures.append(e)
                stop.set()

    workers = [threading.Thread(target=loop, args=(fn,), daemon=True) for fn in threads]
    for w in workers:
        w.start()
    stop.wait(seconds)
    stop.set()
    for w in workers:
        w.join(30)
    return failures[0] if failures else None


def scenario_concurrent(args, app, work):
    """Clients at once: raster jobs refused while another client lists the
    printers, and spooled jobs arriving from several clients while others
    finish. Every request must be answered, every job printed once, alone."""
    app.stop()
    app.log_level = "info"  # debug lines would rotate the log that tells how often each job started
    app.start()
    app.add("First")
    app.add("Busy")
    png = os.path.join(work, "photo.png")
    subprocess.run(["python3", "-c", PNG_MAKER, png], check=True)
    long_job = start_long_job(app, "Busy", png)

    # A raster job for a printing printer is refused busy; the refusal and a
    # listing of the printers once took their locks in opposite orders.
    page = os.path.join(work, "page.pwg")
    mkraster(args, page)
    raster = open(page, "rb").read()
    answered = {"refused": 0, "listed": 0}

    def refuse():
        status, _ = ipp_client.print_job(app.port, "Busy", raster, "refused", "image/pwg-raster")
        assert status == 0x0507, f"a raster job for a busy printer got status {status:#06x}"
        answered["refused"] += 1

    def listing():
        status, attrs = ipp_client.printers(app.port)
        assert status == 0 and len(attrs["printer-name"]) == 2, (status, attrs.get("printer-name"))
        answered["listed"] += 1

    failure = load([refuse, refuse, listing, listing], seconds=4)
    if isinstance(failure, TimeoutError):
        app.check_answers(f"after {answered}")
    else:
        assert failure is None, failure
    print(f"refused busy while listing: {answered}")
    assert ipp_client.cancel_job(app.port, "Busy", long_job) == 0
    deadline = time.time() + 30
    while ipp_client.job_state(app.port, "Busy", long_job)[0] < 7:
        assert time.time() < deadline, "the cancelled job did not end"
        time.sleep(0.1)

    # Spooled jobs from four clients at once: each one starts once, and only
    # when the one before has closed the device.
    native = filter_stream(args, page, "", work)
    log_start = os.path.getsize(app.log)  # job ids are per printer: Busy's are in the log before
    names = [f"c{c}-j{j}" for c in range(4) for j in range(12)]
    jobs = {}

    def client(c):
        for name in names[c * 12:(c + 1) * 12]:
            status, attrs = ipp_client.print_job(app.port, "First", native, name, "application/octet-stream")
            assert status == 0, f"{name}: status {status:#06x}"
            jobs[name] = attrs["job-id"][0]

    submitters = [threading.Thread(target=client, args=(c,)) for c in range(4)]
    for t in submitters:
        t.start()
    for t in submitters:
        t.join(120)
        if t.is_alive():
            app.hung("a submission was not answered")
    assert len(jobs) == len(names), f"only {len(jobs)} of {len(names)} jobs were taken:\n" + app.log_text()
    deadline = time.time() + 120
    states = {}
    for name, job_id in jobs.items():
        while True:
            try:
                states[name] = ipp_client.job_state(app.port, "First", job_id)
            except TimeoutError:
                app.check_answers(f"job {job_id}'s state")
                continue
            if states[name][0] >= 7 or time.time() > deadline:
                break
            time.sleep(0.1)
    wrong = {n: s for n, s in states.items() if s[0] != 9}
    assert not wrong, f"jobs not completed: {wrong}"
    mixed = [n for n in names if app.output(n) != native]
    assert not mixed, f"output not the job's own stream: {mixed}"
    with open(app.log, errors="replace") as f:
        f.seek(log_start)
        log = f.read()
    twice = [n for n, j in jobs.items() if len(re.findall(rf"\[Job {j}\] Starting print job", log)) != 1]
    assert not twice, f"jobs not started exactly once: {twice}"
    print(f"{len(names)} jobs from 4 clients, each printed once and alone")

    # One printer's attributes for eight clients at once: the responses once
    # shared the printer's collections, and one of two written together went
    # out shorter than it said, leaving client and server waiting on each other.
    asked = [0]

    def attributes():
        status, attrs = ipp_client.printer_attributes(app.port, "First", timeout=5)
        assert status == 0 and attrs.get("printer-name") == ["First"], (status, attrs.get("printer-name"))
        asked[0] += 1

    failure = load([attributes] * 8, seconds=15)
    assert failure is None, f"after {asked[0]} answers: {failure!r}"
    print(f"{asked[0]} Get-Printer-Attributes from 8 clients at once, each answered whole")
    assert app.spool_leftovers() == [], app.spool_leftovers()


def black_percentages(summary):
    return [float(p) for p in re.findall(r"([\d.]+)% black", summary)]


def scenario_cups(args, app, work):
    """CUPS adds a driverless queue for the application and prints a PDF."""
    if os.getuid() != 0:
        print("needs root for the private scheduler")
        sys.exit(77)
    app.add("Test")
    sandbox = os.path.join(HERE, "..", "..", "scripts", "cups-sandbox")
    root = os.path.join(work, "cups")
    subprocess.run([sandbox, "start", root, args.filter], check=True, capture_output=True, timeout=60)
    try:
        env = dict(os.environ)
        with open(os.path.join(root, "env")) as f:
            env.update(line.strip().split("=", 1) for line in f if "=" in line)
        subprocess.run(["lpadmin", "-p", "Driverless", "-E", "-v", app.uri("Test"), "-m", "everywhere"],
                       env=env, check=True, capture_output=True, timeout=60)
        subprocess.run(["cupsenable", "Driverless"], env=env, check=True, timeout=30)
        pdf = os.path.join(work, "sample.pdf")
        subprocess.run(["ps2pdf", "-sPAPERSIZE=a4", os.path.join(HERE, "..", "..", "tests", "e2e", "sample.ps"), pdf],
                       check=True, timeout=60)
        subprocess.run(["lp", "-d", "Driverless", "-t", "through-cups", "-o", "media=iso_a4_210x297mm", pdf],
                       env=env, check=True,
                       capture_output=True, timeout=30)
        path = os.path.join(app.out, "through-cups.vxo")
        deadline = time.time() + 120
        while not (os.path.exists(path) and open(path, "rb").read().endswith(b"Event=EndOfJob;")):
            assert time.time() < deadline, "nothing arrived through CUPS:\n" + app.log_text()
            time.sleep(0.5)
        got = inspect(args, app.output("through-cups"), work)
        print("through CUPS:\n" + got)
        # The reference: the same PDF rendered at 600 dpi in 8-bit gray, through the filter.
        raster = os.path.join(work, "reference.ras")
        subprocess.run(["gs", "-q", "-dSAFER", "-dNOPAUSE", "-dBATCH", "-sDEVICE=cups", "-dcupsColorSpace=18",
                        "-dcupsBitsPerColor=8", "-r600", "-sPAPERSIZE=a4", "-dFIXEDMEDIA",
                        f"-sOutputFile={raster}", pdf], check=True, timeout=120)
        reference = inspect(args, filter_stream(args, raster, "", work), work)
        print("reference:\n" + reference)
        # Renderers round A4's 595.28 x 841.89 points to whole pixels differently.
        sizes = lambda text: [(m, int(w), int(h)) for m, w, h in re.findall(r"page \d+: (\S+) (\d+) x (\d+)", text)]
        assert len(sizes(got)) == len(sizes(reference)) > 0, "pages differ in number"
        for (m1, w1, h1), (m2, w2, h2) in zip(sizes(got), sizes(reference)):
            assert m1 == m2 and abs(w1 - w2) <= 8 and abs(h1 - h2) <= 4, "pages differ in size"
        # Renderers differ in anti-aliasing: the pages match in ink to within a point.
        for a, b in zip(black_percentages(got), black_percentages(reference)):
            assert abs(a - b) < 1.0, f"{a}% black through CUPS against {b}% in the reference"
    finally:
        subprocess.run([sandbox, "stop", root], capture_output=True, timeout=60)


SCENARIOS = {f.__name__[len("scenario_"):]: f for f in list(globals().values())
             if callable(f) and getattr(f, "__name__", "").startswith("scenario_")}


def main():
    p = argparse.ArgumentParser()
    for opt in ("app", "filter", "inspector", "mkraster", "work"):
        p.add_argument("--" + opt, required=True)
    p.add_argument("scenario", choices=sorted(SCENARIOS))
    args = p.parse_args()
    if shutil.which("ipptool") is None:
        print("ipptool missing (cups-ipp-utils)")
        return 77
    # Under /tmp: the application (nobody) and the scheduler's filters (lp)
    # may not reach a build tree in a home folder.
    work = tempfile.mkdtemp(prefix=f"vexo-app-{args.scenario}-")
    os.chmod(work, 0o755)
    app = App(args, work)
    try:
        app.start()
        SCENARIOS[args.scenario](args, app, work)
    except BaseException:
        print("--- application log ---\n" + app.log_text())
        raise
    finally:
        app.close()
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
