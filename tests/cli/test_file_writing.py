# SPDX-License-Identifier: MIT
"""tuvello render -o by the file-writing rules the Python module's save()
follows too (tests/file_writing/cases.json). Environment: TUVELLO."""

import os
import pathlib
import subprocess
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "file_writing"))
import cases  # noqa: E402

TUVELLO = os.environ.get("TUVELLO", "tuvello")


def tool(text, *args):
    """The tool with the song text on standard input (a long one passes no
    argument list)."""
    return subprocess.run([TUVELLO, *args, "-f", "-"], input=text.encode(), capture_output=True,
                          timeout=60)


class RenderFollowsTheFileWritingRules(unittest.TestCase):
    def test_every_case(self):
        def write(text, path):
            done = tool(text, "render", "-o", path)
            self.assertIn(done.returncode, (0, 1), done.stderr)  # never a usage error
            return done.returncode == 0

        def image(text):
            return tool(text, "render", "-o", "-").stdout

        cases.run_cases(self, write, image)


if __name__ == "__main__":
    unittest.main()
