"""A clerk types a claim number and drags the first thumbnail onto the
before-repair target of the real program; the photo must arrive in the claim
folder and the outbox as 12345678001.jpg and leave the inbox."""

import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
from desktop import Desktop  # noqa: E402

# Positions inside the main window (its client area; see the layout of tab 1).
SLOT_1 = (300, 112)
BEFORE_REPAIR_TARGET = (140, 78)
CLAIM_BOX = (140, 450)


def main():
    program, init_program = sys.argv[1], sys.argv[2]
    desktop = Desktop(program)
    try:
        desktop.init_workstation(init_program)
        desktop.register_garage("GarageE2E")
        inbox = os.path.join(desktop.root, "picture")
        subprocess.run(["convert", "-size", "400x300", "gradient:red-blue", "-quality", "85",
                        os.path.join(inbox, "IMG_7.jpg")], check=True)
        with open(os.path.join(inbox, "IMG_7.jpg"), "rb") as f:
            original = f.read()
        desktop.start()
        desktop.click(*CLAIM_BOX)
        desktop.type_text("12345678")
        desktop.drag(SLOT_1, BEFORE_REPAIR_TARGET)
        filed = os.path.join(inbox, "12345678", "12345678001.jpg")
        outbox = os.path.join(inbox, "transfer", "12345678001.jpg")
        deadline = time.time() + 5
        while not (os.path.exists(filed) and os.path.exists(outbox)) and time.time() < deadline:
            time.sleep(0.1)
        if len(sys.argv) > 3:
            desktop.screenshot(sys.argv[3])
        problems = []
        if not os.path.exists(filed):
            problems.append("no 12345678001.jpg in the claim folder")
        elif open(filed, "rb").read() != original:
            problems.append("the claim folder's copy differs from the photo")
        if not os.path.exists(outbox):
            problems.append("no 12345678001.jpg in the outbox")
        if os.path.exists(os.path.join(inbox, "IMG_7.jpg")):
            problems.append("IMG_7.jpg is still in the inbox")
        if problems:
            print("FAILED: " + "; ".join(problems))
            return 1
        print("filed by a real drag: picture/12345678/12345678001.jpg and picture/transfer/12345678001.jpg")
        return 0
    finally:
        desktop.close()


if __name__ == "__main__":
    sys.exit(main())
