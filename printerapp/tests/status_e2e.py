#!/usr/bin/env python3
"""End-to-end tests of what vexo-printer-app says about the printer: the
application started as a normal user, pointed at the printer simulator on the
network (behind a real snmpd in the namespace bed) or on the emulated USB bus,
and read with ipptool the way IPP clients read it.

    status_e2e.py --app BIN --sim BIN --netbed SCRIPT --mkraster BIN --inspector BIN --work DIR
                  [--screenshot PNG] SCENARIO
"""
import argparse
import os
import pwd
import re
import shutil
import subprocess
import sys
import tempfile
import time

import ipp_client
from app_e2e import App, HERE, PNG_MAKER

POLL = 6  # the application's polling interval, seconds
USB_URI = "usb://Vexo/VEXO?serial=VX77000001"  # what PAPPL makes of the emulated printer's answers


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

    def __init__(self, args, app, work):
        self.sim = args.sim
        self.control = os.path.join(app.home, "usb-ctl")
        out = os.path.join(app.home, "usb-sim.out")
        self.out = open(out, "w")
        self.proc = subprocess.Popen(app.prefix + [app.sim or args.sim, "serve", "--usb", "--control", self.control,
                                                   "--status", "1", "--toner", "80"],
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
        subprocess.run([self.sim, "ctl", "--control", self.control, *command], check=True, capture_output=True,
                       timeout=30)

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
    cancelled = time.time()
    subprocess.run(ns_prefix + ["ipptool", "-t", "-d", f"job-id={job}", app.uri(printer), "cancel.test"],
                   check=True, capture_output=True, text=True, timeout=60, cwd=HERE)
    text = wait_job(app, printer, ns_prefix, job, "canceled", 2)
    took = time.time() - cancelled
    assert values(text, "job-state") == ["canceled"], f"not cancelled {took:.1f} s after the cancel:\n{text}"
    print(f"cancelled {took:.2f} s after Cancel-Job while the printer did not read")
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
        if args.screenshot:
            usb.ctl("status", "3079")
            wait_for(app, name, [], ["media-empty"], 80)
            screenshot(app, name, args.screenshot, work)
        # Deleted, it comes back with `autoadd` (named as PAPPL lists it), with
        # its model's driver again. PAPPL 1.3.1 gives a printer made while it
        # runs its printer-id only from the saved state: `delete` needs a restart.
        app.stop()
        app.start()
        app.run("delete", "-d", "Vexo VEXO USB")
        app.run("autoadd")
        added(app, "Vexo VEXO (USB)", [])
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


SCENARIOS = {"network": scenario_network, "usb": scenario_usb}


def main():
    p = argparse.ArgumentParser()
    for opt in ("app", "sim", "netbed", "mkraster", "inspector", "work"):
        p.add_argument("--" + opt, required=True)
    p.add_argument("--screenshot")
    p.add_argument("scenario", choices=sorted(SCENARIOS))
    args = p.parse_args()
    if shutil.which("ipptool") is None:
        print("ipptool missing (cups-ipp-utils)")
        return 77
    if args.scenario == "network" and os.getuid() != 0:
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
