#!/usr/bin/env python3
"""End-to-end tests of what vexo-printer-app says about the printer: the
application started as a normal user, pointed at the printer simulator on the
network (behind a real snmpd in the namespace bed) or on the emulated USB bus,
and read with ipptool the way IPP clients read it.

    status_e2e.py --app BIN --sim BIN --netbed SCRIPT --mkraster BIN --inspector BIN --work DIR
                  [--screenshot PNG] SCENARIO
"""
import argparse
import glob
import json
import os
import pwd
import re
import shutil
import subprocess
import sys
import tempfile
import time

import ipp_client
from app_e2e import App, HERE, PNG_MAKER, SHUTDOWN_BOUND

POLL = 6  # the application's polling interval, seconds
# python3-gi is Debian's: GTK is read with Debian's Python, whichever runs the tests.
SYSTEM_PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
USB_URI = "usb://Vexo/VEXO?serial=VX77000001"  # what PAPPL makes of the emulated printer's answers
USB_URI_2 = "usb://Vexo/VEXO?serial=VX77000002"


class Bed:
    """One simulated network printer at 10.77.0.11 behind its own snmpd."""

    def __init__(self, args, work):
        self.netbed = args.netbed
        self.run_dir = os.path.join(work, "netbed")
        self.name = f"vxt{os.getpid()}s"
        self.ns = self.name + "-h"
        subprocess.run([self.netbed, "up", self.name, "--sim", args.sim, "--run", self.run_dir,
                        "--host", "a=10.77.0.1/24", "--printer", "a=10.77.0.11/24,status=1,toner=80"],
                       check=True, timeout=120)
        self.sim = args.sim

    def ctl(self, *command):
        subprocess.run([self.sim, "ctl", "--control", os.path.join(self.run_dir, self.name, "p1", "ctl"), *command],
                       check=True, capture_output=True, timeout=30)

    def link(self, up):
        # The printer switched off: nothing answers at its address any more.
        subprocess.run(["ip", "netns", "exec", self.name + "-p1", "ip", "link", "set", "eth0", "up" if up else "down"],
                       check=True, timeout=30)

    def down(self):
        subprocess.run([self.netbed, "down", self.name, "--run", self.run_dir], timeout=120)


class UsbPrinter:
    """The simulator on an emulated USB bus, run as the application's user."""

    def __init__(self, args, app, work, printers=()):
        self.sim = args.sim
        self.control = os.path.join(app.home, "usb-ctl")
        out = os.path.join(app.home, "usb-sim.out")
        self.out = open(out, "w")
        more = [a for p in printers for a in ("--printer", p)]
        self.proc = subprocess.Popen(app.prefix + [app.sim or args.sim, "serve", "--usb", "--control", self.control,
                                                   "--status", "1", "--toner", "80"] + more,
                                     stdout=self.out, stderr=subprocess.STDOUT, env=app.env)
        deadline = time.time() + 20
        self.bus = None
        while time.time() < deadline and not self.bus:
            with open(out) as f:
                m = re.search(r"^usb-bus (\S+)", f.read(), re.M)
            self.bus = m.group(1) if m else None
            time.sleep(0.1)
        assert self.bus, "the simulated USB printer did not start"

    def ctl(self, *command):
        r = subprocess.run([self.sim, "ctl", "--control", self.control, *command], capture_output=True, text=True,
                           timeout=30)
        if r.returncode != 0:
            self.out.flush()
            with open(self.out.name, errors="replace") as f:
                said = f.read()[-6000:]
            raise AssertionError(f"ctl {' '.join(command)}: {r.stderr.strip()} (simulator "
                                 f"{'exited ' + str(self.proc.poll()) if self.proc.poll() is not None else 'running'}):\n"
                                 + said)

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=30)
        self.out.close()


def state(app, printer, ns_prefix):
    r = subprocess.run(ns_prefix + ["ipptool", "-t", app.uri(printer), "state.test"], capture_output=True, text=True,
                       timeout=60, cwd=HERE)
    assert r.returncode == 0, r.stdout + r.stderr
    return r.stdout


def values(text, name):
    m = re.search(r"^\s*" + re.escape(name) + r" \([^)]*\) = (.*)$", text, re.M)
    return m.group(1).split(",") if m else []


def wait_for(app, printer, ns_prefix, reasons, level, polls=2):
    """Waits up to `polls` polling intervals (and the query's time-outs) for
    printer-state-reasons and the toner level to read as given."""
    deadline = time.time() + polls * POLL + 6
    text = ""
    while time.time() < deadline:
        text = state(app, printer, ns_prefix)
        if sorted(values(text, "printer-state-reasons")) == sorted(reasons) and \
                values(text, "marker-levels") == [str(level)]:
            return text
        time.sleep(0.5)
    raise AssertionError(f"wanted reasons {reasons} and toner {level}, got:\n{text}\n" + app.log_text())


