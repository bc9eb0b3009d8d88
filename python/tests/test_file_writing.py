# SPDX-License-Identifier: MIT
"""tuvello.save() by the file-writing rules the tool's render -o follows too
(tests/file_writing/cases.json)."""

import pathlib
import sys
import unittest

import tuvello

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "tests" / "file_writing"))
import cases  # noqa: E402


class SaveFollowsTheFileWritingRules(unittest.TestCase):
    def test_every_case(self):
        def write(text, path):
            try:
                tuvello.save(text, path)
            except (OSError, ValueError):
                return False
            return True

        cases.run_cases(self, write, tuvello.render)


if __name__ == "__main__":
    unittest.main()
