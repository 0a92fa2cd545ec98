#!/usr/bin/env python3
"""What a blind user hears of the real binary: the desktop's screen reader,
Orca, runs on a private accessibility bus beside build/app/brisol, and the
binary is driven from the keyboard as such a user drives it, against a
loopback peer. What Orca says is read from its debug log, its lines
"SPEECH OUTPUT: '...'", and compared with one table, a row per step.

Run inside a private X display (tests/e2e/with_xsession.sh):

    orca_speech.py BINARY

Speech goes through a speech server of its own to libao's null driver: a
private HOME and XDG_CONFIG_HOME hold the speech server's and libao's
settings, and a private XDG_RUNTIME_DIR its socket. Orca runs with braille
off (braille's start can stall without a braille daemon) and in English, the
role names the table expects. It runs in a PID namespace of its own where
one can be made, so that its --replace, which kills every other Orca of the
same user, sees no other session's Orca, and the speech server it spawns
ends with it; elsewhere it runs without --replace. Orca writes its log in
blocks, so the log is read once Orca has quit; meanwhile each step waits for
its speech in the speech server's log, which is written as it comes. Every
process is found again by the private HOME it was given, and stopped.

Exits 77 (skipped) where Orca, the speech server or the accessibility bus
is missing. With ORCA_SPEECH_KEEP=DIR the logs are kept in DIR.
"""

import datetime
import html
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

LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
# Seconds a step waits for its speech; a step whose speech never comes
# fails after this long, and the run goes on to show the rest.
STEP_WAIT = 20


def skip(reason):
    print("SKIP: " + reason)
    sys.exit(77)


def fail(reason):
    print("FAIL: " + reason)
    sys.exit(1)


def find_missing():
    for tool, package in (("orca", "orca"), ("speech-dispatcher", "speech-dispatcher"),
                          ("dbus-daemon", "dbus-daemon"), ("dbus-send", "dbus"),
                          ("xdotool", "xdotool")):
        if not shutil.which(tool):
            return "%s is not installed (%s; scripts/setup installs it)" % (tool, package)
    if not os.access(LAUNCHER, os.X_OK):
        return "%s is not installed (at-spi2-core; scripts/setup installs it)" % LAUNCHER
    return None


