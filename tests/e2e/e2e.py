#!/usr/bin/env python3
"""End-to-end checks: real PDFs printed with lp through a private scheduler
running the freshly built filter, captured by a stand-in network printer.

  e2e.py --filter F --inspector I --mkraster M --sandbox S --work DIR SCENARIO

Each scenario starts its own scheduler (free ports, root under DIR), so
scenarios can run in parallel.
"""
import argparse
import glob
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))

# At 600 dpi one device pixel is 1/600 in; the filter's halftone keeps pure
# black and pure white exactly, and the sample document has nothing else,
# so only rasteriser rounding along edges may differ from the reference.
MAX_DIFF_OF_ALL = 0.002      # of all pixels on the page
MAX_DIFF_OF_BLACK = 0.03     # of the reference's black pixels


class Failure(Exception):
    pass


def check(cond, what):
    if not cond:
        raise Failure(what)


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, capture_output=True, **kw)


# --- job stream ---------------------------------------------------------

class Stream:
    """The fields of a captured job stream, parsed just far enough to
    compare jobs; the project's inspector does the strict checking."""

    def __init__(self, data):
        self.data = data
        self.commands = []   # field texts in order, payloads left out
        self.pages = []      # (page header text, payload bytes)
        self.tail = b""      # bytes after the last complete field
        i = 0
        payload = None
        header = None
        while i < len(data):
            if data.startswith(b"RasterObject.Data#", i):
                eq = data.find(b"=", i)
                if eq < 0:
                    break
                n = int(data[i + len(b"RasterObject.Data#"):eq])
                end = eq + 1 + n
                if end >= len(data) or data[end:end + 1] != b";":
                    break
                payload += data[eq + 1:end]
                i = end + 1
                continue
            semi = data.find(b";", i)
            if semi < 0:
                break
            field = data[i:semi].decode("ascii", "replace")
            self.commands.append(field)
            i = semi + 1
            if field.startswith("MediaSize="):
                header, payload = [field], b""
            elif header is not None and field.startswith("RasterObject."):
                header.append(field)
            elif field == "Event=EndOfPage":
                self.pages.append((";".join(header), payload))
                header = None
        self.tail = data[i:]

    def field(self, name):
        for f in self.commands:
            if f.startswith(name + "="):
                return f[len(name) + 1:]
        return None

    def page_size(self, n):
        h = self.pages[n][0]
        w = int(re.search(r"RasterObject\.Width=(\d+)", h).group(1))
        ht = int(re.search(r"RasterObject\.Height=(\d+)", h).group(1))
        return w, ht

    def media(self, n):
        return re.match(r"MediaSize=([^;]+)", self.pages[n][0]).group(1)


# --- bitmaps ------------------------------------------------------------

def read_pbm(path_or_bytes):
    """Returns (width, height, rows) with rows as packed-bit bytes, 1 = black."""
    data = path_or_bytes if isinstance(path_or_bytes, bytes) else open(path_or_bytes, "rb").read()
    m = re.match(rb"(P[45])\s+(?:#.*\s+)*(\d+)\s+(\d+)\s+(?:(\d+)\s)?", data)
    check(m, "not a PBM/PGM image")
    kind, w, h = m.group(1), int(m.group(2)), int(m.group(3))
    body = data[m.end():]
    if kind == b"P5":
        body = run(["pgmtopbm", "-threshold"], input=data).stdout
        return read_pbm(body)
    stride = (w + 7) // 8
    return w, h, [body[y * stride:(y + 1) * stride] for y in range(h)]


def png_to_pbm(path):
    return read_pbm(run(["pngtopnm", path]).stdout)


def black_pixels(rows):
    return sum(int.from_bytes(r, "big").bit_count() for r in rows)


def differing_pixels(a, b):
    """Counts pixels that differ over the area both bitmaps cover."""
    wa, ha, ra = a
    wb, hb, rb = b
    w, h = min(wa, wb), min(ha, hb)
    nbytes = (w + 7) // 8
    mask = ((1 << w) - 1) << (nbytes * 8 - w)
    diff = 0
    for y in range(h):
        x = int.from_bytes(ra[y][:nbytes], "big") ^ int.from_bytes(rb[y][:nbytes], "big")
        diff += (x & mask).bit_count()
    return diff


