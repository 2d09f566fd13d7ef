#!/usr/bin/env python3
"""The PWG's IPP Everywhere self-certification tools against vexo-printer-app.

The application runs as a normal user with the simulated USB printer, in a
private network namespace with its own system D-Bus and Avahi daemon, so
nothing is announced beyond it. The suite's dnssd-tests, ipp-tests and
document-tests run without a terminal; I-20's "remove media" step is done by
taking the paper out of the simulated printer when the suite gets there.
Prints one row per test id and fails when any test fails.

    selfcert_e2e.py --app BIN --sim BIN --suite-dir DIR MODE

MODE: localhost (the default server, tester on loopback) or shared (listening
on every address, TLS on, tester on another host of the namespace's network).
The suite's tarball: $VEXO_SELFCERT_TARBALL, else
<project>/../shared/third_party/ippeveselfcert-1.1u4.tar.gz.
"""
import argparse
import fcntl
import hashlib
import os
import pwd
import re
import shutil
import signal
import subprocess
import sys
import tarfile
import tempfile
import time

from app_e2e import HERE, App

SUITE = "ippeveselfcert-1.1u4"
DEFAULT_TARBALL = os.path.normpath(os.path.join(HERE, "..", "..", "..", "shared", "third_party", SUITE + ".tar.gz"))
PORT = 8631            # inside the namespace every port is free
PRINTER = "Vexo VEXO USB"  # the name the first start's search gives the emulated printer
READY, NO_PAPER = "1", "3078"
NET = {"host": "10.79.0.1", "client": "10.79.0.2"}
SUITES = ("dnssd-tests", "ipp-tests", "document-tests")


def skip(why):
    print("SKIP: " + why)
    sys.exit(77)


# --- the suite, built once per tarball ----------------------------------------

def sha256(path):
    h = hashlib.sha256()
    with open(path, "rb") as f:
        for block in iter(lambda: f.read(1 << 20), b""):
            h.update(block)
    return h.hexdigest()


