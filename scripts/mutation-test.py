#!/usr/bin/python3
"""Plants each fault of tests/mutants.txt in a clean copy of the tree, one at a
time, rebuilds and runs the test suite, and reports which faults the suite
killed (some test failed) and which survived (every test passed).

Faults marked `asan` are out-of-bounds accesses that only the sanitizer build
can see; they are run under the asan preset. Faults marked `package` are in
the installed package: scripts/package-check.sh (root, and
scripts/install-deps.sh --with-packaging) must fail for them. Faults marked
`web` are in the web page or its platform layers: the web preset is rebuilt
and the browser test (tests/web) run against it. A fault whose edit no longer
applies (its text is gone or not unique) or that does not compile is reported
as invalid: the list has to be mended.

Usage: scripts/mutation-test.py [--only ID ...] [--sample N [--seed S]] [--list]
Exit status: 0 when every mutant run was killed, 1 otherwise.
"""
import argparse
import os
import random
import re
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
LIST = os.path.join(ROOT, "tests", "mutants.txt")
WORK = os.path.join(ROOT, "build", "mutation")
TREE = os.path.join(WORK, "tree")
TEST_TIMEOUT_S = 300  # a mutant that hangs a test is killed by this


class Mutant:
    def __init__(self, ident, runner, path, old, new):
        self.ident, self.runner, self.path, self.old, self.new = ident, runner, path, old, new


def parse_list(path):
    """Entries of: `[id] suite|asan|package|web`, a file path, `- old text`, `+ new text`.
    A line that starts with neither continues the text before it, verbatim."""
    mutants, block = [], []
    with open(path, encoding="utf-8") as f:
        lines = [line.rstrip("\n") for line in f] + [""]
    for line in lines:
        if line.startswith("#"):
            continue
        if line.strip():
            block.append(line)
            continue
        if not block:
            continue
        header = re.fullmatch(r"\[([\w.-]+)\]\s+(suite|asan|package|web)", block[0])
        parts = {"-": [], "+": []}
        side = None
        for text in block[2:]:
            if text[:2] in ("- ", "+ "):
                side = text[0]
                parts[side].append(text[2:])
            elif side is not None:
                parts[side].append(text)
            else:
                side = "?"
        if not header or len(block) < 4 or side == "?" or not parts["-"] or not parts["+"] \
                or block[2][:2] != "- ":
            sys.exit(f"mutation-test: malformed entry in {path}: {block[0]!r}")
        mutants.append(Mutant(header[1], header[2], block[1], "\n".join(parts["-"]),
                              "\n".join(parts["+"])))
        block = []
    ids = [m.ident for m in mutants]
    if len(ids) != len(set(ids)):
        sys.exit("mutation-test: duplicate mutant ids in " + path)
    return mutants


