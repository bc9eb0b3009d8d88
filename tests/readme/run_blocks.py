#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Runs every `sh` block of the README, in order and as written, in a fresh
copy of the source tree with a scratch HOME, as a new user following the
README would. A block may be marked by an HTML comment on the line before its
fence:

    <!-- readme: ci -->            .ci/run runs this block itself, verbatim
    <!-- readme: skip REASON -->   not run here, for the reason given (such as
                                   a test that runs it word for word as root)

Usage: run_blocks.py README SOURCE_TREE WORK_DIR
Exit 0 when every block ran; 77 (skipped) unless TUVELLO_TEST_README=1, as
CI sets it (the blocks build the project several times over), or when the
source is not a git checkout.
"""
import os
import re
import shutil
import subprocess
import sys

MARK = re.compile(r"<!--\s*readme:\s*(ci|skip)\b\s*(.*?)\s*-->")


def blocks(readme):
    """(line number, mark, reason, text) of each ```sh block."""
    lines = open(readme, encoding="utf-8").read().split("\n")
    found, i = [], 0
    while i < len(lines):
        if lines[i].strip() == "```sh":
            start = i + 1
            j = start
            while lines[j].strip() != "```":
                j += 1
            k = i - 1
            while k >= 0 and not lines[k].strip():
                k -= 1
            m = MARK.search(lines[k]) if k >= 0 else None
            found.append((start, m.group(1) if m else "run", m.group(2) if m else "",
                          "\n".join(lines[start:j])))
            i = j
        i += 1
    return found


def fresh_copy(source, tree):
    """The tracked files as they are in the working tree, nothing else."""
    listed = subprocess.run(["git", "-C", source, "ls-files", "-z"], capture_output=True)
    if listed.returncode != 0:
        return False
    for name in filter(None, listed.stdout.decode().split("\0")):
        src, dst = os.path.join(source, name), os.path.join(tree, name)
        if os.path.lexists(src):
            os.makedirs(os.path.dirname(dst), exist_ok=True)
            shutil.copy2(src, dst, follow_symlinks=False)
    subprocess.run(["git", "init", "-q", tree], check=True)
    subprocess.run(["git", "-C", tree, "add", "-A"], check=True)
    subprocess.run(["git", "-C", tree, "-c", "user.name=readme", "-c", "user.email=readme@localhost",
                    "commit", "-qm", "README runner"], check=True)
    return True


def main():
    readme, source, work = sys.argv[1:4]
    if os.environ.get("TUVELLO_TEST_README") != "1":
        print("TUVELLO_TEST_README=1 runs the README's blocks")
        return 77
    shutil.rmtree(work, ignore_errors=True)
    tree, home = os.path.join(work, "tree"), os.path.join(work, "home")
    os.makedirs(home)
    if not fresh_copy(source, tree):
        print("not a git checkout: nothing to run")
        return 77
    # What a login shell gives: ~/.local/bin on PATH once it exists.
    env = dict(os.environ, HOME=home, PATH=os.path.join(home, ".local/bin") + ":" + os.environ["PATH"])
    # The sound device is ALSA's file plugin writing nowhere, so that blocks
    # that play run without a sound card.
    with open(os.path.join(home, ".asoundrc"), "w") as f:
        f.write('pcm.!default { type file slave.pcm "null" file "/dev/null" format "raw" }\n')

    script = ["set -euo pipefail"]
    ran, skipped = 0, []
    for line, mark, reason, text in blocks(readme):
        if mark == "ci":
            skipped.append(f"README:{line}: .ci/run runs it")
            continue
        if mark == "skip":
            skipped.append(f"README:{line}: {reason}")
            continue
        ran += 1
        script.append(f"echo '== README:{line}' >&2")
        script.append(f"readme_line={line}")
        script.append(text)
        script.append('cd "$readme_tree"')
    script.insert(1, 'readme_tree="$PWD"; readme_line=0')
    script.insert(2, "trap 'echo \"FAILED in the block at README:$readme_line\" >&2' ERR")
    done = subprocess.run(["bash", "-c", "\n".join(script)], cwd=tree, env=env)
    for s in skipped:
        print("skipped", s)
    print(f"{ran} blocks run, {len(skipped)} skipped")
    if done.returncode == 0:
        untracked = subprocess.run(["git", "-C", tree, "status", "--porcelain", "--untracked-files=all"],
                                   capture_output=True, text=True).stdout.split("\n")
        left = [u for u in untracked if u]
        if left:
            print("the README's commands left files that git shows:\n" + "\n".join(left))
            return 1
    return done.returncode


if __name__ == "__main__":
    sys.exit(main())
