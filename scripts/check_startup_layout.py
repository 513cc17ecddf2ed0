#!/usr/bin/env python3
"""Run after each link of OstrelaExtension: warns when the executable is not laid
out for its cold start, that is when the functions listed in its order file are
missing (the list has gone stale) or do not lie together (lld did not apply it).
A stale list costs start-up speed only, so this warns and never fails the build.

Usage: check_startup_layout.py <OstrelaExtension> <startup-order.txt>"""
import subprocess
import sys


def warn(text):
    print("warning: OstrelaExtension: " + text, file=sys.stderr)


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
if len(present) < 0.8 * len(listed):
    warn(f"only {len(present)} of the {len(listed)} symbols of {order_file} are in it: the list "
         "is stale, and cold starts are slower; run scripts/startup_order.py and commit its output")
    sys.exit(0)

code = [symbols[name] for name in present if symbols[name][2] in "tTwWi"]
start = min(address for address, _, _ in code)
end = max(address + size for address, size, _ in code)
if end - start > 2 * sum(size for _, size, _ in code):
    warn("the functions of its cold start are scattered: was it linked by lld with its order "
         "file (OSTRELA_STARTUP_ORDER, lld installed)?")