def copy_tree():
    """The tracked and untracked-but-not-ignored files of the working tree."""
    files = subprocess.run(["git", "ls-files", "-co", "--exclude-standard", "-z"], cwd=ROOT,
                           check=True, capture_output=True).stdout.decode().split("\0")
    for name in filter(None, files):
        source = os.path.join(ROOT, name)
        if not os.path.isfile(source):
            continue
        target = os.path.join(TREE, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        if not os.path.exists(target) or open(source, "rb").read() != open(target, "rb").read():
            # A fresh modification time: a copy that mends a file an interrupted
            # run left mutated must be newer than what was built from it.
            shutil.copy(source, target)


def run(command, log, timeout=None):
    with open(log, "w") as out:
        try:
            return subprocess.run(command, cwd=TREE, stdout=out, stderr=subprocess.STDOUT,
                                  timeout=timeout).returncode
        except subprocess.TimeoutExpired:
            return -1


def build_preset(preset, log):
    if not os.path.exists(os.path.join(TREE, "build", preset, "build.ninja")):
        if run(["cmake", "--preset", preset], log) != 0:
            return False
    return run(["cmake", "--build", "--preset", preset], log) == 0


def package_check_passes(log):
    """The package built from the tree, installed, run and removed cleanly."""
    return run(["scripts/package-check.sh"], log, timeout=TEST_TIMEOUT_S * 4) == 0


def suite_passes(preset, log):
    env_command = ["ctest", "--preset", preset, "--stop-on-failure", "--timeout",
                   str(TEST_TIMEOUT_S)]
    return run(env_command, log, timeout=TEST_TIMEOUT_S * 4) == 0


# How each kind of mutant is built and tested: the preset it is built in (the
# web's browser test also needs the release build's capture tool;
# package-check.sh builds the release preset and the package itself) and
# whether the tests pass on it.
def build_runner(runner, log):
    if runner == "package":
        return True
    if runner == "web":
        return build_preset("release", log) and build_preset("web", log + ".web")
    return build_preset("asan" if runner == "asan" else "release", log)


def tests_pass(runner, log):
    if runner == "package":
        return package_check_passes(log)
    if runner == "web":
        # A browser test that skips (no Chromium) must not count as passing.
        os.environ["VORNISK_NO_SKIP"] = "1"
        command = ["ctest", "--preset", "release", "-R", "^web_browser_test$", "--timeout",
                   str(TEST_TIMEOUT_S * 2)]
        return run(command, log, timeout=TEST_TIMEOUT_S * 3) == 0
    return suite_passes("asan" if runner == "asan" else "release", log)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--only", nargs="+", metavar="ID", help="run just these mutants")
    parser.add_argument("--sample", type=int, metavar="N", help="run N mutants chosen at random")
    parser.add_argument("--seed", type=int, help="seed of --sample (default: the day's number)")
    parser.add_argument("--list", action="store_true", help="list the mutants and exit")
    args = parser.parse_args()

    mutants = parse_list(LIST)
    if args.list:
        for m in mutants:
            print(f"{m.ident:40} {m.runner:5} {m.path}")
        return 0
    if args.only:
        unknown = set(args.only) - {m.ident for m in mutants}
        if unknown:
            sys.exit("mutation-test: unknown mutants: " + " ".join(sorted(unknown)))
        mutants = [m for m in mutants if m.ident in args.only]
    if args.sample:
        seed = args.seed if args.seed is not None else int(time.time() // 86400)
        print(f"mutation-test: sample of {args.sample} with --seed {seed}", flush=True)
        mutants = random.Random(seed).sample(mutants, min(args.sample, len(mutants)))

    started = time.monotonic()
    os.makedirs(TREE, exist_ok=True)
    copy_tree()
    logs = os.path.join(WORK, "logs")
    os.makedirs(logs, exist_ok=True)

    results = {"killed": [], "survived": [], "invalid": []}
    for runner in ("suite", "asan", "package", "web"):
        batch = [m for m in mutants if m.runner == runner]
        if not batch:
            continue
        if runner == "package" and os.geteuid() != 0:
            sys.exit("mutation-test: package mutants need root (scripts/package-check.sh)")
        base_log = os.path.join(logs, f"baseline-{runner}.log")
        if not build_runner(runner, base_log) or not tests_pass(runner, base_log):
            sys.exit(f"mutation-test: the unmutated tree fails under {runner}: see {base_log}")
        for number, m in enumerate(batch, 1):
            path = os.path.join(TREE, m.path)
            original = open(path, encoding="utf-8").read() if os.path.isfile(path) else ""
            log = os.path.join(logs, m.ident + ".log")
            if original.count(m.old) != 1:
                verdict = "invalid"
                detail = f"its text occurs {original.count(m.old)} times in {m.path}"
            else:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(original.replace(m.old, m.new))
                try:
                    if not build_runner(runner, log):
                        verdict, detail = "invalid", "does not build"
                    elif tests_pass(runner, log):
                        verdict, detail = "survived", "every test passed"
                    else:
                        verdict, detail = "killed", ""
                finally:
                    with open(path, "w", encoding="utf-8") as f:
                        f.write(original)
            results[verdict].append(m.ident)
            note = f" ({detail}; log {log})" if detail else ""
            print(f"[{number}/{len(batch)} {runner}] {m.ident}: {verdict}{note}", flush=True)

    elapsed = time.monotonic() - started
    total = sum(len(v) for v in results.values())
    print(f"mutants: {len(results['killed'])} killed, {len(results['survived'])} survived, "
          f"{len(results['invalid'])} invalid of {total} in {elapsed:.0f} s")
    for verdict in ("survived", "invalid"):
        if results[verdict]:
            print(f"{verdict}: {' '.join(results[verdict])}")
    return 0 if len(results["killed"]) == total else 1


if __name__ == "__main__":
    sys.exit(main())
