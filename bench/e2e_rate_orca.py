#!/usr/bin/env python3
"""The end-to-end receive rate of the real binary with the desktop's screen
reader listening, beside the rate with none. Run by bench/e2e_rate_orca.sh
inside a private X display.

Each run starts build/app/brisol, connects it from the keyboard to a
loopback sender, puts the focus in the receive box, and only then has the
sender write N MiB of 80-column CR LF lines, shut down its write side and
wait for the binary's close: the rate is N over the time from the first byte
to the close. "plain" runs have no session bus, so no accessibility at all,
as bench/e2e_rate.sh's "brisol"; "orca" runs have Orca 43 on a private
accessibility bus (tests/e2e/orca_speech.py's session), started afresh for
each run and speaking to a null audio driver, with the focus in the receive
box, where it speaks what arrives. The runs are interleaved; one line per
figure (name, median, unit) on standard output, progress on standard error.

    e2e_rate_orca.py BINARY [--mib N] [--repeat R]
"""

import argparse
import os
import shutil
import socket
import statistics
import subprocess
import sys
import threading
import time

# The session and Orca come from the test; no compiled copy is left beside it.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import orca_speech  # noqa: E402

LINE = b"%s\r\n" % (b"0123456789" * 8)[:78]


def progress(text):
    print("e2e_rate_orca: " + text, file=sys.stderr, flush=True)


class Sender:
    """Accepts one connection; on go() writes the stream and times it to the
    peer's close."""

    def __init__(self, mib):
        self.mib = mib
        self.server = socket.socket()
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(1)
        self.port = self.server.getsockname()[1]
        self.connection = None
        self.accepted = threading.Event()
        self.seconds = None
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        self.connection, _ = self.server.accept()
        self.accepted.set()

    def go(self, timeout):
        block = LINE * ((1 << 20) // len(LINE) + 1)
        total = self.mib << 20
        start = time.monotonic()
        sent = 0
        while sent < total:
            piece = block[: min(len(block), total - sent)]
            self.connection.sendall(piece)
            sent += len(piece)
        self.connection.shutdown(socket.SHUT_WR)
        self.connection.settimeout(timeout)
        while self.connection.recv(65536):
            pass
        self.seconds = time.monotonic() - start
        self.connection.close()
        self.server.close()


def one_run(binary, mib, with_orca):
    run = orca_speech.Run(binary)
    try:
        if with_orca:
            run.start_buses()
            run.start_orca()
        sender = Sender(mib)
        env = dict(run.env, QT_QPA_PLATFORM="xcb")
        if not with_orca:
            env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        run.brisol = subprocess.Popen([binary], env=env, stdin=subprocess.DEVNULL,
                                      stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        run.processes.append(run.brisol)
        subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name",
                        "^Brisol v1\\.4$"], check=True, stdout=subprocess.DEVNULL,
                       timeout=120)
        heard = run.heard.count()
        orca_speech.typed("127.0.0.1")
        orca_speech.keys("Tab")
        orca_speech.typed(str(sender.port))
        orca_speech.keys("Tab", "Tab", "space")
        if not sender.accepted.wait(60):
            orca_speech.fail("the binary did not connect within 60 s")
        if with_orca:
            wait_heard(run, heard, r"^Conectado\.?$")
        heard = run.heard.count()
        # A prompt, read when the focus reaches the box: Orca has the box as
        # its focus once it says it.
        sender.connection.sendall(b"login: ")
        orca_speech.keys("Tab")
        if with_orca:
            wait_heard(run, heard, r"^login: ?$")
        before = run.heard.count()
        sender.go(timeout=60 + mib)
        spoken = 0
        if with_orca:
            # What Orca said of the stream, once it has caught up (it speaks
            # the status line's notice of the close after the stream) and
            # quit.
            wait_heard(run, before, r"^El equipo remoto finalizó la conexión\.?$")
            run.stop_orca()
            spoken = sum(b"0123456789".decode() in said for said in run.heard.read()[before:])
        return mib / sender.seconds, spoken
    finally:
        run.cleanup()
        keep = os.environ.get("ORCA_SPEECH_KEEP")
        if keep and with_orca:
            shutil.copytree(run.dir, keep, dirs_exist_ok=True,
                            ignore=shutil.ignore_patterns("*.sock", "dbus-*", "bus*"))
        shutil.rmtree(run.dir, ignore_errors=True)


def wait_heard(run, since, pattern):
    deadline = time.monotonic() + 60
    while not run.heard.find(since, pattern):
        if time.monotonic() > deadline:
            orca_speech.fail("Orca did not say %r within 60 s" % pattern)
        time.sleep(0.05)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("binary")
    parser.add_argument("--mib", type=int, default=256)
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    missing = orca_speech.find_missing()
    if missing:
        orca_speech.skip(missing)
    rates = {"plain": [], "orca": []}
    spoken = []
    load = open("/proc/loadavg").read().split()[:3]
    progress("%d MiB per run, %d repeats; load %s" % (args.mib, args.repeat, " ".join(load)))
    for repeat in range(1, args.repeat + 1):
        for name in ("plain", "orca"):
            rate, said = one_run(args.binary, args.mib, name == "orca")
            rates[name].append(rate)
            if name == "orca":
                spoken.append(said)
            progress("run %d, %-5s: %.2f MiB/s%s" % (
                repeat, name, rate, ", %d announcements spoken" % said if name == "orca" else ""))
    plain = statistics.median(rates["plain"])
    orca = statistics.median(rates["orca"])
    print("%-28s %14.2f MiB/s" % ("brisol_lines_mib_s", plain))
    print("%-28s %14.2f MiB/s" % ("brisol_orca_lines_mib_s", orca))
    print("%-28s %14.3f x" % ("orca_vs_plain", orca / plain))
    print("%-28s %14d announcements" % ("orca_spoken", statistics.median(spoken)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