def follow(app, printer, printer_sim, ns_prefix, vanish):
    text = wait_for(app, printer, ns_prefix, ["none"], 80)
    assert values(text, "marker-low-levels") == ["10"], text
    assert values(text, "marker-types") == ["toner"], text  # the type desktops draw as a level
    assert "type=toner;" in values(text, "printer-supply")[0] and "level=80;" in text, text
    printer_sim.ctl("status", "3004")
    wait_for(app, printer, ns_prefix, ["cover-open"], 80)
    printer_sim.ctl("status", "1")
    printer_sim.ctl("toner", "5")
    wait_for(app, printer, ns_prefix, ["toner-low"], 5)
    printer_sim.ctl("status", "3079")
    wait_for(app, printer, ns_prefix, ["media-empty", "media-needed", "toner-low"], 5)
    vanish(False)
    # Asked while the printer does not answer, the application answers at once:
    # the status callback only copies what the poller last read.
    slowest = 0.0
    for _ in range(8):
        start = time.monotonic()
        state(app, printer, ns_prefix)
        slowest = max(slowest, time.monotonic() - start)
        time.sleep(0.3)
    print(f"slowest Get-Printer-Attributes while the printer is silent: {slowest:.3f} s")
    assert slowest < 1.0, slowest  # an SNMP or USB time-out is 1.5 s and more
    wait_for(app, printer, ns_prefix, ["offline", "toner-low"], 5)  # the last level read stays
    vanish(True)
    printer_sim.ctl("status", "1")
    printer_sim.ctl("toner", "80")
    wait_for(app, printer, ns_prefix, ["none"], 80)


def job_state(app, printer, ns_prefix, job_id):
    r = subprocess.run(ns_prefix + ["ipptool", "-t", "-d", f"job-id={job_id}", app.uri(printer), "job.test"],
                       capture_output=True, text=True, timeout=60, cwd=HERE)
    assert r.returncode == 0, r.stdout + r.stderr
    return r.stdout


def submit(app, printer, ns_prefix, path, name, fmt="image/pwg-raster", resolution="600dpi", copies=1):
    r = subprocess.run(ns_prefix + ["ipptool", "-tv", "-d", f"filename={path}", "-d", f"format={fmt}",
                                    "-d", f"job-name={name}", "-d", "sides=one-sided", "-d", f"resolution={resolution}",
                                    "-d", f"copies={copies}", "-d", "media-type=stationery", app.uri(printer),
                                    "submit.test"], capture_output=True, text=True, timeout=60, cwd=HERE)
    assert r.returncode == 0, r.stdout + r.stderr
    return int(re.search(r"job-id \(integer\) = (\d+)", r.stdout).group(1))


def wait_job(app, printer, ns_prefix, job_id, state, seconds):
    deadline = time.time() + seconds
    while True:
        text = job_state(app, printer, ns_prefix, job_id)
        if values(text, "job-state") == [state] or time.time() > deadline:
            return text
        time.sleep(0.1)


def cancel_within(app, printer, ns_prefix, job, when, seconds=2):
    """Cancels the job and checks it is canceled within `seconds`; returns its attributes."""
    cancelled = time.time()
    subprocess.run(ns_prefix + ["ipptool", "-t", "-d", f"job-id={job}", app.uri(printer), "cancel.test"],
                   check=True, capture_output=True, text=True, timeout=60, cwd=HERE)
    text = wait_job(app, printer, ns_prefix, job, "canceled", seconds)
    took = time.time() - cancelled
    assert values(text, "job-state") == ["canceled"], f"not cancelled {took:.1f} s after the cancel:\n{text}"
    print(f"cancelled {took:.2f} s after Cancel-Job {when}")
    return text


def jobs_in(folder):
    return sorted(f for f in os.listdir(folder) if f.endswith(".vxo"))


def pages_of(args, path):
    r = subprocess.run([args.inspector, path], capture_output=True, text=True, timeout=60)
    assert r.returncode == 0, r.stdout + r.stderr
    return r.stdout.count("\npage ")


