# SPDX-License-Identifier: MIT
"""Builds the tuvello module with the library's version, read from its header.

Everything else is in pyproject.toml. The module loads the installed
libtuvello.so.1 at run time; nothing is compiled here.
"""

import os
import re

from setuptools import setup
from setuptools.command.build_py import build_py

HERE = os.path.dirname(os.path.abspath(__file__))
HEADER = os.path.join(HERE, os.pardir, "include", "tuvello.h")


def read_header():
    try:
        with open(HEADER, encoding="utf-8") as file:
            return file.read()
    except OSError as error:
        raise SystemExit(f"tuvello: cannot read the library's header for its version: {error}")


def header_number(text, name):
    match = re.search(rf"^#define TUVELLO_{name} +(\d+)\b", text, re.MULTILINE)
    if not match:
        raise SystemExit(f"tuvello: no TUVELLO_{name} in {HEADER}")
    return match.group(1)


def library_version():
    text = read_header()
    parts = []
    for part in ("MAJOR", "MINOR", "PATCH"):
        match = re.search(rf"^#define TUVELLO_VERSION_{part} +(\d+)", text, re.MULTILINE)
        if not match:
            raise SystemExit(f"tuvello: no TUVELLO_VERSION_{part} in {HEADER}")
        parts.append(match.group(1))
    return ".".join(parts)


VERSION = library_version()
# The song image's format, as the header defines it.
FORMAT = {name: header_number(read_header(), name) for name in ("SAMPLE_RATE", "BYTE_RATE", "HEADER_BYTES")}


class BuildWithVersion(build_py):
    """Adds tuvello/_version.py and tuvello/_format.py, so the installed
    module knows its version and the song image's format."""

    def run(self):
        super().run()
        target = os.path.join(self.build_lib, "tuvello", "_version.py")
        self.mkpath(os.path.dirname(target))
        with open(target, "w", encoding="utf-8") as file:
            file.write(f'__version__ = "{VERSION}"\n')
        with open(os.path.join(os.path.dirname(target), "_format.py"), "w", encoding="utf-8") as file:
            file.write("".join(f"{name} = {value}\n" for name, value in FORMAT.items()))


setup(version=VERSION, cmdclass={"build_py": BuildWithVersion})