# --- the bed ------------------------------------------------------------

class Bed:
    def __init__(self, args, name, printer_options=()):
        self.args = args
        self.work = os.path.join(os.path.abspath(args.work), name)
        os.makedirs(self.work, exist_ok=True)
        # The scheduler runs the filter as lp, which a checkout in a home
        # folder (mode 0700) keeps out: the instance lives under /tmp.
        self.root = tempfile.mkdtemp(prefix=f"vexo-e2e-{name}-")
        self.pdf = os.path.join(self.work, "sample.pdf")
        run(["gs", "-q", "-dSAFER", "-sDEVICE=pdfwrite", "-sPAPERSIZE=a4", "-o", self.pdf,
             os.path.join(HERE, "sample.ps")])
        try:
            run(["bash", args.sandbox, "start", self.root, args.filter, *printer_options])
        except subprocess.CalledProcessError as e:
            shutil.rmtree(self.root, ignore_errors=True)
            raise Failure(f"the scheduler did not start: {e.stderr.decode(errors='replace')}")
        self.env = dict(os.environ)
        for line in open(os.path.join(self.root, "env")):
            k, _, v = line.strip().partition("=")
            self.env[k] = v

    def close(self):
        subprocess.run(["bash", self.args.sandbox, "stop", self.root], capture_output=True)
        # The scheduler's log stays with the test's work for a look afterwards.
        if os.path.isdir(os.path.join(self.root, "log")):
            shutil.copytree(os.path.join(self.root, "log"), self.saved_log_dir(), dirs_exist_ok=True)
        shutil.rmtree(self.root, ignore_errors=True)

    def saved_log_dir(self):
        return os.path.join(self.work, "cups-log")

    def print(self, *options, wait=True, document=None):
        """Prints the sample PDF, or `document`; returns (job id, final state)."""
        document = document or self.pdf
        if not wait:
            out = run(["lp", "-d", "vexo", *options, document], env=self.env).stdout.decode()
            return int(re.search(r"vexo-(\d+)", out).group(1)), None
        out = subprocess.run(["bash", self.args.sandbox, "print", self.root, document, *options],
                             capture_output=True, text=True, env=self.env)
        check(out.returncode == 0, f"job did not end: {out.stdout}{out.stderr}")
        job, state = out.stdout.split()
        return int(job), state

    def job_attributes(self, job):
        out = subprocess.run(["ipptool", "-tv", "-d", f"job_id={job}",
                              f"ipp://{self.env['CUPS_SERVER']}/printers/vexo",
                              os.path.join(self.root, "etc", "job-state.test")],
                             capture_output=True, text=True, env=self.env).stdout
        return dict(re.findall(r"^\s*([a-z-]+) \([a-z]+\) = (\S+)$", out, re.M))

    def job_state(self, job):
        return self.job_attributes(job).get("job-state")

    def page_log(self, job):
        """The copies of each page line the scheduler logged for the job."""
        path = os.path.join(self.root, "log", "page_log")
        lines = open(path).read().splitlines() if os.path.exists(path) else []
        # "queue user job [date time zone] page copies ..."
        return [int(l.split("] ")[1].split()[1]) for l in lines if l.split()[2] == str(job)]

    def wait_state(self, job, seconds=60):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            state = self.job_state(job)
            if state in ("completed", "canceled", "aborted"):
                return state
            time.sleep(0.1)
        raise Failure(f"job {job} did not end within {seconds} s")

    def captured(self, job):
        """The stream of the connection made for this job (one per job, in order)."""
        path = os.path.join(self.root, "printer", f"conn-{job}.bin")
        deadline = time.monotonic() + 10
        while not os.path.exists(path[:-4] + ".done") and time.monotonic() < deadline:
            time.sleep(0.05)
        check(os.path.exists(path), f"the printer received no connection for job {job}")
        return path

    def inspect(self, path, png_dir=None):
        cmd = [self.args.inspector]
        if png_dir:
            os.makedirs(png_dir, exist_ok=True)
            for old in glob.glob(os.path.join(png_dir, "*.png")):
                os.remove(old)
            cmd += ["--png", png_dir]
        out = subprocess.run(cmd + [path], capture_output=True, text=True)
        return out.returncode, out.stdout + out.stderr

    def check_stream(self, job, png_dir=None):
        path = self.captured(job)
        rc, text = self.inspect(path, png_dir)
        check(rc == 0, f"job {job}: inspector rejected the stream:\n{text}")
        return Stream(open(path, "rb").read())

    def leftover_spool_files(self):
        return glob.glob(os.path.join(self.root, "spool", "tmp", "*-jbig*"))

    def log(self, job):
        return [l for l in open(os.path.join(self.root, "log", "error_log"), errors="replace")
                if f"[Job {job}]" in l]


