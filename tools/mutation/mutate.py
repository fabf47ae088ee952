#!/usr/bin/env python3
"""Mutation testing of the core: one small change at a time in check/, nzb/, servers/ and
settings/, the core library rebuilt as a shared library, and each test suite run against it.

  mutate.py list SOURCE_TREE COUNT SEED > mutants.json
  mutate.py run SOURCE_TREE mutants.json RESULT.json TEST_BUILD...

SOURCE_TREE is a copy of the repository configured in SOURCE_TREE/build with the core as a
shared library (see setup.sh); each TEST_BUILD is a build folder whose tests are run with that
library on LD_LIBRARY_PATH, so an older and a newer suite face the same mutants.
"""
import json
import os
import random
import re
import subprocess
import sys

FOLDERS = ("check", "nzb", "servers", "settings")
SWAPS = [(" == ", " != "), (" != ", " == "), (" < ", " <= "), (" <= ", " < "), (" > ", " >= "),
         (" >= ", " > "), (" && ", " || "), (" || ", " && "), ("true", "false"), ("false", "true"),
         (" + 1", " - 1"), (" - 1", " + 1"), ("(!", "(")]


def candidates(tree):
    for folder in FOLDERS:
        for name in sorted(os.listdir(os.path.join(tree, folder))):
            if not name.endswith(".cpp"):
                continue
            path = os.path.join(folder, name)
            with open(os.path.join(tree, path), encoding="utf-8") as source:
                for number, line in enumerate(source, 1):
                    code = line.strip()
                    if not code or code.startswith(("#", "//", "*", "/*")):
                        continue
                    for old, new in SWAPS:
                        pattern = r"\b" + old + r"\b" if old.isalpha() else re.escape(old)
                        for match in re.finditer(pattern, line):
                            yield {"file": path, "line": number, "column": match.start(), "old": old, "new": new}


def apply(tree, mutant, undo=False):
    path = os.path.join(tree, mutant["file"])
    with open(path, encoding="utf-8") as source:
        lines = source.readlines()
    line = lines[mutant["line"] - 1]
    old, new = (mutant["new"], mutant["old"]) if undo else (mutant["old"], mutant["new"])
    column = mutant["column"]
    assert line[column:column + len(old)] == old, (mutant, line)
    lines[mutant["line"] - 1] = line[:column] + new + line[column + len(old):]
    with open(path, "w", encoding="utf-8") as target:
        target.writelines(lines)


def suite_passes(build, library):
    environment = dict(os.environ, QT_QPA_PLATFORM="offscreen", LD_LIBRARY_PATH=library)
    run = subprocess.run(["ctest", "--test-dir", build, "-j2", "--timeout", "40", "--stop-on-failure"],
                         env=environment, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    return run.returncode == 0


def run(tree, mutants, result_path, builds):
    library = os.path.join(tree, "build")
    results = json.load(open(result_path)) if os.path.exists(result_path) else []
    done = {(r["file"], r["line"], r["column"], r["old"]) for r in results}
    for mutant in mutants:
        if (mutant["file"], mutant["line"], mutant["column"], mutant["old"]) in done:
            continue
        apply(tree, mutant)
        try:
            built = subprocess.run(["cmake", "--build", os.path.join(tree, "build"), "-j2", "--target", "orvalis_core"],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode == 0
            outcome = dict(mutant, built=built)
            if built:
                outcome["killed"] = [not suite_passes(build, library) for build in builds]
        finally:
            apply(tree, mutant, undo=True)
        results.append(outcome)
        print(json.dumps(outcome), flush=True)
        with open(result_path, "w") as out:
            json.dump(results, out, indent=1)
    subprocess.run(["cmake", "--build", os.path.join(tree, "build"), "-j2", "--target", "orvalis_core"],
                   stdout=subprocess.DEVNULL)


if __name__ == "__main__":
    if sys.argv[1] == "list":
        everything = list(candidates(sys.argv[2]))
        random.Random(int(sys.argv[4])).shuffle(everything)
        json.dump(everything[:int(sys.argv[3])], sys.stdout, indent=1)
    else:
        run(sys.argv[2], json.load(open(sys.argv[3])), sys.argv[4], sys.argv[5:])
