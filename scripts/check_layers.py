#!/usr/bin/env python3
"""Fails when an include climbs the layers: each folder may include only itself and the folders
below it. The order, written once:

    platform  <  rules  <  transfer  <  update  <  install
    platform  <  framework  <  ui
    app on top of both; the release tool on rules and platform.

    check_layers.py [ROOT]       checks the tree (default: this script's repository)
    check_layers.py --self-test  shows that a climbing include is caught
"""
import os
import re
import sys
import tempfile

# What each folder may include besides itself. "platform" headers used by rules and the release
# tool are portable ones (the tool's native build fails on anything Windows-only).
ALLOWED = {
    "platform": set(),
    "rules": {"platform"},
    "transfer": {"rules", "platform"},
    "update": {"transfer", "rules", "platform"},
    "install": {"update", "transfer", "rules", "platform"},
    "framework": {"platform", "res"},
    "ui": {"framework", "platform", "res"},
    "app": {"install", "update", "transfer", "rules", "ui", "framework", "platform", "res"},
    "tools": {"rules", "platform"},
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([A-Za-z0-9_]+)/')


def climbing_includes(root):
    problems = []
    for folder, allowed in ALLOWED.items():
        base = os.path.join(root, folder)
        for directory, _, files in os.walk(base):
            if folder == "tools" and os.path.basename(directory) == "tests":
                continue  # the tool's tests may reach anything they test
            for name in sorted(files):
                if not name.endswith((".h", ".cpp", ".c")):
                    continue
                path = os.path.join(directory, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    for number, line in enumerate(f, 1):
                        m = INCLUDE.match(line)
                        if not m:
                            continue
                        target = m.group(1)
                        if target != folder and target in ALLOWED.keys() | {"res"} and target not in allowed:
                            problems.append(f"{os.path.relpath(path, root)}:{number}: {folder}/ includes "
                                            f"{target}/, which is not below it")
    return problems


def self_test():
    with tempfile.TemporaryDirectory() as root:
        os.makedirs(os.path.join(root, "platform"))
        os.makedirs(os.path.join(root, "transfer"))
        with open(os.path.join(root, "transfer", "Good.h"), "w") as f:
            f.write('#include "platform/Process.h"\n')
        if climbing_includes(root):
            print("check_layers self-test: a downward include was refused", file=sys.stderr)
            return 1
        with open(os.path.join(root, "platform", "Bad.h"), "w") as f:
            f.write('// a helper\n#include "update/UpdateTask.h"\n')
        found = climbing_includes(root)
        expected = "platform/Bad.h:2: platform/ includes update/, which is not below it"
        if found != [expected]:
            print(f"check_layers self-test: expected {expected!r}, got {found!r}", file=sys.stderr)
            return 1
    print("check_layers self-test: a climbing include is caught")
    return 0


def main(argv):
    if len(argv) > 1 and argv[1] == "--self-test":
        return self_test()
    root = argv[1] if len(argv) > 1 else os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    problems = climbing_includes(root)
    for problem in problems:
        print(f"error: {problem}", file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
