"""Runs a test program on a private X server (Xvfb) and ends with its exit code.

usage: in_xvfb.py PROGRAM [ARGUMENTS...]

The program gets DISPLAY and TEVRAK_TEST_DISPLAY=1 (the Qt test main then uses
the real display instead of the offscreen one).
"""

import os
import subprocess
import sys

from desktop import start_xvfb


def main():
    xvfb, display = start_xvfb()
    try:
        env = dict(os.environ)
        env.pop("QT_QPA_PLATFORM", None)
        env.update({"DISPLAY": f":{display}", "TEVRAK_TEST_DISPLAY": "1"})
        return subprocess.run(sys.argv[1:], env=env).returncode
    finally:
        xvfb.kill()
        xvfb.wait()


if __name__ == "__main__":
    sys.exit(main())