def page_payloads(stream):
    return [p for _, p in stream.pages]


# --- scenarios ----------------------------------------------------------

def scenario_a4(bed):
    """Default options: A4 at 600 dpi, one-sided, the pages as rendered."""
    job, state = bed.print()
    check(state == "completed", f"job ended {state}")
    pngs = os.path.join(bed.work, "pages")
    s = bed.check_stream(job, pngs)
    check(len(s.pages) == 3, f"{len(s.pages)} pages, expected 3")
    check(s.field("Resolution") == "600x600" and s.field("MediaType") == "plain"
          and s.field("Sides") == "OneSided" and s.field("Copies") == "1", f"job header {s.commands[:6]}")
    for n in range(3):
        check(s.media(n) == "na_a4_210x297mm", f"page {n + 1}: {s.media(n)}")
        # the whole sheet, 595 x 842 pt at 600 dpi, width padded to bytes
        check(s.page_size(n) == (4960, 7017), f"page {n + 1}: {s.page_size(n)}")
    check(s.tail == b"" and s.commands[-1] == "Event=EndOfJob", "stream does not end the job")
    check(not bed.leftover_spool_files(), f"spool files left: {bed.leftover_spool_files()}")

    ref = os.path.join(bed.work, "reference")
    os.makedirs(ref, exist_ok=True)
    run(["gs", "-q", "-dSAFER", "-sDEVICE=pbmraw", "-r600", "-o", os.path.join(ref, "page-%03d.pbm"), bed.pdf])
    for n in range(1, 4):
        got = png_to_pbm(os.path.join(pngs, f"page-{n:03d}.png"))
        want = read_pbm(os.path.join(ref, f"page-{n:03d}.pbm"))
        check(abs(got[0] - want[0]) < 8 and got[1] == want[1], f"page {n}: {got[:2]} vs reference {want[:2]}")
        black = black_pixels(want[2])
        diff = differing_pixels(got, want)
        print(f"page {n}: {diff} of {want[0] * want[1]} pixels differ from the reference "
              f"({black} black in the reference)")
        check(black > 0.01 * want[0] * want[1], f"reference page {n} is nearly blank")
        check(diff <= MAX_DIFF_OF_ALL * want[0] * want[1] and diff <= MAX_DIFF_OF_BLACK * black,
              f"page {n}: {diff} pixels differ from the reference")


