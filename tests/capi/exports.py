# exports.py -- the shared libraries' export tables against their public headers:
# each library must export exactly the calls and data its header declares.
#   usage: exports.py <header> <shared library> [<header> <shared library> ...]
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cheader  # noqa: E402


def exported(library):
    """The names of the defined symbols in the library's dynamic symbol table."""
    out = subprocess.run(["nm", "-D", "--defined-only", "--format=posix", library],
                         check=True, capture_output=True, text=True).stdout
    return {line.split()[0] for line in out.splitlines() if line.strip()}


def main(args):
    failed = False
    for header, library in zip(args[::2], args[1::2]):
        with open(header) as f:
            calls, data = cheader.declared(f.read())
        names, table = calls | data, exported(library)
        name = os.path.basename(library)
        for missing in sorted(names - table):
            print(f"{name}: {missing}, declared in {header}, is not exported")
        for extra in sorted(table - names):
            print(f"{name}: exports {extra}, which {header} does not declare")
        failed |= names != table
        print(f"{name}: {len(table)} names exported, {len(names)} declared")
    return 1 if failed or len(args) < 2 or len(args) % 2 else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
