"""A simulated line for the web tests: merival-sim with four stations and merival-poll --web in
a temporary working folder, the poll's value lines collected as they come."""

import os
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
import urllib.request

STATIONS = ["1:flow", "2:ph", "3:resistivity", "4:conductivity"]
CHANNELS = 4


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Line:
    def __init__(self, build, ini=""):
        self.build = build
        self.dir = tempfile.mkdtemp(prefix="merival-web-")
        self.port = free_port()
        with open(os.path.join(self.dir, "config.txt"), "wb") as f:
            f.write(b'1,5\r\n"1","D\xe9bit entr\xe9e"\r\n1,2\r\n"2","pH bassin"\r\n'
                    b'1,0\r\n"3","Eau ultrapure"\r\n1,1\r\n"4","Conductivit\xe9 rejet"\r\n'
                    b"#TRUE#,#TRUE#,#FALSE#,#TRUE#\r\n#FALSE#,#FALSE#,#TRUE#,#FALSE#\r\n")
        with open(os.path.join(self.dir, "PortCom.dat"), "wb") as f:
            f.write(b" 1             0 \r\n 0 \r\n 0 \r\n")
        self.write_ini(ini)
        self.sim = subprocess.Popen(
            [os.path.join(build, "sim", "merival-sim"), "--pace", "--seed", "2024", *STATIONS],
            cwd=self.dir, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(100):
            if os.path.islink(os.path.join(self.dir, "COM1")):
                break
            time.sleep(0.1)
        else:
            raise RuntimeError("the simulator made no COM1")
        self.poll = None

    def write_ini(self, text):
        with open(os.path.join(self.dir, "merival.ini"), "w", encoding="utf-8") as f:
            f.write(f"[Web]\nActif=true\nPort={self.port}\n" + text)

    def tool(self, *args, stdin=None):
        return subprocess.run([os.path.join(self.build, "tools", "poll", "merival-poll"), *args],
                              cwd=self.dir, input=stdin, capture_output=True, timeout=60)

    def start_poll(self, *options, address="127.0.0.1"):
        self.lines = []
        self.address = address
        self.poll = subprocess.Popen(
            [os.path.join(self.build, "tools", "poll", "merival-poll"), "--web", *options],
            cwd=self.dir, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        threading.Thread(target=self._collect, args=(self.poll.stdout,), daemon=True).start()
        self.url = f"http://{address}:{self.port}"
        for _ in range(100):
            try:
                urllib.request.urlopen(self.url + "/api/etat", timeout=1).read()
                return
            except OSError:
                if self.poll.poll() is not None:
                    raise RuntimeError(self.poll.stderr.read().decode())
                time.sleep(0.1)
        raise RuntimeError("merival-poll --web does not answer")

    def _collect(self, stream):
        for raw in stream:
            line = raw.decode("utf-8").rstrip("\n")
            if line.startswith("Voie "):
                self.lines.append(line)

    def value_lines(self, passe):
        """Pass `passe` (1 = the first) as merival-poll printed it: {channel: [text lines]}."""
        deadline = time.monotonic() + 10
        while len(self.lines) < passe * CHANNELS and time.monotonic() < deadline:
            time.sleep(0.05)
        chunk = self.lines[(passe - 1) * CHANNELS: passe * CHANNELS]
        out = {}
        for line in chunk:
            head, *text = line.split("\t")
            out[int(head.split(" ")[1])] = text
        return out

    def stop_poll(self):
        if self.poll and self.poll.poll() is None:
            self.poll.send_signal(signal.SIGTERM)
            self.poll.wait(timeout=15)
        if self.poll:
            self.poll.stdout.close()
            self.poll.stderr.close()
        self.poll = None

    def close(self):
        self.stop_poll()
        self.sim.terminate()
        self.sim.wait(timeout=10)
        shutil.rmtree(self.dir, ignore_errors=True)