def scenario_options(bed):
    """Page sizes, media and resolution choices reach the printer's headers."""
    cases = [
        (["-o", "PageSize=Letter", "-o", "MediaType=SuperThick"],
         "na_LETTER_216x279mm", (5104, 6600), {"MediaType": "Superthick", "Resolution": "600x600"}),
        (["-o", "PageSize=A5", "-o", "MediaType=Envelope"],
         "na_a5_148x210mm", (3504, 4958), {"MediaType": "envelope"}),
        (["-o", "PageSize=85x170mm", "-o", "MediaType=Narrow"],
         "na_bank_85x170mm", (2008, 4017), {"MediaType": "Narrow"}),
        # 300 x 500 pt: 2500 x 4167 pixels, 105 x 176 mm at 23.6 pixels per mm
        (["-o", "PageSize=Custom.300x500"],
         "na_customsize_105x176mm", (2504, 4167), {}),
        (["-o", "Resolution=1200dpi", "-o", "MediaType=Thick"],
         "na_a4_210x297mm", (9920, 14033), {"MediaType": "Thick", "Resolution": "1200x1200"}),
    ]
    for options, media, size, fields in cases:
        job, state = bed.print("-o", "page-ranges=1", *options)
        check(state == "completed", f"{options}: job ended {state}")
        s = bed.check_stream(job)
        check(len(s.pages) == 1, f"{options}: {len(s.pages)} pages")
        check(s.media(0) == media, f"{options}: MediaSize {s.media(0)}, expected {media}")
        w, h = s.page_size(0)
        check(abs(w - size[0]) <= 8 and abs(h - size[1]) <= 2, f"{options}: page {w} x {h}, expected {size}")
        for k, v in fields.items():
            check(s.field(k) == v, f"{options}: {k}={s.field(k)}, expected {v}")


def scenario_duplex(bed):
    """An odd page count gets a blank back page; an even one does not."""
    job, state = bed.print("-o", "Duplex=DuplexNoTumble")
    check(state == "completed", f"job ended {state}")
    pngs = os.path.join(bed.work, "pages")
    s = bed.check_stream(job, pngs)
    check(s.field("Sides") == "TwoSidedLongEdge", f"Sides={s.field('Sides')}")
    check(len(s.pages) == 4, f"{len(s.pages)} pages, expected 3 and a blank one")
    check(s.page_size(3) == s.page_size(0), "blank page has another size")
    check(black_pixels(png_to_pbm(os.path.join(pngs, "page-004.png"))[2]) == 0, "page 4 is not blank")
    check(black_pixels(png_to_pbm(os.path.join(pngs, "page-003.png"))[2]) > 0, "page 3 is blank")

    job, state = bed.print("-o", "Duplex=DuplexTumble", "-o", "page-ranges=1-2")
    s = bed.check_stream(job)
    check(s.field("Sides") == "TwoSidedShortEdge", f"Sides={s.field('Sides')}")
    check(len(s.pages) == 2, f"two-page duplex job sent {len(s.pages)} pages")

    # collated copies repeat the blank page with the rest
    job, state = bed.print("-o", "Duplex=DuplexNoTumble", "-n", "2")
    s = bed.check_stream(job)
    p = page_payloads(s)
    check(len(p) == 8 and p[:4] == p[4:], f"duplex copies: {len(p)} pages, second pass differs")


def copies_delivered(s, pages_in_document):
    """Sheets the printer would produce: document passes times its Copies field."""
    check(len(s.pages) % pages_in_document == 0, f"{len(s.pages)} pages is no whole number of documents")
    return len(s.pages) // pages_in_document * int(s.field("Copies"))


def scenario_copies(bed):
    """lp -n N gives N copies, whoever makes them: the filter (collated) or
    the printer (uncollated); the earlier stages never multiply pages."""
    job, state = bed.print("-o", "Collate=True", "-n", "2")
    s = bed.check_stream(job)
    p = page_payloads(s)
    check(len(p) == 6 and s.field("Copies") == "1", f"collated 2: {len(p)} pages, Copies={s.field('Copies')}")
    check(p[:3] == p[3:], "the second pass does not repeat the first")
    check(len(set(p[:3])) == 3, "pages of one pass are not distinct")

    for options, passes, header in ((["-n", "3"], 3, "1"),
                                    (["-n", "3", "-o", "Collate=False"], 1, "3"),
                                    (["-n", "3", "-o", "collate=true"], 3, "1")):
        job, state = bed.print(*options)
        check(state == "completed", f"{options}: job ended {state}")
        s = bed.check_stream(job)
        check(len(s.pages) == 3 * passes and s.field("Copies") == header,
              f"{options}: {len(s.pages)} pages, Copies={s.field('Copies')}")
        check(copies_delivered(s, 3) == 3, f"{options}: {copies_delivered(s, 3)} copies")
        check(len(set(page_payloads(s)[:3])) == 3, f"{options}: pages repeated within a pass")