class Run:
    """The private session: its folders, buses, screen reader and binary."""

    def __init__(self, binary):
        self.binary = binary
        self.dir = tempfile.mkdtemp(prefix="brisol-orca-")
        os.chmod(self.dir, 0o700)
        self.home = os.path.join(self.dir, "home")
        config = os.path.join(self.dir, "config")
        runtime = os.path.join(self.dir, "run")
        for folder in (self.home, config, runtime, os.path.join(config, "speech-dispatcher")):
            os.makedirs(folder, mode=0o700, exist_ok=True)
        self.speech_log = os.path.join(self.dir, "speech-dispatcher.log")
        self.orca_log = os.path.join(self.dir, "orca.log")
        with open(os.path.join(self.home, ".libao"), "w") as out:
            out.write("default_driver=null\n")
        with open(os.path.join(config, "speech-dispatcher", "speechd.conf"), "w") as out:
            # The output module's audio through libao, into its null driver;
            # the highest log level shows each message as it comes.
            out.write('AudioOutputMethod "libao"\nDefaultModule "dummy"\n'
                      'LogLevel 5\nLogDir "%s"\nTimeout 0\n' % self.dir)
        self.env = dict(os.environ)
        for name in ("DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS", "SPEECHD_ADDRESS",
                     "QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "QT_ACCESSIBILITY"):
            self.env.pop(name, None)
        self.env.update(HOME=self.home, XDG_CONFIG_HOME=config, XDG_RUNTIME_DIR=runtime,
                        XDG_DATA_HOME=os.path.join(self.dir, "data"),
                        XDG_CACHE_HOME=os.path.join(self.dir, "cache"),
                        GSETTINGS_BACKEND="memory", LC_ALL="C.UTF-8", LANG="C.UTF-8")
        self.processes = []
        self.orca = None
        self.brisol = None
        self.heard = SpeechLog(self.speech_log)

    def start(self, command, log, **kwargs):
        process = subprocess.Popen(command, env=self.env, stdin=subprocess.DEVNULL,
                                   stdout=open(os.path.join(self.dir, log), "w"),
                                   stderr=subprocess.STDOUT, **kwargs)
        self.processes.append(process)
        return process

    def start_buses(self):
        # A session bus of its own that starts nothing by itself, and the
        # accessibility bus's launcher on it.
        conf = os.path.join(self.dir, "session.conf")
        template = os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "private-session-bus.conf")
        with open(template) as source, open(conf, "w") as out:
            out.write(source.read().replace("@DIR@", self.dir))
        read_end, write_end = os.pipe()
        self.start(["dbus-daemon", "--config-file=" + conf, "--nofork",
                    "--print-address=%d" % write_end], "dbus.log", pass_fds=(write_end,))
        os.close(write_end)
        with os.fdopen(read_end) as addresses:
            address = addresses.readline().strip()
        if not address:
            fail("the private session bus did not start")
        self.env["DBUS_SESSION_BUS_ADDRESS"] = address
        self.start([LAUNCHER, "--launch-immediately", "--a11y=1"], "launcher.log")
        until(30, lambda: subprocess.run(
            ["dbus-send", "--session", "--print-reply=literal", "--dest=org.a11y.Bus",
             "/org/a11y/bus", "org.a11y.Bus.GetAddress"], env=self.env,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0,
            "the accessibility bus launcher did not answer")

    def start_orca(self):
        command = ["orca", "-d", "braille", "--debug-file", self.orca_log]
        namespace = ["unshare", "--pid", "--fork", "--mount-proc", "--kill-child"]
        if subprocess.run(namespace + ["true"], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode == 0:
            command = namespace + command[:1] + ["--replace"] + command[1:]
        self.orca = self.start(command, "orca.out")
        # "Screen reader on." is said once Orca listens to every event.
        started = time.monotonic()
        while not self.heard.find(0, r"Screen reader on"):
            if self.orca.poll() is not None:
                with open(os.path.join(self.dir, "orca.out")) as out:
                    said = out.read().strip()
                if "running" in said:
                    skip("another Orca runs for this user and none could be started apart: "
                         + said)
                fail("Orca ended at its start: " + said)
            if time.monotonic() - started > 90:
                fail("Orca did not say it was on within 90 s")
            time.sleep(0.05)

    def start_brisol(self):
        env = dict(self.env, QT_QPA_PLATFORM="xcb")
        self.brisol = subprocess.Popen([self.binary], env=env, stdin=subprocess.DEVNULL,
                                       stdout=open(os.path.join(self.dir, "brisol.log"), "w"),
                                       stderr=subprocess.STDOUT)
        self.processes.append(self.brisol)

    def orca_pid(self):
        """Orca's own process: the namespace's first process, or Orca itself."""
        if self.orca.args[0] != "unshare":
            return self.orca.pid
        children = subprocess.run(["ps", "-o", "pid=", "--ppid", str(self.orca.pid)],
                                  capture_output=True, text=True).stdout.split()
        return int(children[0]) if children else None

    def stop_orca(self):
        """Asks Orca to quit and waits until it has written its log."""
        pid = self.orca_pid()
        if pid is None or self.orca.poll() is not None:
            return
        os.kill(pid, signal.SIGTERM)
        # Orca's shutdown waits, in taking back its keyboard listener, for
        # one more key event, which reaches it through the focused program:
        # a Shift key is sent until Orca has gone.
        started = time.monotonic()
        while self.orca.poll() is None and time.monotonic() - started < 60:
            subprocess.run(["xdotool", "key", "shift"], stderr=subprocess.DEVNULL)
            try:
                self.orca.wait(timeout=0.5)
            except subprocess.TimeoutExpired:
                pass
        if self.orca.poll() is None:
            os.kill(pid, signal.SIGKILL)
            self.orca.wait()

    def ours(self):
        """Processes started with the private HOME, the speech server that
        Orca spawned among them: it leaves Orca's process group."""
        mark = b"HOME=" + self.home.encode()
        found = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit() or int(entry) == os.getpid():
                continue
            try:
                with open("/proc/%s/environ" % entry, "rb") as environ:
                    if mark in environ.read().split(b"\0"):
                        found.append(int(entry))
            except OSError:
                pass
        return found

    def cleanup(self):
        # Orca first: the key that lets it quit reaches it through the binary.
        if self.orca:
            self.stop_orca()
        if self.brisol and self.brisol.poll() is None:
            self.brisol.kill()
        for process in reversed(self.processes):
            if process.poll() is None:
                process.terminate()
        for process in self.processes:
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        left = self.ours()
        for pid in left:
            try:
                os.kill(pid, signal.SIGTERM)
            except OSError:
                pass
        deadline = time.monotonic() + 10
        while left and time.monotonic() < deadline:
            left = [pid for pid in left if os.path.exists("/proc/%d" % pid)
                    and not zombie(pid)]
            time.sleep(0.05)
        for pid in left:
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass


def zombie(pid):
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] == "Z"
    except OSError:
        return True


def until(seconds, condition, what):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > deadline:
            fail(what + " within %d s" % seconds)
        time.sleep(0.05)


class SpeechLog:
    """The utterances the speech server has been given, in order, read from
    its log as it grows."""

    def __init__(self, path):
        self.path = path
        self.offset = 0
        self.pending = ""
        self.said = []

    def read(self):
        try:
            with open(self.path, encoding="utf-8", errors="replace") as log:
                log.seek(self.offset)
                chunk = log.read()
                self.offset = log.tell()
        except FileNotFoundError:
            return self.said
        text = self.pending + chunk
        end = 0
        for match in re.finditer(r"DATA:\|<speak>(.*?)</speak>", text, re.S):
            self.said.append(html.unescape(re.sub(r"<[^>]*>", "", match.group(1))))
            end = match.end()
        rest = text[end:]
        start = rest.rfind("DATA:|<speak>")
        self.pending = rest[start:] if start >= 0 else ""
        return self.said

    def find(self, since, pattern):
        return any(re.search(pattern, said) for said in self.read()[since:])

    def count(self):
        return len(self.read())


class Peer:
    """A loopback peer that accepts one connection at a time."""

    def __init__(self):
        self.server = socket.socket()
        self.server.bind(("127.0.0.1", 0))
        self.server.listen(1)
        self.port = self.server.getsockname()[1]
        self.connection = None
        self.accepted = threading.Event()
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            connection, _ = self.server.accept()
            self.connection = connection
            self.accepted.set()

    def wait_accepted(self):
        if not self.accepted.wait(STEP_WAIT):
            fail("the binary did not connect to the peer within %d s" % STEP_WAIT)
        self.accepted.clear()

    def send(self, data):
        self.connection.sendall(data)

    def close(self):
        self.connection.close()


def closed_port():
    """A loopback port where nothing listens."""
    probe = socket.socket()
    probe.bind(("127.0.0.1", 0))
    port = probe.getsockname()[1]
    probe.close()
    return port


def keys(*names):
    subprocess.run(["xdotool", "key", "--delay", "40"] + list(names), check=True)


def typed(text):
    subprocess.run(["xdotool", "type", "--delay", "60", text], check=True)


FLOOD_LINES = 100000
FLOOD_LAST = "ultima linea de la inundacion"


def flood_line(number):
    return b"linea %06d de la inundacion, texto de relleno hasta las ochenta columnas...\r\n" % number


def main():
    if len(sys.argv) != 2:
        print("usage: orca_speech.py BINARY")
        return 2
    missing = find_missing()
    if missing:
        skip(missing)
    if not os.environ.get("DISPLAY"):
        skip("no X display: run it through tests/e2e/with_xsession.sh")

    run = Run(sys.argv[1])
    try:
        return converse(run)
    finally:
        run.cleanup()
        report_dir = os.environ.get("ORCA_SPEECH_KEEP")
        if report_dir:
            shutil.copytree(run.dir, report_dir, dirs_exist_ok=True,
                            ignore=shutil.ignore_patterns("*.sock", "dbus-*", "bus*"))
        shutil.rmtree(run.dir, ignore_errors=True)


def converse(run):
    run.start_buses()
    run.start_orca()
    peer = Peer()
    refused = closed_port()
    flood = {}

    def open_window():
        run.start_brisol()

    def connect():
        peer.wait_accepted()
        # A prompt, read when the focus reaches the receive box; it arrives
        # while the focus is in the send box, where it is not spoken.
        peer.send(b"Bienvenido al servidor de pruebas\r\nlogin: ")

    def click_then_send(line):
        # A click gives the box the focus once Orca reads the prompt there.
        since = run.heard.count()
        click_receive_box()
        deadline = time.monotonic() + STEP_WAIT
        while not run.heard.find(since, r"^login: ?$") and time.monotonic() < deadline:
            time.sleep(0.05)
        peer.send(line)

    def flood_then_close():
        # Line by line, as a server writes a long listing, so that the box
        # takes it in many small pieces; then the peer closes at once.
        flood["start"] = time.monotonic()
        for number in range(FLOOD_LINES):
            peer.send(flood_line(number))
        peer.send(FLOOD_LAST.encode() + b"\r\n")
        flood["sent"] = time.monotonic()
        peer.close()

    # What the user does, and what Orca must say for it, in order. Each row:
    # its name, what the user (or the peer) does, and patterns of what Orca
    # says for it, to be found in that order among its utterances (in any
    # order where the row says so).
    table = [
        ("the window opens", open_window,
         [r"^Brisol v1\.4 frame\.?$", r"^Equipo Remoto editable combo box\.?$"]),
        ("typed characters are echoed", lambda: typed("127.0.0.1"),
         [r"^1 ?$", r"^2 ?$", r"^7 ?$", r"^dot ?$", r"^0 ?$", r"^dot ?$", r"^1 ?$"]),
        ("Tab to the port", lambda: keys("Tab"), [r"^Puerto editable combo box\.?$"]),
        ("Tab to Usar Proxy", lambda: (typed("0"), keys("Tab")),
         [r"^Usar Proxy check box not checked\.?$"]),
        ("Tab to Conectar", lambda: keys("Tab"), [r"^Conectar push button\.?$"]),
        ("an invalid port: the message box", lambda: keys("space"),
         [r"^alert Brisol v1\.4\.?$", r"^Datos del equipo remoto no válidos\.?$",
          r"^Aceptar push button\.?$"]),
        ("the message box closes", lambda: keys("Return"),
         [r"^Equipo Remoto editable combo box\.?$"]),
        ("a refused connection", lambda: (
            keys("Tab", "ctrl+a"), typed(str(refused)), keys("Tab", "Tab", "space")),
         [r"^Conectando\.\.\.$", r"^Conexión rechazada\.?$"]),
        ("connected", lambda: (
            keys("shift+Tab", "shift+Tab", "ctrl+a"), typed(str(peer.port)),
            keys("Tab", "Tab", "space"), connect()),
         [r"^Conectando\.\.\.$", r"^Conectado\.?$"]),
        ("Tab to the receive box, where a prompt waits", lambda: keys("Tab"),
         [r"^login: ?$"]),
        ("a line arrives in the focused receive box",
         lambda: peer.send(b"primera linea del servidor\r\n"),
         [r"primera linea del servidor"]),
        ("a flood arrives in the focused receive box, then the peer closes",
         flood_then_close,
         [FLOOD_LAST, r"^El equipo remoto finalizó la conexión\.?$"], "any order"),
        ("connected again", lambda: (keys("space"), connect()), [r"^Conectado\.?$"]),
        ("a line arrives after a click in the receive box",
         lambda: click_then_send(b"segunda linea tras el clic\r\n"),
         [r"^login: ?$", r"segunda linea tras el clic"]),
        ("Ctrl+H: the hexadecimal view, a row read as a line", lambda: keys(
            "ctrl+h", "ctrl+Home", "Down"),
         [r"^00000010\s+72\s+76\s+69\s+64\s.*\srvidor de prueba\s*$"]),
        ("Ctrl+H again: the text, a line read", lambda: keys("ctrl+h", "ctrl+Home", "Down"),
         [r"^login: segunda linea tras el clic\s*$"]),
        ("back to Desconectar", lambda: keys("shift+Tab", "shift+Tab"),
         [r"^Desconectar push button\.?$"]),
        ("Desconectar", lambda: keys("space"), [r"^Desconectado\.?$"]),
        ("Usar Proxy: the proxy settings window", lambda: keys("shift+Tab", "space"),
         [r"Configuración Proxy", r"^Proxy HTTP editable combo box\.?$"]),
    ]

    marks = []
    for name, action, expected, *order in table:
        since = run.heard.count()
        marks.append(clock())
        action()
        deadline = time.monotonic() + STEP_WAIT
        while not heard(run.heard.read()[since:], expected, order):
            if time.monotonic() > deadline:
                break
            time.sleep(0.05)
    marks.append(clock())

    run.stop_orca()
    said = orca_said(run.orca_log)
    failures = 0
    print("What Orca said, step by step (from its log):")
    for index, (name, _, expected, *order) in enumerate(table):
        begin, end = marks[index], marks[index + 1]
        lines = [text for at, text in said if begin <= at < end]
        problems = []
        if not heard(lines, expected, order):
            problems.append("expected, %s: %s" % (order[0] if order else "in order",
                                                   " | ".join(expected)))
        if any(re.fullmatch(r"blank\.?", text.strip()) for text in lines) and "arrives" in name:
            problems.append('"blank" said for a line that arrived')
        if name.startswith("a flood"):
            announced = [text for text in lines if "de la inundacion" in text]
            seconds = flood.get("sent", flood.get("start", 0)) - flood.get("start", 0)
            bound = 3 + int(10 * (seconds + 0.3))
            print("  (flood: %d lines in %.2f s, %d announcements spoken, at most %d allowed)"
                  % (FLOOD_LINES + 1, seconds, len(announced), bound))
            if not announced or len(announced) > bound:
                problems.append("%d announcements of the flood, not 1 to %d"
                                % (len(announced), bound))
            # Each read from a line's start, not from the middle of a word.
            cut = [text for text in announced
                   if not re.match(r"(linea \d{6} |%s)" % FLOOD_LAST, text)]
            if cut:
                problems.append("%d announcements do not start at a line: %r"
                                % (len(cut), shorten(cut[0])))
            lines = [shorten(text) for text in lines]
        status = "FAIL" if problems else "PASS"
        failures += bool(problems)
        print("%s: %s" % (status, name))
        for text in lines:
            print("    SPEECH OUTPUT: %r" % text)
        for problem in problems:
            print("    " + problem)
    passed = len(table) - failures
    print("%d passed, %d failed" % (passed, failures))
    return 1 if failures else 0


def click_receive_box():
    window = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Brisol v1\\.4$"],
                            capture_output=True, text=True).stdout.split()
    if not window:
        fail("the main window is gone")
    height = int(re.search(r"HEIGHT=(\d+)", subprocess.run(
        ["xdotool", "getwindowgeometry", "--shell", window[0]],
        capture_output=True, text=True).stdout).group(1))
    # The receive box's middle, in the client area's twips below the menu bar.
    menu = height - 521
    subprocess.run(["xdotool", "mousemove", "--window", window[0], str((480 + 5000) // 15),
                    str(menu + (4440 + 1200) // 15), "click", "1"], check=True)


def shorten(text):
    return text if len(text) <= 120 else text[:50] + " [...] " + text[-50:]


def heard(lines, expected, order):
    if order:
        return all(heard_in_order(lines, [pattern]) for pattern in expected)
    return heard_in_order(lines, expected)


def heard_in_order(lines, expected):
    position = 0
    for pattern in expected:
        while position < len(lines) and not re.search(pattern, lines[position]):
            position += 1
        if position == len(lines):
            return False
        position += 1
    return True


def clock():
    now = datetime.datetime.now()
    return now.hour * 3600 + now.minute * 60 + now.second + now.microsecond / 1e6


def orca_said(path):
    """(seconds since midnight, text) of every "SPEECH OUTPUT" of the log.
    A text of several lines goes on in lines indented by 18 spaces."""
    said = []
    with open(path, encoding="utf-8", errors="replace") as log:
        record = None
        for line in log.read().split("\n"):
            start = re.match(r"(\d\d):(\d\d):(\d\d\.\d+) - (.*)$", line)
            if start:
                if record:
                    said.append(record)
                record = None
                if start.group(4).startswith("SPEECH OUTPUT: '"):
                    at = (int(start.group(1)) * 3600 + int(start.group(2)) * 60
                          + float(start.group(3)))
                    record = [at, start.group(4)]
            elif record and line.startswith(" " * 18):
                record[1] += "\n" + line[18:]
            elif record:
                said.append(record)
                record = None
        if record:
            said.append(record)
    result = []
    for at, text in said:
        match = re.match(r"SPEECH OUTPUT: '(.*)'(?: voice=\w+)? ?\[?\{.*\}\]?$", text, re.S)
        result.append((at, match.group(1) if match else text))
    return result


if __name__ == "__main__":
    sys.exit(main())
