"""Drives the real Tevrak program in a private X server (Xvfb) with xdotool.

Shared by the end-to-end tests: makes a private drive C:, registry and trash,
starts Xvfb on a free display, starts the program and finds its main window.
"""

import os
import select
import shutil
import subprocess
import tempfile
import time


def start_xvfb():
    """Starts Xvfb on a display it chooses itself, so that two desktops started
    at once never share one; returns the process and the display number."""
    read_end, write_end = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp"],
                            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    answer = b""
    try:
        while not answer.endswith(b"\n"):
            ready, _, _ = select.select([read_end], [], [], 10)
            chunk = os.read(read_end, 16) if ready else b""
            if not chunk:
                xvfb.kill()
                raise RuntimeError("Xvfb did not start")
            answer += chunk
    finally:
        os.close(read_end)
    return xvfb, int(answer)


class Desktop:
    def __init__(self, program):
        self.program = program
        self.base = tempfile.mkdtemp(prefix="tevrak-e2e-")
        self.root = os.path.join(self.base, "C")
        os.makedirs(os.path.join(self.root, "picture", "transfer"))
        self.env = dict(os.environ)
        self.env.update({
            "TEVRAK_ROOT": self.root,
            "XDG_CONFIG_HOME": os.path.join(self.base, "config"),
            "XDG_DATA_HOME": os.path.join(self.base, "data"),
            "XDG_RUNTIME_DIR": os.path.join(self.base, "runtime"),
            "HOME": self.base,
        })
        os.makedirs(self.env["XDG_RUNTIME_DIR"], mode=0o700)
        self.env.pop("QT_QPA_PLATFORM", None)
        self.xvfb, self.display = start_xvfb()
        self.env["DISPLAY"] = f":{self.display}"
        self.app = None

    def init_workstation(self, init_program):
        """Creates the folders and empty tables with the workstation tool."""
        subprocess.run([init_program], env=self.env, check=True, stdout=subprocess.DEVNULL)

    def register_garage(self, name):
        folder = os.path.join(self.env["XDG_CONFIG_HOME"], "Tevrak")
        os.makedirs(folder, exist_ok=True)
        with open(os.path.join(folder, "registry.ini"), "w", encoding="utf-8") as f:
            f.write("[SOFTWARE]\nSarvello\\Garage%20Name=" + name + "\n")

    def start(self, title_part="Norvatha", timeout=20):
        self.app = subprocess.Popen([self.program], env=self.env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        deadline = time.time() + timeout
        while time.time() < deadline:
            found = self.xdotool("search", "--onlyvisible", "--name", title_part, check=False).split()
            if found:
                self.window = found[0]
                time.sleep(0.5)  # let the first page paint
                return self.window
            if self.app.poll() is not None:
                raise RuntimeError("the program ended: " + self.app.stdout.read().decode(errors="replace"))
            time.sleep(0.2)
        raise RuntimeError("the main window did not appear")

    def xdotool(self, *args, check=True):
        result = subprocess.run(["xdotool", *args], env=self.env, capture_output=True, text=True)
        if check and result.returncode != 0:
            raise RuntimeError("xdotool " + " ".join(args) + ": " + result.stderr)
        return result.stdout

    def window_origin(self):
        out = self.xdotool("getwindowgeometry", "--shell", self.window)
        values = dict(line.split("=", 1) for line in out.split() if "=" in line)
        return int(values["X"]), int(values["Y"])

    def click(self, x, y):
        ox, oy = self.window_origin()
        self.xdotool("mousemove", str(ox + x), str(oy + y), "click", "1")

    def type_text(self, text):
        self.xdotool("type", "--delay", "30", text)

    def drag(self, start, end, steps=12):
        ox, oy = self.window_origin()
        self.xdotool("mousemove", str(ox + start[0]), str(oy + start[1]))
        time.sleep(0.2)
        self.xdotool("mousedown", "1")
        time.sleep(0.3)
        for i in range(1, steps + 1):
            x = start[0] + (end[0] - start[0]) * i // steps
            y = start[1] + (end[1] - start[1]) * i // steps
            self.xdotool("mousemove", str(ox + x), str(oy + y))
            time.sleep(0.05)
        time.sleep(0.3)
        self.xdotool("mouseup", "1")
        time.sleep(0.5)

    def screenshot(self, path):
        subprocess.run(["import", "-window", "root", path], env=self.env, check=False)

    def close(self):
        if self.app and self.app.poll() is None:
            self.app.terminate()
            try:
                self.app.wait(5)
            except subprocess.TimeoutExpired:
                self.app.kill()
        self.xvfb.terminate()
        self.xvfb.wait(5)
        shutil.rmtree(self.base, ignore_errors=True)