def scenario_counts(bed):
    """What the scheduler counts (impressions, sheets, page log, quotas) is
    what the printer prints, whoever makes the copies; a raster file printed
    as it is reaches the filter as a named file."""
    raster = os.path.join(bed.work, "three-pages.ras")
    run([bed.args.mkraster, "--pages", "3", "-o", raster])
    cases = [
        # document, lp options, pages sent, impressions, sheets
        (raster, (), 3, 3, 3),
        (bed.pdf, (), 3, 3, 3),
        (bed.pdf, ("-n", "2"), 6, 6, 6),
        (bed.pdf, ("-n", "2", "-o", "Collate=False"), 3, 6, 6),
        # the blank back is printed: 4 impressions on 2 sheets
        (bed.pdf, ("-o", "Duplex=DuplexNoTumble", "-o", "sides=two-sided-long-edge"), 4, 4, 2),
    ]
    for document, options, sent, impressions, sheets in cases:
        what = f"{os.path.basename(document)} {' '.join(options)}"
        job, state = bed.print(*options, document=document)
        check(state == "completed", f"{what}: job ended {state}")
        s = bed.check_stream(job)
        check(len(s.pages) == sent, f"{what}: the printer got {len(s.pages)} pages, expected {sent}")
        check(len(s.pages) * int(s.field("Copies")) == impressions,
              f"{what}: {len(s.pages)} pages with Copies={s.field('Copies')}")
        attrs = bed.job_attributes(job)
        got = (int(attrs.get("job-impressions-completed", -1)), int(attrs.get("job-media-sheets-completed", -1)))
        check(got == (impressions, sheets), f"{what}: impressions and sheets {got}, expected {(impressions, sheets)}")
        check(sum(bed.page_log(job)) == impressions, f"{what}: page log {bed.page_log(job)}")
        print(f"{what}: {sent} pages sent, {impressions} impressions, {sheets} sheets counted")


def scenario_cancel(bed):
    """A job cancelled while it is being sent tells the printer and cleans up."""
    # The printer is throttled, so the job is surely still being sent when
    # it is cancelled.
    job, _ = bed.print("-n", "3", wait=False)
    deadline = time.monotonic() + 30
    while time.monotonic() < deadline:
        if any("Start to send page(2)" in l for l in bed.log(job)):
            break
        time.sleep(0.05)
    else:
        raise Failure("the job never got to page 2")
    run(["cancel", str(job)], env=bed.env)
    state = bed.wait_state(job)
    check(state == "canceled", f"job ended {state}")
    s = Stream(open(bed.captured(job), "rb").read())
    check(s.field("Resolution") is not None, "no job header before the cancel")
    check(s.data.endswith(b";CancelJob?"), f"stream ends with {s.data[-40:]!r}")
    check("Event=EndOfJob" not in s.commands, "a cancelled job still sent its end")
    check(not bed.leftover_spool_files(), f"spool files left: {bed.leftover_spool_files()}")


