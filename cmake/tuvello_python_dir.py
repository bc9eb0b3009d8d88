# SPDX-License-Identifier: MIT
"""Prints where, relative to PREFIX, to install a pure Python package so that
this Python imports it: the first of its search directories that lies under
PREFIX (its site-packages directories, then its user site directory, as for
a prefix of ~/.local), Debian's lib/python3/dist-packages first where it is
one of them or PREFIX is /usr on Debian. When this Python searches nothing
under PREFIX, prints the prefix scheme's directory and says on stderr that
PYTHONPATH must name it.

usage: python3 tuvello_python_dir.py PREFIX
"""

import os
import site
import sys
import sysconfig

DEBIAN = os.path.join("lib", "python3", "dist-packages")


def searched():
    """This Python's directories for packages, in the order it searches them."""
    paths = list(site.getsitepackages()) if hasattr(site, "getsitepackages") else []
    return paths + [site.getusersitepackages()]


def main(prefix):
    real = os.path.realpath(prefix)
    under = [os.path.relpath(path, real) for path in map(os.path.realpath, searched())
             if path.startswith(real.rstrip(os.sep) + os.sep)]
    # Debian's python3 searches /usr/lib/python3/dist-packages whatever its
    # version, and its packages go there: so do this one's, from any Python.
    if DEBIAN in under or (real == "/usr" and os.path.isdir("/usr/lib/python3/dist-packages")):
        return DEBIAN
    if under:
        return under[0]
    scheme = os.path.relpath(sysconfig.get_path("purelib", "posix_prefix", vars={"base": real, "platbase": real}),
                             real)
    print(f"{sys.executable} searches no directory under {prefix}: "
          f"the module needs PYTHONPATH={os.path.join(prefix, scheme)}", file=sys.stderr)
    return scheme


if __name__ == "__main__":
    print(main(sys.argv[1]))
