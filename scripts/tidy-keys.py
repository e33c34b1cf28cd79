#!/usr/bin/env python3
"""Prints "KEY FILE" for each source file named on the command line (paths relative to the
project): the key is a hash of what clang-tidy's verdict on the file depends on, as far as our
own files go - the clang-tidy version, every .clang-tidy of the project, the file itself and
every header of ours it includes, directly or through other headers. The same key means the
same verdict, whatever the folder the project is in. Compile flags are not in the key: a
change of them is rare, and a full run (scripts/tidy.sh --fresh) checks again.
"""
import hashlib
import os
import re
import subprocess
import sys

INCLUDE = re.compile(rb'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)
# Where an include "x/Name.h" is looked for, after the including file's own folder.
INCLUDE_ROOTS = ['.', 'tests']


def read(path, cache={}):
    if path not in cache:
        with open(path, 'rb') as file:
            cache[path] = file.read()
    return cache[path]


def resolve(including, name):
    for folder in [os.path.dirname(including)] + INCLUDE_ROOTS:
        path = os.path.normpath(os.path.join(folder, name))
        if os.path.isfile(path):
            return path
    return None  # a generated or system header: not ours to hash


def headers_of(path, cache={}):
    """Our headers that path includes, directly or not."""
    if path in cache:
        return cache[path]
    cache[path] = set()  # an include cycle ends here
    found = set()
    for name in INCLUDE.findall(read(path)):
        header = resolve(path, name.decode())
        if header and header not in found:
            found.add(header)
            found |= headers_of(header)
    cache[path] = found
    return found


def main():
    os.chdir(os.path.join(os.path.dirname(os.path.abspath(__file__)), '..'))
    common = hashlib.sha256()
    # The version line only: the lines after it name the machine's processor.
    version = subprocess.run(['clang-tidy', '--version'], capture_output=True, check=True,
                             text=True).stdout
    common.update(next(line for line in version.splitlines() if 'version' in line).encode())
    configs = subprocess.run(['git', 'ls-files', '.clang-tidy', '*/.clang-tidy'],
                             capture_output=True, check=True, text=True).stdout.split()
    for config in sorted(configs):
        common.update(config.encode() + b'\0' + read(config))
    for path in sys.argv[1:]:
        key = common.copy()
        for part in [path] + sorted(headers_of(path)):
            key.update(part.encode() + b'\0' + hashlib.sha256(read(part)).digest())
        print(key.hexdigest(), path)


if __name__ == '__main__':
    main()