def scenario_drop(bed):
    """The printer resets the connection halfway through the first page."""
    job, state = bed.print("-n", "2")
    got = os.path.getsize(bed.captured(job))
    check(got == DROP_AFTER, f"printer kept {got} bytes")
    # Whether the backend or the filter meets the reset first is a matter of
    # timing; either way the filter must end on its own and clean up.
    # The scheduler may finish the job before it has reaped the filter.
    deadline = time.monotonic() + 20
    log = "".join(bed.log(job))
    while "rastertovexo) exited" not in log and time.monotonic() < deadline:
        time.sleep(0.2)
        log = "".join(bed.log(job))
    check("rastertovexo) exited with no errors" in log, "the filter did not end cleanly")
    # The printer got a third of the job: that must never count as printed.
    check(state in ("canceled", "aborted"), f"job ended {state}")
    check(not bed.leftover_spool_files(), f"spool files left: {bed.leftover_spool_files()}")
    print(f"job {job} ended {state} after the printer dropped the connection at {got} bytes")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def scenario_nopaper(bed):
    """The simulated printer, out of paper, reads nothing: the job waits in
    the backend, and prints whole once paper is loaded."""
    check(bed.args.sim, "--sim is needed")
    jobs = os.path.join(bed.work, "jobs")
    os.makedirs(jobs, exist_ok=True)
    control = os.path.join(bed.work, "sim-ctl")
    raw = free_port()
    sim = subprocess.Popen([bed.args.sim, "serve", "--control", control, "--listen", "127.0.0.1",
                            "--port", str(free_port()), "--raw-port", str(raw), "--jobs", jobs,
                            "--status", "3079", "--toner", "80"],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    ctl = lambda *c: run([bed.args.sim, "ctl", "--control", control, *c])
    try:
        deadline = time.monotonic() + 10
        while subprocess.run([bed.args.sim, "ctl", "--control", control, "get"],
                             capture_output=True).returncode != 0:
            check(time.monotonic() < deadline, "the simulator did not start")
            time.sleep(0.05)
        run(["lpadmin", "-p", "vexo", "-v", f"socket://127.0.0.1:{raw}/?snmp=false"], env=bed.env)
        job, _ = bed.print(wait=False)
        time.sleep(8)
        check(bed.job_state(job) == "processing", f"job {bed.job_state(job)} while the printer has no paper")
        check(os.path.getsize(os.path.join(jobs, "job-1.vxo")) == 0, "a printer without paper read the job")
        # What the spooler says meanwhile: the backend's words, not the printer's.
        out = run(["lpstat", "-l", "-p", "vexo"], env=bed.env).stdout.decode()
        print("while waiting: " + " / ".join(l.strip() for l in out.splitlines()[:2]))
        ctl("status", "1")
        check(bed.wait_state(job, 30) == "completed", "the job did not complete once paper was loaded")
        path = os.path.join(jobs, "job-1.vxo")
        rc, text = bed.inspect(path)
        check(rc == 0 and "Event=EndOfJob" in open(path, "rb").read().decode("latin-1"),
              f"the printer got an incomplete job:\n{text}")
    finally:
        sim.terminate()
        sim.wait(timeout=30)


DROP_AFTER = 30000
PRINTER_OPTIONS = {
    "cancel": ["--throttle", "40000"],
    "drop": ["--drop-after", str(DROP_AFTER)],
}

SCENARIOS = {
    "a4": scenario_a4,
    "options": scenario_options,
    "duplex": scenario_duplex,
    "copies": scenario_copies,
    "counts": scenario_counts,
    "cancel": scenario_cancel,
    "drop": scenario_drop,
    "nopaper": scenario_nopaper,
}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--filter", required=True)
    ap.add_argument("--inspector", required=True)
    ap.add_argument("--mkraster", required=True)
    ap.add_argument("--sandbox", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--sim")
    ap.add_argument("scenario", choices=sorted(SCENARIOS))
    args = ap.parse_args()
    if os.geteuid() != 0:
        print("skipped: needs root to run a scheduler")
        return 77

    # A sanitizer build of the filter must not fail jobs over libcups' own leaks.
    os.environ["LSAN_OPTIONS"] = ":".join(
        filter(None, [os.environ.get("LSAN_OPTIONS"), "suppressions=" + os.path.join(HERE, "lsan.supp")]))
    started = time.monotonic()
    bed = Bed(args, args.scenario, PRINTER_OPTIONS.get(args.scenario, ()))
    try:
        SCENARIOS[args.scenario](bed)
    except Failure as e:
        print(f"FAIL {args.scenario}: {e}")
        print(f"scheduler log: {bed.saved_log_dir()}/error_log")
        return 1
    finally:
        bed.close()
    print(f"ok {args.scenario} ({time.monotonic() - started:.1f} s)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