def jobs(args, app, printer, printer_sim, ns_prefix, folder, work):  # noqa: C901 - one story
    """Jobs meet a printer that cannot print: they wait, saying why, and go on
    once it can; a cancel ends a waiting job at once."""
    # A spooled format: the answer to a streamed raster Print-Job would wait
    # for the printer too.
    png = os.path.join(work, "photo.png")
    subprocess.run(["python3", "-c", PNG_MAKER, png], check=True)
    os.chmod(png, 0o644)

    # No paper before the job: it waits as long as the printer does.
    printer_sim.ctl("status", "3079")
    wait_for(app, printer, ns_prefix, ["media-empty", "media-needed"], 80)
    job = submit(app, printer, ns_prefix, png, "nopaper", fmt="image/png", copies=3)
    time.sleep(10)
    text = job_state(app, printer, ns_prefix, job)
    assert values(text, "job-state") == ["processing"], text
    assert "纸盘无纸" in text and "printer-stopped" in text, text
    wait_for(app, printer, ns_prefix, ["media-empty", "media-needed"], 80, polls=0)
    sent = [f for f in jobs_in(folder) if os.path.getsize(os.path.join(folder, f)) > 0]
    assert sent == [], f"job data went to a printer without paper: {sent}"
    printer_sim.ctl("status", "1")
    text = wait_job(app, printer, ns_prefix, job, "completed", POLL + 10)
    assert values(text, "job-state") == ["completed"], text
    assert values(text, "job-state-message") == ["Printed 3 pages."], text  # not the cleared fault
    (got,) = jobs_in(folder)
    assert pages_of(args, os.path.join(folder, got)) == 3
    wait_for(app, printer, ns_prefix, ["none"], 80, polls=0)

    # The cover opened mid-job: the printer says so while the job runs; a
    # cancel ends the job though the printer reads nothing.
    job = submit(app, printer, ns_prefix, png, "cover", fmt="image/png", resolution="1200dpi", copies=30)
    deadline = time.time() + 60
    while len(jobs_in(folder)) < 2 or b"Event=EndOfPage;" not in open(os.path.join(folder, jobs_in(folder)[1]), "rb").read():
        assert time.time() < deadline, "no page arrived:\n" + app.log_text()
        time.sleep(0.1)
    printer_sim.ctl("status", "3004")
    opened = time.time()
    wait_for(app, printer, ns_prefix, ["cover-open"], 80, polls=0)  # one job-time poll and the query
    print(f"cover-open on the printer {time.time() - opened:.1f} s after the cover opened")
    text = job_state(app, printer, ns_prefix, job)
    assert values(text, "job-state") == ["processing"] and "前盖打开" in text, text
    time.sleep(3)  # the buffers between the two fill up: the write under way blocks
    text = cancel_within(app, printer, ns_prefix, job, "while the printer did not read")
    assert values(text, "job-state-message") == ["Canceled."], text  # not the open cover
    # The device is free: no connection to the printer is left open.
    r = subprocess.run(ns_prefix + ["ss", "-Htn", "state", "established", "dst", "10.77.0.11:9100"],
                       capture_output=True, text=True, timeout=30)
    assert r.stdout.strip() == "", "the cancelled job's connection stayed open:\n" + r.stdout
    assert app.spool_leftovers() == [], app.spool_leftovers()

    # The device is free: the next job prints once the cover is shut.
    printer_sim.ctl("status", "1")
    job = submit(app, printer, ns_prefix, png, "after", fmt="image/png", copies=3)
    text = wait_job(app, printer, ns_prefix, job, "completed", POLL + 10)
    assert values(text, "job-state") == ["completed"], text
    cut, after = (os.path.join(folder, f) for f in jobs_in(folder)[1:])
    assert pages_of(args, after) == 3
    # What the printer read of the cancelled job: whole pages, no cancel it could not take.
    assert os.path.exists(cut[:-4] + ".done") and not open(cut, "rb").read().endswith(b"CancelJob?")


def switched_off(args, app, printer, bed, ns_prefix, folder, work):
    """The printer switched off: its job waits, and neither a cancel nor a
    shutdown waits for the connection attempt under way (up to 30 s)."""
    png = os.path.join(work, "photo.png")
    before = jobs_in(folder)
    bed.link(False)
    try:
        job = submit(app, printer, ns_prefix, png, "off-cancelled", fmt="image/png")
        wait_job(app, printer, ns_prefix, job, "processing", 10)
        time.sleep(2)  # the connection attempt is under way
        cancel_within(app, printer, ns_prefix, job, "while connecting to a printer that is off")

        job = submit(app, printer, ns_prefix, png, "off-kept", fmt="image/png")
        wait_job(app, printer, ns_prefix, job, "processing", 10)
        time.sleep(2)
        started = time.time()
        app.stop()
        took = time.time() - started
        print(f"shutdown while connecting to a printer that is off took {took:.1f} s")
        assert took < SHUTDOWN_BOUND, f"shutdown took {took:.1f} s"
        app.start()
        # kept for the next start, not aborted or "completed" unprinted
        text = job_state(app, printer, ns_prefix, job)
        assert values(text, "job-state")[0] in ("pending", "processing"), text
    finally:
        bed.link(True)
    text = wait_job(app, printer, ns_prefix, job, "completed", 60)
    assert values(text, "job-state") == ["completed"], text + app.log_text()
    (got,) = [f for f in jobs_in(folder) if f not in before and os.path.getsize(os.path.join(folder, f)) > 0]
    assert pages_of(args, os.path.join(folder, got)) == 1


