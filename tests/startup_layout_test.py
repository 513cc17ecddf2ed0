#!/usr/bin/env python3
"""Checks that OstrelaExtension is laid out for its cold start: that the
functions listed in its order file exist and lie together, which they do only
when lld linked it with that file. Fails, saying what to do, when the list has
gone stale or the build fell back to the default order.

Usage: startup_layout_test.py <OstrelaExtension> <startup-order.txt>"""
import subprocess
import sys

executable, order_file = sys.argv[1], sys.argv[2]
listed = [line.strip() for line in open(order_file)
          if line.strip() and not line.startswith("#")]
symbols = {}
listing = subprocess.run(["nm", "--defined-only", "-S", executable], check=True,
                         capture_output=True, text=True).stdout
for fields in (line.split() for line in listing.splitlines()):
    if len(fields) == 4:
        symbols.setdefault(fields[3], (int(fields[0], 16), int(fields[1], 16), fields[2]))

present = [name for name in listed if name in symbols]
share = len(present) / len(listed)
print(f"{len(present)} of {len(listed)} listed symbols are in the executable ({share:.0%})")
if share < 0.8:
    sys.exit("the order file is stale: run scripts/startup_order.py and commit its output")

code = [symbols[name] for name in present if symbols[name][2] in "tTwWi"]
start = min(address for address, _, _ in code)
end = max(address + size for address, size, _ in code)
size = sum(size for _, size, _ in code)
print(f"{len(code)} listed functions, {size} bytes, lie within {end - start} bytes")
if end - start > 2 * size:
    sys.exit("the listed functions are scattered: was OstrelaExtension linked by lld "
             "with its order file (OSTRELA_STARTUP_ORDER, lld installed)?")
