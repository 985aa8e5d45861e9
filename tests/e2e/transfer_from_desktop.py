"""A clerk files a photo by a real drag and presses Transfer in the real
program; the stand-in FTP server must receive the photo, the file waiting for
the branch must come down into c:\\LOAD and be opened, and the program must end
the job with its message box ("Transfer Complete": the exchange's effects are
all there), which a key press closes."""

import datetime
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
from desktop import Desktop  # noqa: E402

SLOT_1 = (300, 112)
BEFORE_REPAIR_TARGET = (140, 78)
CLAIM_BOX = (140, 450)
TRANSFER_BUTTON = (47, 530)
BRANCH = "สาขาหาดใหญ่"
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def start_server(root):
    server = subprocess.Popen(["/usr/bin/python3", os.path.join(SOURCE, "scripts", "ftp-server"), root, "0", "--quiet"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    line = server.stdout.readline().strip()
    if not line.startswith("listening on 127.0.0.1:"):
        server.kill()
        raise RuntimeError("the FTP server did not start: " + line)
    return server, int(line.rsplit(":", 1)[1])


def wait_for(condition, seconds):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    return condition()


def main():
    program, init_program = sys.argv[1], sys.argv[2]
    desktop = Desktop(program)
    server = None
    try:
        desktop.init_workstation(init_program)
        desktop.register_garage("GarageE2E")
        server_root = os.path.join(desktop.base, "server")
        server, port = start_server(server_root)
        desktop.env["TEVRAK_FTP_HOST"] = "127.0.0.1"
        desktop.env["TEVRAK_FTP_PORT"] = str(port)

        # The desktop's "open" is recorded instead of starting an application.
        bin_folder = os.path.join(desktop.base, "bin")
        os.makedirs(bin_folder)
        opened_log = os.path.join(desktop.base, "opened.log")
        with open(os.path.join(bin_folder, "xdg-open"), "w") as f:
            f.write('#!/bin/sh\necho "$PWD|$*" >> "%s"\n' % opened_log)
        os.chmod(os.path.join(bin_folder, "xdg-open"), 0o755)
        desktop.env["PATH"] = bin_folder + os.pathsep + desktop.env.get("PATH", "")

        # The branch is registered (CP874, no line end) and the insurer left a file for it.
        load = os.path.join(desktop.root, "LOAD")
        os.makedirs(load, exist_ok=True)
        with open(os.path.join(load, "REGISTER.TXT"), "wb") as f:
            f.write(BRANCH.encode("cp874"))
        branch_folder = os.path.join(server_root.encode(), b"Claim", b"Download3", BRANCH.encode("cp874"))
        os.makedirs(branch_folder)
        # The insurer sets up the garage's folder; the server creates none of its own.
        os.makedirs(os.path.join(server_root, "Claim", "GarageE2E"))
        with open(os.path.join(branch_folder, b"notice.txt"), "wb") as f:
            f.write(b"a notice for the branch")

        inbox = os.path.join(desktop.root, "picture")
        photo = os.path.join(inbox, "IMG_7.jpg")
        subprocess.run(["convert", "-size", "400x300", "gradient:red-blue", "-quality", "85", photo], check=True)
        with open(photo, "rb") as f:
            original = f.read()

        desktop.start()
        desktop.click(*CLAIM_BOX)
        desktop.type_text("12345678")
        desktop.drag(SLOT_1, BEFORE_REPAIR_TARGET)
        outbox_file = os.path.join(inbox, "transfer", "12345678001.jpg")
        if not wait_for(lambda: os.path.exists(outbox_file), 5):
            print("FAILED: the photo was not filed into the outbox")
            return 1

        desktop.click(*TRANSFER_BUTTON)
        # The job ends with a message box captioned with the application title.
        boxes = []

        def message_box():
            boxes[:] = desktop.xdotool("search", "--onlyvisible", "--name", "^Tevrak", check=False).split()
            return bool(boxes)

        box_shown = wait_for(message_box, 30)
        if len(sys.argv) > 3:
            desktop.screenshot(sys.argv[3])

        problems = []
        on_server = os.path.join(server_root, "Claim", "GarageE2E", "12345678001.jpg")
        day = datetime.date.today().strftime("%d-%m-%y")
        downloaded = os.path.join(load, day, "notice.txt")
        if not box_shown:
            problems.append("no message box at the end of the transfer")
        if not os.path.exists(on_server):
            problems.append("the photo is not on the server")
        elif open(on_server, "rb").read() != original:
            problems.append("the photo on the server differs from the one filed")
        if os.path.exists(outbox_file):
            problems.append("the photo is still in the outbox")
        if not os.path.exists(downloaded) or open(downloaded, "rb").read() != b"a notice for the branch":
            problems.append("the branch's file did not arrive in c:\\LOAD\\" + day)
        if not os.path.exists(os.path.join(load, "ALL", "notice.txt")):
            problems.append("the branch's file is not in c:\\LOAD\\ALL")
        if os.listdir(branch_folder):
            problems.append("the branch's file is still on the server")
        if not wait_for(lambda: os.path.exists(opened_log), 5) or "notice.txt" not in open(opened_log).read():
            problems.append("the download was not opened")

        if box_shown:
            desktop.xdotool("windowactivate", "--sync", boxes[0], check=False)
            desktop.xdotool("key", "--window", boxes[0], "Return", check=False)
            if not wait_for(lambda: not message_box(), 5):
                problems.append("the message box did not close on Return")
        if desktop.app.poll() is not None:
            problems.append("the program ended")
        if problems:
            print("FAILED: " + "; ".join(problems))
            return 1
        print("transferred: Claim/GarageE2E/12345678001.jpg on the server, LOAD/%s/notice.txt opened; "
              "message box closed" % day)
        for title, top in (("server", server_root), ("drive C: LOAD", load),
                           ("drive C: outbox", os.path.join(inbox, "transfer"))):
            print(title + ":")
            for folder, _, names in sorted(os.walk(top)):
                for name in sorted(names):
                    path = os.path.join(folder, name)
                    shown = os.fsencode(os.path.relpath(path, top)).decode("cp874", "replace")
                    print("  %-48s %8d bytes" % (shown, os.path.getsize(path)))
        print("opened: " + open(opened_log).read().strip())
        return 0
    finally:
        desktop.close()
        if server:
            server.terminate()
            server.wait(5)


if __name__ == "__main__":
    sys.exit(main())