def added(app, info, ns_prefix):
    """Waits for the printer found at `info` to be added (first start, autoadd)
    and checks the driver chosen for it. Returns its name in URIs."""
    deadline = time.time() + 40  # network discovery takes seconds
    printers = ""
    while time.time() < deadline and info not in printers.splitlines():
        printers = app.run("printers").stdout
        time.sleep(0.5)
    assert info in printers.splitlines(), printers + app.log_text()
    name = info.replace(" ", "_")
    text = state(app, name, ns_prefix)
    assert values(text, "printer-make-and-model") == ["Vexo VEXO"], text
    return name


def scenario_network(args, work):
    bed = Bed(args, work)
    app = App(args, work)
    app.prefix = ["ip", "netns", "exec", bed.ns] + app.prefix
    ns = ["ip", "netns", "exec", bed.ns]
    try:
        app.start()
        # First start: the printer the discovery finds is added by itself.
        name = added(app, "Vexo VEXO 10.77.0.11", ns)
        devices = app.run("devices").stdout
        assert "socket://10.77.0.11:9100" in devices, devices
        follow(app, name, bed, ns, bed.link)
        jobs(args, app, name, bed, ns, os.path.join(bed.run_dir, bed.name, "p1", "jobs"), work)
        switched_off(args, app, name, bed, ns, os.path.join(bed.run_dir, bed.name, "p1", "jobs"), work)
    except BaseException:
        print("--- application log ---\n" + app.log_text())
        raise
    finally:
        app.close()
        bed.down()


def scenario_usb(args, work):
    app = App(args, work)
    usb = UsbPrinter(args, app, work)
    app.env.update(UMOCKDEV_DIR=usb.bus, LD_PRELOAD="libumockdev-preload.so.0")
    if "ASAN_OPTIONS" in app.env:  # the preload comes before the sanitizer's runtime
        app.env["ASAN_OPTIONS"] += ":verify_asan_link_order=0"
    try:
        app.start()
        # First start: the printer on the bus is found by its device ID and added.
        name = added(app, "Vexo VEXO USB", [])
        devices = app.run("devices").stdout
        assert USB_URI in devices, devices
        follow(app, name, usb, [], lambda up: usb.ctl("silent", "0" if up else "1"))
        # A job already in the printer's language goes out raw; PAPPL flushes
        # its empty buffer before a large write: a zero-length bulk transfer,
        # which a printer takes without a word.
        stream = b"Event=StartOfJob;" + b"\0" * 100000 + b"Event=EndOfJob;"
        status, attrs = ipp_client.print_job(app.port, name.replace(" ", "_"), stream, "raw-usb",
                                             "application/octet-stream")
        assert status == 0, f"the raw job was refused: {status:#06x}"
        deadline = time.time() + 60
        while (job := ipp_client.job_state(app.port, name.replace(" ", "_"), attrs["job-id"][0]))[0] < 7:
            assert time.time() < deadline and usb.proc.poll() is None, f"the raw job did not end: {job}"
            time.sleep(0.2)
        assert job[0] == 9 and usb.proc.poll() is None, f"the raw job over USB: {job}, printer {usb.proc.poll()}"
        # Paper out before the application has read it: the job's bulk writes
        # wait on the printer, and a cancel still ends the job at once.
        usb.ctl("status", "3079")
        status, attrs = ipp_client.print_job(app.port, name.replace(" ", "_"), stream, "stuck-usb",
                                             "application/octet-stream")
        job_id = attrs["job-id"][0]
        time.sleep(3)
        job = ipp_client.job_state(app.port, name.replace(" ", "_"), job_id)
        assert job[0] == 5, f"the job to a printer without paper: {job}"
        cancelled = time.time()
        ipp_client.cancel_job(app.port, name.replace(" ", "_"), job_id)
        while (job := ipp_client.job_state(app.port, name.replace(" ", "_"), job_id))[0] < 7:
            assert time.time() - cancelled < 2, f"the cancel of a job waiting on USB took over 2 s: {job}"
            time.sleep(0.1)
        assert job[0] == 7, f"the cancelled job: {job}"
        print(f"cancelled {time.time() - cancelled:.2f} s after Cancel-Job while the USB printer did not read")
        usb.ctl("status", "1")
        if args.screenshot:
            usb.ctl("status", "3079")
            wait_for(app, name, [], ["media-empty"], 80)
            screenshot(app, name, args.screenshot, work)
        # Deleted, it comes back with `autoadd`, with its model's driver again;
        # a second `autoadd` adds nothing. PAPPL 1.3.1 gives a printer made while it
        # runs its printer-id only from the saved state: `delete` needs a restart.
        app.stop()
        app.start()
        app.run("delete", "-d", "Vexo VEXO USB")
        app.run("autoadd")
        added(app, "Vexo VEXO USB", [])
        app.run("autoadd")
        assert app.run("printers").stdout.splitlines() == ["Vexo VEXO USB"], app.run("printers").stdout
    except BaseException:
        print("--- application log ---\n" + app.log_text())
        raise
    finally:
        app.close()
        usb.stop()