def build_suite(tarball, suite_dir):
    """Builds the suite's tools into suite_dir, or reuses the last build of
    the same tarball. Both modes may ask at once: one builds, one waits."""
    os.makedirs(suite_dir, exist_ok=True)
    tree = os.path.join(suite_dir, SUITE)
    stamp = os.path.join(suite_dir, "built-from")
    with open(os.path.join(suite_dir, "lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        digest = sha256(tarball)
        if os.path.exists(stamp) and open(stamp).read() == digest and os.access(
                os.path.join(tree, "tools", "ipptool"), os.X_OK):
            return tree
        started = time.time()
        shutil.rmtree(tree, ignore_errors=True)
        if os.path.exists(stamp):
            os.unlink(stamp)
        with tarfile.open(tarball) as t:
            t.extractall(suite_dir, filter="data")
        env = dict(os.environ)
        if shutil.which("ccache"):
            env["CC"] = "ccache gcc"
        log = os.path.join(suite_dir, "build.log")
        with open(log, "w") as out:
            for step in (["./configure", "--with-tls=gnutls"], ["make", "-j2"]):
                r = subprocess.run(step, cwd=tree, env=env, stdout=out, stderr=subprocess.STDOUT, timeout=900)
                if r.returncode != 0:
                    with open(log, errors="replace") as f:
                        tail = f.read()[-3000:]
                    raise AssertionError(f"building the suite failed at {' '.join(step)}:\n{tail}")
        with open(stamp, "w") as f:
            f.write(digest)
        print(f"built the suite in {time.time() - started:.0f} s")
        return tree


# --- the private network -------------------------------------------------------

class Host:
    """One network namespace with its own /run, system bus and Avahi daemon."""

    def __init__(self, ns, name, work):
        self.ns, self.name, self.work = ns, name, work
        self.procs = []
        subprocess.run(["ip", "netns", "add", ns], check=True, timeout=30)
        subprocess.run(["ip", "-n", ns, "link", "set", "lo", "up"], check=True, timeout=30)
        # A process holding a mount and UTS namespace of its own: a /run
        # where the daemons' sockets are this host's only, and a host name.
        self.holder = subprocess.Popen(
            ["ip", "netns", "exec", ns, "unshare", "--mount", "--uts", "--propagation", "private", "sh", "-c",
             "mount -t tmpfs -o mode=755 tmpfs /run && mkdir -p /run/dbus /run/avahi-daemon && "
             f"hostname {name} && echo ready && exec sleep infinity"],
            stdout=subprocess.PIPE, text=True)
        assert self.holder.stdout.readline().strip() == "ready", f"namespace {ns} did not come up"
        # `ip netns exec` forks before unshare: the holder is its child or itself.
        self.pid = self._sleeper()

    def _sleeper(self):
        deadline = time.time() + 10
        while time.time() < deadline:
            for pid in subprocess.run(["ip", "netns", "pids", self.ns], capture_output=True, text=True,
                                      timeout=30).stdout.split():
                try:
                    with open(f"/proc/{pid}/cmdline", "rb") as f:
                        if f.read().startswith(b"sleep\0infinity"):
                            return int(pid)
                except OSError:
                    pass
            time.sleep(0.05)
        raise AssertionError(f"no holder process in {self.ns}")

    def prefix(self):
        return ["nsenter", "-t", str(self.pid), "-m", "-u", "-n", "--"]

    def spawn(self, argv, log, env=None):
        out = open(os.path.join(self.work, log), "w")
        p = subprocess.Popen(self.prefix() + argv, stdout=out, stderr=subprocess.STDOUT, env=env,
                             start_new_session=True)
        self.procs.append((p, out))
        return p

    def start_daemons(self):
        self.spawn(["dbus-daemon", "--system", "--nofork", "--nopidfile", "--nosyslog"], f"dbus-{self.name}.log")
        wait_for(lambda: self.exists("/run/dbus/system_bus_socket"), 10, "the system bus")
        conf = os.path.join(self.work, f"avahi-{self.name}.conf")
        with open(conf, "w") as f:
            f.write(f"[server]\nhost-name={self.name}\nuse-ipv4=yes\nuse-ipv6=no\n"
                    "enable-dbus=yes\n[wide-area]\nenable-wide-area=no\n"
                    "[publish]\npublish-hinfo=no\npublish-workstation=no\n")
        self.spawn(["avahi-daemon", "--no-chroot", "--no-drop-root", "--no-rlimits", "-f", conf],
                   f"avahi-{self.name}.log")
        log = os.path.join(self.work, f"avahi-{self.name}.log")
        wait_for(lambda: "Server startup complete" in open(log).read(), 20, "the Avahi daemon")

    def exists(self, path):
        return subprocess.run(self.prefix() + ["test", "-e", path], timeout=30).returncode == 0

    def stop(self):
        for p, out in reversed(self.procs):
            if p.poll() is None:
                os.killpg(p.pid, signal.SIGTERM)
                try:
                    p.wait(timeout=10)
                except subprocess.TimeoutExpired:
                    os.killpg(p.pid, signal.SIGKILL)
                    p.wait()
            out.close()
        self.holder.terminate()
        try:
            self.holder.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.holder.kill()
            self.holder.wait()
        # Whatever still runs in the namespace (nothing should) goes with it.
        for pid in subprocess.run(["ip", "netns", "pids", self.ns], capture_output=True, text=True,
                                  timeout=30).stdout.split():
            try:
                os.kill(int(pid), signal.SIGKILL)
            except ProcessLookupError:
                pass
        subprocess.run(["ip", "netns", "del", self.ns], timeout=30)


def wait_for(condition, seconds, what):
    deadline = time.time() + seconds
    while time.time() < deadline:
        try:
            if condition():
                return
        except OSError:
            pass
        time.sleep(0.1)
    raise AssertionError(f"{what} did not come up within {seconds} s")


def make_network(work):
    """The application's host and a client beside it on a private link (the
    tester when shared, a bystander that must see nothing in localhost mode);
    both ends of the link stay inside the namespaces."""
    base = f"vxt{os.getpid()}sc"
    hosts = {"host": Host(base + "-h", "vexo-selfcert", work)}
    try:
        hosts["client"] = Host(base + "-c", "vexo-tester", work)
        subprocess.run(["ip", "-n", hosts["host"].ns, "link", "add", "eth0", "type", "veth", "peer", "name",
                        "eth0", "netns", hosts["client"].ns], check=True, timeout=30)
        for role, h in hosts.items():
            subprocess.run(["ip", "-n", h.ns, "addr", "add", NET[role] + "/24", "dev", "eth0"], check=True,
                           timeout=30)
            subprocess.run(["ip", "-n", h.ns, "link", "set", "eth0", "up"], check=True, timeout=30)
        for h in hosts.values():
            h.start_daemons()
    except BaseException:
        for h in hosts.values():
            h.stop()
        raise
    return hosts


# --- the printer -----------------------------------------------------------------

class UsbPrinter:
    """The simulator on an emulated USB bus, run as the application's user."""

    def __init__(self, sim, app, host):
        self.sim = sim
        self.control = os.path.join(app.home, "usb-ctl")
        self.proc = host.spawn(app.prefix + [sim, "serve", "--usb", "--control", self.control, "--status", READY,
                                             "--toner", "80"], "usb-sim.log", env=app.env)
        log = os.path.join(host.work, "usb-sim.log")
        self.bus = None

        def found():
            m = re.search(r"^usb-bus (\S+)", open(log).read(), re.M)
            self.bus = m.group(1) if m else None
            return self.bus

        wait_for(found, 20, "the simulated USB printer")

    def status(self, code):
        subprocess.run([self.sim, "ctl", "--control", self.control, "status", code], check=True,
                       capture_output=True, timeout=30)


# --- running the suite ---------------------------------------------------------

def skip_reasons(test_file):
    """NAME -> the SKIP-IF-* conditions of its test block, from the suite's own file."""
    reasons, block = {}, None
    with open(test_file, errors="replace") as f:
        for line in f:
            s = line.strip()
            if s == "{":
                block = {"skips": [], "name": None}
            elif s == "}" and block is not None:
                if block["name"]:
                    reasons[block["name"][:68]] = "; ".join(block["skips"])
                block = None
            elif block is not None and s.startswith("SKIP-IF-"):
                block["skips"].append(s)
            elif block is not None and s.startswith("NAME "):
                block["name"] = s[5:].strip().strip('"')
    return reasons


# "    NAME [PASS]", one line; what a DISPLAY-MATCH prints may come between
# the "[" and the verdict: after "CONT]" the name again (a monitor matched),
# or the message alone (an EXPECT matched, as I-20.1's does).
RESULT = re.compile(r"^[ \t]*(\S[^\n\[]*?)[ \t]*\[(?:CONT\][^\[]*\[)*[^\[\]]*?(PASS|FAIL|SKIP)\]", re.M)
# dnssd-tests prints "B-n name: " and the verdict, with whatever the tools
# said in between; a test whose failure branch finds no service prints none.
DNSSD_TEST = re.compile(r"(B-\d+(?:\.\d+)*)\.? [A-Za-z][^:\n]*? tests?: ")


def test_id(name):
    m = re.match(r"([A-Z]-\d+(?:\.\d+)*)", name)
    return m.group(1) if m else name


def run_suite(script, tests_dir, tester, env, printer, timeout):
    """Runs one script of the suite with no terminal (so PAUSE goes on),
    taking the paper out for I-20 and putting it back once the suite has seen
    media-needed or moved on. Returns its output."""
    # nsenter starts in /: the scripts run from their own folder.
    argv = tester.prefix() + ["sh", "-c", 'cd "$1" && exec sh "$2.sh" "$3"', "sh", tests_dir, script, PRINTER]
    p = subprocess.Popen(argv, cwd=tests_dir, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                         start_new_session=True)
    out, paper_out = b"", False
    os.set_blocking(p.stdout.fileno(), False)
    deadline = time.time() + timeout
    try:
        while True:
            chunk = p.stdout.read()
            if chunk:
                out += chunk
                sys.stdout.write(chunk.decode(errors="replace"))
                sys.stdout.flush()
            elif p.poll() is not None:
                break
            else:
                time.sleep(0.1)
            if time.time() > deadline:
                raise AssertionError(f"{script} did not finish within {timeout} s")
            text = out.decode(errors="replace")
            if paper_out is False and "I-20. media-needed" in text:
                printer.status(NO_PAPER)
                paper_out = time.time()
            elif paper_out and ("OK to insert media" in text or "I-21" in text or time.time() - paper_out > 90
                                or re.search(r"I-20\.1 .*?\[(PASS|FAIL|SKIP)\]", text)):
                printer.status(READY)
                paper_out = None  # back in for good
    finally:
        if p.poll() is None:
            os.killpg(p.pid, signal.SIGKILL)
            p.wait()
        if paper_out:
            printer.status(READY)
    return out.decode(errors="replace")


def results(script, output, tests_dir):
    """[(id, PASS|FAIL|SKIP, note)] in the order the suite ran them."""
    rows = {}
    if script == "dnssd-tests":
        starts = list(DNSSD_TEST.finditer(output))
        for i, m in enumerate(starts):
            end = starts[i + 1].start() if i + 1 < len(starts) else output.find("Summary:", m.end())
            verdict = re.search(r"\b(PASS|FAIL|SKIP)\b", output[m.end():end if end >= 0 else None])
            skipped = verdict and verdict.group(1) == "SKIP"
            rows.setdefault(m.group(1), []).append(
                (verdict.group(1) if verdict else "FAIL", "no TLS offered (TLS key absent)" if skipped else ""))
    else:
        reasons = skip_reasons(os.path.join(tests_dir, script + ".test"))
        for name, verdict in RESULT.findall(output):
            name = name.splitlines()[-1].strip()
            rows.setdefault(test_id(name), []).append((verdict, reasons.get(name[:68], "") if verdict == "SKIP"
                                                       else ""))
    table = []
    for tid, runs in rows.items():
        verdicts = [v for v, _ in runs]
        verdict = "FAIL" if "FAIL" in verdicts else "PASS" if "PASS" in verdicts else "SKIP"
        skipped = sorted({r for v, r in runs if v == "SKIP" and r})
        note = ""
        if verdict != "SKIP" and len(runs) > 1:
            note = f"{verdicts.count('PASS')} of {len(runs)} steps ran"
        if skipped:
            note = (note + "; " if note else "") + "skipped: " + " | ".join(skipped)
        elif verdict == "SKIP" and not note:
            note = "skipped: an earlier step failed or did not apply"
        table.append((tid, verdict, note))
    return table


def failure_details(output):
    """The suite's own lines under each failed test."""
    details, current = [], None
    for line in output.splitlines():
        if re.search(r"\[FAIL\]", line) or re.search(r":\s*FAIL$", line):
            current = line.strip()
            details.append(current)
        elif current and line.startswith("        "):
            details.append(line)
        else:
            current = None
    return "\n".join(details)


def main():
    p = argparse.ArgumentParser()
    for opt in ("app", "sim", "suite-dir"):
        p.add_argument("--" + opt, required=True)
    p.add_argument("mode", choices=("localhost", "shared"))
    args = p.parse_args()

    tarball = os.environ.get("VEXO_SELFCERT_TARBALL", DEFAULT_TARBALL)
    if not os.path.isfile(tarball):
        skip(f"the self-certification suite {tarball} is missing (set VEXO_SELFCERT_TARBALL to its path)")
    if os.getuid() != 0:
        skip("the private network namespace needs root")
    for tool, package in (("avahi-daemon", "avahi-daemon"), ("dbus-daemon", "dbus-daemon"),
                          ("nsenter", "util-linux"), ("setpriv", "util-linux")):
        if not shutil.which(tool) and not os.path.exists("/usr/sbin/" + tool):
            skip(f"{tool} missing (package {package}, scripts/install-deps)")
    if not any(os.path.exists(d + "/libnss_mdns4_minimal.so.2") for d in ("/lib/x86_64-linux-gnu",
                                                                          "/usr/lib/x86_64-linux-gnu")):
        skip("libnss-mdns missing (scripts/install-deps): .local names would not resolve")

    tree = build_suite(tarball, args.suite_dir)
    # Short paths: the emulated bus's sockets live under it (108 bytes at most).
    work = tempfile.mkdtemp(prefix=f"vexo-selfcert-{args.mode}-", dir="/tmp")
    os.chmod(work, 0o755)
    # The scripts write their results beside the tests: a copy per run.
    tests_dir = os.path.join(work, "tests")
    shutil.copytree(os.path.join(tree, "tests"), tests_dir)
    os.symlink(os.path.join(tree, "tools"), os.path.join(work, "tools"))

    started = time.time()
    hosts = make_network(work)
    app = App(argparse.Namespace(app=args.app), work)
    app.port = PORT
    tester = hosts["client" if args.mode == "shared" else "host"]
    try:
        usb = UsbPrinter(args.sim, app, hosts["host"])
        app.env.update(UMOCKDEV_DIR=usb.bus, LD_PRELOAD="libumockdev-preload.so.0")
        if "ASAN_OPTIONS" in app.env:  # the preload comes before the sanitizer's runtime
            app.env["ASAN_OPTIONS"] += ":verify_asan_link_order=0"
        app.prefix = hosts["host"].prefix() + app.prefix
        listen = "*" if args.mode == "shared" else "localhost"
        app.start(listen=listen, log_level="info")
        # First start: the search adds the printer on the bus by itself.
        wait_for(lambda: PRINTER in app.run("printers").stdout.splitlines(), 60, "the printer")
        env = dict(os.environ, PATH=os.path.join(tree, "tools") + ":" + os.environ["PATH"])
        # Announced while the server runs, as print dialogs need it.
        find = tester.prefix() + [os.path.join(tree, "tools", "ippfind"), "--literal-name", PRINTER,
                                  "_ipp._tcp", "-T", "2", "--quiet"]
        wait_for(lambda: subprocess.run(find, timeout=30).returncode == 0, 60, "the printer's DNS-SD service")
        if args.mode == "localhost":
            # Announced on this machine only: the network, where the
            # machine itself is seen, must not see a printer it cannot reach.
            seen = hosts["client"].prefix() + ["getent", "hosts", hosts["host"].name + ".local"]
            wait_for(lambda: NET["host"] in subprocess.run(seen, capture_output=True, text=True,
                                                           timeout=30).stdout, 30, "the machine on the network")
            bystander = hosts["client"].prefix() + find[len(tester.prefix()):]
            bystander[bystander.index("-T") + 1] = "5"
            assert subprocess.run(bystander, timeout=30).returncode != 0, \
                "a loopback-only printer is announced on the network"

        table, outputs = [], {}
        for script in SUITES:
            t0 = time.time()
            outputs[script] = run_suite(script, tests_dir, tester, env, usb, 1200)
            rows = results(script, outputs[script], tests_dir)
            assert rows, f"{script} reported nothing"
            table += [(script, *row) for row in rows]
            print(f"{script}: {time.time() - t0:.0f} s")

        print(f"\nSelf-certification, {args.mode} mode ({time.time() - started:.0f} s):\n")
        print("| suite | test | result | note |\n|---|---|---|---|")
        for script, tid, verdict, note in table:
            print(f"| {script} | {tid} | {verdict} | {note} |")
        for script in SUITES:
            counts = {v: sum(1 for s, _, verdict, _ in table if s == script and verdict == v)
                      for v in ("PASS", "FAIL", "SKIP")}
            print(f"{script}: {counts['PASS']} pass, {counts['FAIL']} fail, {counts['SKIP']} skip")
        failed = [(s, t) for s, t, v, _ in table if v == "FAIL"]
        if failed:
            for script in SUITES:
                d = failure_details(outputs[script])
                if d:
                    print(f"\n--- {script} failures ---\n{d}")
        assert not failed, f"failed: {failed}"
    except BaseException:
        print("--- application log ---\n" + app.log_text())
        raise
    finally:
        try:
            app.stop()
        finally:
            for h in hosts.values():
                h.stop()
        shutil.rmtree(work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
