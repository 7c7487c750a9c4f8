"""Fails when a shipped program carries a test hook.

Usage: check_no_test_hooks.py NM PROGRAM

Test binaries watch and steer the platform (support/watched_platform.h);
photomap itself must carry none of that: no records of calls, no switch that
takes a module, an export or the launch away. NM is the nm of the program's
toolchain.
"""

import re
import subprocess
import sys

# Names of the test controls, as they stood in the stand-in once and stand in
# test code now, and the linker's wrapping of entry points.
HOOKS = re.compile(
    r"\b(Records|ResetRecords|PlatformRecords|SetLaunchEnabled|RemoveExport|RemoveModule|"
    r"UnloadModule|RestoreModules|__wrap_\w+|__real_\w+)\b")


def symbols(nm, program):
    result = subprocess.run([nm, "-C", program], capture_output=True, text=True, check=True)
    return result.stdout.splitlines()


def main():
    nm, program = sys.argv[1], sys.argv[2]
    lines = symbols(nm, program)
    # A stripped program would pass whatever it held: the check needs names.
    if not any(re.search(r"\bwWinMain\b", line) for line in lines):
        print(f"{program}: no symbol table to check (wWinMain not listed)")
        return 1
    hooks = [line for line in lines if HOOKS.search(line)]
    for line in hooks:
        print(f"{program}: test hook shipped: {line}")
    print(f"{program}: {len(lines)} symbols, {len(hooks)} test hooks")
    return 1 if hooks else 0


if __name__ == "__main__":
    sys.exit(main())