def served(app, count):
    """Waits for `count` printers; returns their names by device URI."""
    deadline = time.time() + 20
    by_uri = {}
    while time.time() < deadline and len(by_uri) < count:
        status, attrs = ipp_client.printers(app.port)
        by_uri = dict(zip(attrs.get("smi55357-device-uri", []), attrs.get("printer-name", [])))
        time.sleep(0.3)
    assert len(by_uri) == count, f"{by_uri}\n" + app.log_text()
    return by_uri


def scenario_usb_pair(args, work):
    """Two printers of one model on the bus, one with its cover open: each
    printer of the application reads its own; driver "auto" reads too."""
    app = App(args, work)
    usb = UsbPrinter(args, app, work, printers=["VX77000001,status=3004,toner=20", "VX77000002"])
    app.env.update(UMOCKDEV_DIR=usb.bus, LD_PRELOAD="libumockdev-preload.so.0")
    if "ASAN_OPTIONS" in app.env:
        app.env["ASAN_OPTIONS"] += ":verify_asan_link_order=0"
    try:
        app.start()
        # First start adds both, each under its own name; `autoadd` neither again.
        names = served(app, 2)
        assert set(names) == {USB_URI, USB_URI_2} and len(set(names.values())) == 2, names
        one, two = (names[u].replace(" ", "_") for u in (USB_URI, USB_URI_2))
        wait_for(app, one, [], ["cover-open"], 20, polls=1)
        wait_for(app, two, [], ["none"], 80, polls=1)
        app.run("autoadd")
        assert len(served(app, 2)) == 2

        # Added by hand with driver "auto" (the README's command), reading the first.
        app.run("add", "-d", "ByAuto", "-m", "auto", "-v", USB_URI)
        wait_for(app, "ByAuto", [], ["cover-open"], 20, polls=1)

        # Unplugged, the first reads offline; the second reads on.
        usb.ctl("--printer", "VX77000001", "plugged", "0")
        usb.ctl("--printer", "VX77000002", "status", "3079")
        wait_for(app, one, [], ["offline"], 20)
        wait_for(app, two, [], ["media-empty", "media-needed"], 80, polls=1)
        usb.ctl("--printer", "VX77000001", "plugged", "1")
        usb.ctl("--printer", "VX77000002", "status", "1")

        # A printer saved with driver "auto" by an earlier version reads on load.
        app.stop()
        states = glob.glob(os.path.join(app.home, "cfg", "**", "*.state"), recursive=True)
        assert len(states) == 1, states
        with open(states[0]) as f:
            saved = f.read()
        line = next(ln for ln in saved.splitlines() if ln.startswith("<Printer ") and 'name="ByAuto"' in ln)
        assert 'driver="vexo"' in line, line  # `add -m auto` saves the model's driver
        with open(states[0], "w") as f:
            f.write(saved.replace(line, line.replace('driver="vexo"', 'driver="auto"')))
        app.start()
        wait_for(app, "ByAuto", [], ["cover-open"], 20, polls=1)
        wait_for(app, two, [], ["none"], 80, polls=1)
    except BaseException:
        print("--- application log ---\n" + app.log_text())
        raise
    finally:
        app.close()
        usb.stop()


def screenshot(app, name, out, work):
    chromium = shutil.which("chromium")
    assert chromium, "chromium missing (scripts/install-deps)"
    profile = tempfile.mkdtemp(prefix="chromium-", dir=work)
    url = f"http://localhost:{app.port}/{name}/printer-status"
    subprocess.run([chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                    "--disable-background-networking", "--disable-component-update", "--disable-sync",
                    f"--user-data-dir={profile}", "--window-size=900,640", "--hide-scrollbars",
                    f"--screenshot={out}", url], check=True, capture_output=True, timeout=120)
    assert os.path.getsize(out) > 10000, out


