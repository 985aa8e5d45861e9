"""Builds the Debian package from a build tree, unpacks it into a scratch root
(dpkg -x) and checks what it installs: the files, the icon's sizes, the
dependencies, and the verdicts of desktop-file-validate, appstreamcli and
lintian. Prints the file list and the validators' output.

usage: check_package.py BUILD_DIR VERSION
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree

failures = []


def check(condition, what):
    print(("ok      " if condition else "FAILED  ") + what)
    if not condition:
        failures.append(what)


def run(*command, cwd=None):
    result = subprocess.run(command, cwd=cwd, capture_output=True, text=True)
    return result.returncode, (result.stdout + result.stderr).strip()


def png_size(path):
    with open(path, "rb") as f:
        header = f.read(24)
    if header[:8] != b"\x89PNG\r\n\x1a\n" or header[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", header[16:24])


def main():
    build, version = sys.argv[1], sys.argv[2]
    scratch = tempfile.mkdtemp(prefix="tevrak-package-")
    try:
        code, output = run("cpack", "--config", os.path.join(build, "CPackConfig.cmake"), "-B", scratch)
        deb = os.path.join(scratch, f"tevrak_{version}_amd64.deb")
        check(code == 0 and os.path.isfile(deb), f"cpack builds {os.path.basename(deb)}")
        if not os.path.isfile(deb):
            print(output)
            return 1

        code, listing = run("dpkg-deb", "-c", deb)
        print("\n--- files in the package\n" + listing + "\n")
        root = os.path.join(scratch, "root")
        code, output = run("dpkg", "-x", deb, root)
        check(code == 0, "dpkg -x unpacks it into a scratch root")

        usr = os.path.join(root, "usr")
        for name in ["bin/tevrak", "bin/tevrak-init"]:
            path = os.path.join(usr, name)
            check(os.path.isfile(path) and os.access(path, os.X_OK), f"/usr/{name} is an executable")
        for size in (48, 128, 256):
            path = os.path.join(usr, f"share/icons/hicolor/{size}x{size}/apps/tevrak.png")
            check(os.path.isfile(path) and png_size(path) == (size, size), f"the {size} px icon is a {size}x{size} PNG")
        svg = os.path.join(usr, "share/icons/hicolor/scalable/apps/tevrak.svg")
        check(os.path.isfile(svg) and ElementTree.parse(svg).getroot().tag.endswith("svg"), "the scalable icon is SVG")
        for name in ["share/doc/tevrak/copyright", "share/doc/tevrak/changelog.gz",
                     "share/man/man1/tevrak.1.gz", "share/man/man1/tevrak-init.1.gz"]:
            check(os.path.isfile(os.path.join(usr, name)), f"/usr/{name} is installed")
        qm = os.path.join(usr, "share/tevrak/translations/qt_th.qm")
        with open(qm, "rb") if os.path.isfile(qm) else open(os.devnull, "rb") as f:
            magic = f.read(16)
        check(magic == bytes.fromhex("3cb86418caef9c95cd211cbf60a1bddd"),
              "Qt's texts in Thai are installed as /usr/share/tevrak/translations/qt_th.qm")

        desktop = os.path.join(usr, "share/applications/tevrak.desktop")
        entry = dict(line.split("=", 1) for line in open(desktop, encoding="utf-8").read().splitlines() if "=" in line)
        for key in ["Name", "Name[th]", "Comment", "Comment[th]"]:
            check(bool(entry.get(key)), f"the desktop entry has {key}")
        check(entry.get("Categories") == "Office;Graphics;", "the desktop entry's Categories are Office;Graphics;")
        check(entry.get("Icon") == "tevrak" and entry.get("Exec") == "tevrak", "it starts tevrak with the icon tevrak")

        metainfo_folder = os.path.join(usr, "share/metainfo")
        metainfo_files = os.listdir(metainfo_folder) if os.path.isdir(metainfo_folder) else []
        check(len(metainfo_files) == 1, "one AppStream metainfo file")
        metainfo = os.path.join(metainfo_folder, metainfo_files[0]) if metainfo_files else None
        if metainfo:
            component = ElementTree.parse(metainfo).getroot()
            check(component.find("launchable").text == "tevrak.desktop", "the metainfo launches tevrak.desktop")
            check(component.find("screenshots/screenshot/image") is not None, "the metainfo has a screenshot")
            release = component.find("releases/release")
            check(release is not None and release.get("version") == version, f"the metainfo's release is {version}")

        code, depends = run("dpkg-deb", "-f", deb, "Depends")
        print("Depends: " + depends)
        for package in ["fonts-thai-tlwg", "libqt6widgets6", "libqt6printsupport6", "libsqlite3-0",
                        "libjpeg62-turbo", "libexif12", "libc6"]:
            check(package in depends, f"it depends on {package}")

        code, output = run(os.path.join(usr, "bin/tevrak"), "--version")
        check(code == 0 and output == f"tevrak {version}", "the installed tevrak --version says " + output)

        print("\n--- desktop-file-validate")
        code, output = run("desktop-file-validate", desktop)
        print(output or "(no output)")
        check(code == 0 and "error" not in output.lower(), "desktop-file-validate passes")
        if metainfo:
            print("\n--- appstreamcli validate --no-net")
            code, output = run("appstreamcli", "validate", "--no-net", metainfo)
            print(output)
            check(code == 0, "appstreamcli validate passes")
        print("\n--- lintian")
        code, output = run("lintian", "--allow-root", "--display-info", "--fail-on", "error", deb)
        print(output or "(no output)")
        check(code == 0 and not any(line.startswith("E:") for line in output.splitlines()), "lintian reports no errors")
    finally:
        if not os.environ.get("TEVRAK_KEEP_PACKAGE"):
            shutil.rmtree(scratch, ignore_errors=True)
        else:
            print("kept in " + scratch)
    print("\n" + ("all checks passed" if not failures else f"{len(failures)} checks failed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