class Cups:
    """A private scheduler in the bed's host namespace, with a driverless
    queue Q on the application's printer, and GTK 3 reading it on a private
    X server when it can."""

    def __init__(self, args, work, ns_prefix, gtk=True):
        self.sandbox = os.path.join(HERE, "..", "..", "scripts", "cups-sandbox")
        self.root = os.path.join(work, "cups")
        self.ns = ns_prefix
        self.xvfb = None
        subprocess.run(ns_prefix + [self.sandbox, "start", self.root, args.filter], check=True, capture_output=True,
                       timeout=60)
        self.env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
        with open(os.path.join(self.root, "env")) as f:
            self.env.update(line.strip().split("=", 1) for line in f if "=" in line)
        self.gtk_missing = self.start_x() if gtk else "not asked"

    def start_x(self):
        """Why GTK cannot read the queue, or None when it can."""
        if not shutil.which("Xvfb"):
            return "Xvfb missing (scripts/install-deps)"
        read, write = os.pipe()
        self.xvfb = subprocess.Popen(self.ns + ["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-screen", "0",
                                                "1024x768x24"], pass_fds=(write,), stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            display = f.readline().strip()
        if not display:
            return "Xvfb did not start"
        self.env["DISPLAY"] = ":" + display
        r = subprocess.run(self.ns + [SYSTEM_PYTHON, os.path.join(HERE, "gtk_printer.py"), "nonesuch"], env=self.env,
                           capture_output=True, text=True, timeout=60)
        return r.stdout.strip() if r.returncode == 77 else None

    def run(self, *argv, check=True):
        r = subprocess.run(self.ns + list(argv), env=self.env, capture_output=True, text=True, timeout=60, cwd=HERE)
        assert r.returncode == 0 or not check, f"{argv}: {r.stdout}{r.stderr}"
        return r.stdout

    def state(self, queue="Q"):
        return self.run("ipptool", "-t", f"ipp://{self.env['CUPS_SERVER']}/printers/{queue}", "state.test")

    def job(self, job_id, queue="Q"):
        return self.run("ipptool", "-t", "-d", f"job-id={job_id}", f"ipp://{self.env['CUPS_SERVER']}/printers/{queue}",
                        "job.test")

    def lp(self, path, title):
        out = self.run("lp", "-d", "Q", "-t", title, path)
        return int(re.search(r"request id is Q-(\d+)", out).group(1))

    def gtk(self, queue="Q"):
        """What GTK's print system shows for the queue; None without GTK."""
        if self.gtk_missing:
            return None
        out = self.run(SYSTEM_PYTHON, os.path.join(HERE, "gtk_printer.py"), queue)
        return json.loads(out.strip().splitlines()[-1])

    def stop(self):
        if self.xvfb:
            self.xvfb.terminate()
            self.xvfb.wait(timeout=30)
        subprocess.run([self.sandbox, "stop", self.root], capture_output=True, timeout=60)


def until(what, seconds, step=0.3):
    deadline = time.time() + seconds
    while True:
        got = what()
        if got or time.time() > deadline:
            return got
        time.sleep(step)


def queue_says(cups):
    text = cups.state()
    return (values(text, "printer-state") + [""])[0], sorted(values(text, "printer-state-reasons")), text


def driverless_queue(args, work, ns, app, name):
    """A private scheduler with queue Q on the application's printer, and a
    PDF to print on it."""
    cups = Cups(args, work, ns)
    try:
        cups.run("lpadmin", "-p", "Q", "-E", "-v", app.uri(name), "-m", "everywhere")
        cups.run("cupsenable", "Q")
        pdf = os.path.join(work, "sample.pdf")
        subprocess.run(["ps2pdf", "-sPAPERSIZE=a4", os.path.join(HERE, "..", "..", "tests", "e2e", "sample.ps"),
                        pdf], check=True, timeout=60)
        os.chmod(pdf, 0o644)
    except BaseException:
        cups.stop()
        raise
    return cups, pdf


def scenario_cups(args, work):  # noqa: C901 - one story
    """A CUPS driverless queue and GTK, on the application's printer out of
    paper: the job waits, the queue and GTK say why, and nothing stale stays."""
    bed = Bed(args, work)
    app = App(args, work)
    app.prefix = ["ip", "netns", "exec", bed.ns] + app.prefix
    ns = ["ip", "netns", "exec", bed.ns]
    cups = None
    seen = []  # (moment, queue state, queue reasons, GTK) for the log

    def note(moment):
        state_, reasons, _ = queue_says(cups)
        gtk = cups.gtk()
        seen.append((moment, state_, " ".join(reasons), gtk and f"{gtk['icon']}: {gtk['message']!r}"))
        return reasons, gtk

    try:
        app.start()
        name = added(app, "Vexo VEXO 10.77.0.11", ns)
        cups, pdf = driverless_queue(args, work, ns, app, name)

        reasons, gtk = note("idle, printer ready")
        assert reasons == ["none"] and (not gtk or gtk["icon"] == "printer"), seen
        bed.ctl("status", "3079")
        wait_for(app, name, ns, ["media-empty", "media-needed"], 80)
        # An idle queue asks nobody: CUPS learns the printer's state only from
        # the backend of a job.
        reasons, gtk = note("idle, no paper")
        assert reasons == ["none"], seen

        first = cups.lp(pdf, "first")
        waiting = until(lambda: queue_says(cups)[1] == ["media-empty", "media-needed"], 20)
        assert waiting, f"the queue never showed the printer's reasons:\n{queue_says(cups)[2]}\n{app.log_text()}"
        text = cups.state()
        assert values(text, "marker-levels") == ["80"] and values(text, "marker-types") == ["toner"], text
        assert "Alerts: media-empty media-needed" in cups.run("lpstat", "-l", "-p", "Q")
        reasons, gtk = note("job waiting, no paper")
        if gtk:
            assert gtk["icon"] == "printer-error" and "out of paper" in gtk["message"], gtk

        # Meanwhile: a second job through the queue waits in the scheduler; a
        # direct raster job is refused while the queue's raster job streams; a
        # direct PNG is spooled by the application.
        second = cups.lp(pdf, "second")
        raster = os.path.join(work, "page.pwg")
        subprocess.run([args.mkraster, "--space", "SW", "--pages", "1", "-o", raster], check=True, timeout=60)
        os.chmod(raster, 0o644)
        r = subprocess.run(ns + ["ipptool", "-tv", "-d", f"filename={raster}", "-d", "format=image/pwg-raster",
                                 "-d", "job-name=direct-raster", "-d", "sides=one-sided", "-d", "resolution=600dpi",
                                 "-d", "copies=1", "-d", "media-type=stationery", app.uri(name), "submit.test"],
                           capture_output=True, text=True, timeout=60, cwd=HERE)
        direct_raster = re.search(r"status-code = (\S+)", r.stdout)
        png = os.path.join(work, "photo.png")
        subprocess.run(["python3", "-c", PNG_MAKER, png], check=True)
        os.chmod(png, 0o644)
        direct_png = submit(app, name, ns, png, "direct-png", fmt="image/png")
        time.sleep(1)
        assert values(cups.job(first), "job-state") == ["processing"], cups.job(first)
        assert values(cups.job(second), "job-state") == ["pending"], cups.job(second)
        print(f"meanwhile: CUPS job 2 pending, direct PWG raster "
              f"{direct_raster.group(1) if direct_raster else r.stdout[-400:]}, direct PNG "
              f"{values(job_state(app, name, ns, direct_png), 'job-state')}")

        bed.ctl("status", "1")
        loaded = time.time()
        for job in (first, second):
            done = until(lambda: values(cups.job(job), "job-state") == ["completed"], 90)
            assert done, cups.job(job) + app.log_text()
        print(f"both queue jobs completed {time.time() - loaded:.1f} s after the paper was loaded")
        assert values(wait_job(app, name, ns, direct_png, "completed", 60), "job-state") == ["completed"]
        reasons, gtk = note("idle after the jobs")
        assert reasons == ["none"], seen  # nothing stale
        if gtk:
            assert gtk["icon"] == "printer", gtk
        # A change after the last job reaches the queue only with the next one.
        bed.ctl("toner", "5")
        wait_for(app, name, ns, ["toner-low"], 5)
        note("idle, toner low since the last job")
    except BaseException:
        print("--- application log ---\n" + app.log_text())
        raise
    finally:
        for moment, state_, reasons, gtk in seen:
            print(f"{moment:40} queue {state_:10} {reasons:28} GTK {gtk}")
        # A job still waiting for paper would hold the server's stop for a minute.
        bed.ctl("status", "1")
        if cups:
            cups.stop()
        app.stop()
        bed.down()
    if cups.gtk_missing:
        print(f"GTK's reading not checked: {cups.gtk_missing}")
        sys.exit(77)


# Printer states for the table of what each client shows: how to bring each
# about on the simulator and how to clear it.
VIEW_STATES = [
    ("ready", [], []),
    ("no paper", [("status", "3079")], [("status", "1")]),
    ("cover open", [("status", "3004")], [("status", "1")]),
    ("paper jam", [("status", "3017")], [("status", "1")]),
    ("drum missing", [("status", "1012")], [("status", "1")]),
    ("toner low", [("toner", "5")], [("toner", "80")]),
    ("toner empty", [("status", "2006"), ("toner", "0")], [("status", "1"), ("toner", "80")]),
    ("not answering", [("link", "down")], [("link", "up")]),
]


def scenario_views(args, work):
    """Not a check: prints what the application, a CUPS driverless queue and
    GTK show for each printer state, idle before a job, while it runs, and
    after the state cleared (about 3 minutes)."""
    bed = Bed(args, work)
    app = App(args, work)
    app.prefix = ["ip", "netns", "exec", bed.ns] + app.prefix
    ns = ["ip", "netns", "exec", bed.ns]
    cups = None
    rows = []

    def view():
        q = cups.state()
        gtk = cups.gtk()
        return (" ".join(values(state(app, name, ns), "printer-state-reasons")),
                f"{values(q, 'printer-state')[0]} {' '.join(values(q, 'printer-state-reasons'))}",
                gtk and f"{gtk['icon']} {gtk['message']!r}")

    try:
        app.start()
        name = added(app, "Vexo VEXO 10.77.0.11", ns)
        cups, pdf = driverless_queue(args, work, ns, app, name)
        for label, make, clear in VIEW_STATES:
            for command in make:
                bed.link(False) if command == ("link", "down") else bed.ctl(*command)
            time.sleep(2 * POLL + 1)  # "not answering" takes two polls
            rows.append((label, "idle, before a job", *view()))
            job = cups.lp(pdf, label.replace(" ", "-"))
            time.sleep(6)
            rows.append((label, f"job {values(cups.job(job), 'job-state')[0]}", *view()))
            for command in clear:
                bed.link(True) if command == ("link", "up") else bed.ctl(*command)
            until(lambda: values(cups.job(job), "job-state") == ["completed"], 60)
            time.sleep(POLL + 1)
            rows.append((label, f"cleared, job {values(cups.job(job), 'job-state')[0]}", *view()))
    finally:
        bed.link(True)
        bed.ctl("status", "1")
        print("| printer | moment | application | CUPS queue | GTK |\n| --- | --- | --- | --- | --- |")
        for row in rows:
            print("| " + " | ".join(str(c) for c in row) + " |")
        if cups:
            cups.stop()
        app.stop()
        bed.down()


def scenario_filter(args, work):
    """The PPD queue (the project's filter, CUPS' socket backend with SNMP on)
    on the printer out of paper: the job waits, the queue shows the printer's
    reasons through the filter, and none stays once the job is printed."""
    bed = Bed(args, work)
    cups = None
    try:
        bed.ctl("status", "3079")
        cups = Cups(args, work, ["ip", "netns", "exec", bed.ns], gtk=False)
        # The backend asks with the community of CUPS' snmp.conf; the printer's is not "public".
        with open(os.path.join(cups.root, "etc", "snmp.conf"), "w") as f:
            f.write("Community ramble\n")
        cups.run("lpadmin", "-p", "vexo", "-E", "-v", "socket://10.77.0.11:9100")
        raster = os.path.join(work, "pages.ras")
        subprocess.run([args.mkraster, "--pages", "2", "-o", raster], check=True, timeout=60)
        os.chmod(raster, 0o644)
        out = cups.run("lp", "-d", "vexo", raster)
        job = int(re.search(r"request id is vexo-(\d+)", out).group(1))

        lpstat = lambda: cups.run("lpstat", "-l", "-p", "vexo")
        shown = until(lambda: "media-empty-error" in lpstat(), 15)
        assert shown, f"the queue never showed the printer's reasons:\n{lpstat()}"
        assert "media-needed-error" in lpstat(), lpstat()
        assert values(cups.job(job, "vexo"), "job-state") == ["processing"]
        assert values(cups.state("vexo"), "marker-levels") == ["80"], cups.state("vexo")
        print("while waiting: " + " / ".join(line.strip() for line in lpstat().splitlines()[:3]))

        bed.ctl("status", "1")
        done = until(lambda: values(cups.job(job, "vexo"), "job-state") == ["completed"], 30)
        assert done, cups.job(job, "vexo")
        folder = os.path.join(bed.run_dir, bed.name, "p1", "jobs")
        printed = jobs_in(folder)
        assert len(printed) == 1 and pages_of(args, os.path.join(folder, printed[0])) == 2, printed
        after = lpstat()
        assert "media-" not in after, f"a reason stayed on the queue:\n{after}"
    finally:
        if cups:
            cups.stop()
        bed.down()


SCENARIOS = {"network": scenario_network, "usb": scenario_usb, "usb-pair": scenario_usb_pair, "cups": scenario_cups,
             "views": scenario_views, "filter": scenario_filter}


def main():
    p = argparse.ArgumentParser()
    for opt in ("app", "sim", "netbed", "mkraster", "inspector", "work"):
        p.add_argument("--" + opt, required=True)
    p.add_argument("--filter")
    p.add_argument("--screenshot")
    p.add_argument("scenario", choices=sorted(SCENARIOS))
    args = p.parse_args()
    if shutil.which("ipptool") is None:
        print("ipptool missing (cups-ipp-utils)")
        return 77
    if args.scenario in ("network", "cups", "views") and os.getuid() != 0:
        print("the namespace bed needs root")
        return 77
    # Short paths: the emulated bus's sockets live under it (108 bytes at most).
    work = tempfile.mkdtemp(prefix="vexo-status-" + args.scenario + "-", dir="/tmp")
    os.chmod(work, 0o755)
    try:
        SCENARIOS[args.scenario](args, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
