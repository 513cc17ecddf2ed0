#!/usr/bin/env python3
"""Writes scripts/startup-order.txt: the functions and data that
a cold start of OstrelaExtension touches, for the linker to place side by side.

A browser starts one OstrelaExtension per message, and much of what such a
process pays is touching pages of its own for the first time: on a virtual
machine a page fault costs about as much as ten system calls. Left to itself
the linker scatters the few hundred functions and variables of a cold start
over most of the executable; listed in this file, lld puts them first in their
sections, in a few dozen pages. The list comes from running both kinds of cold
start (getManagedConfig, and a relayed getToken against the sample agent) under
Valgrind's lackey, which reports every instruction and every load and store,
mapped to the symbols that hold them; plus what such a run cannot show:

- glibc's IFUNC resolvers, which a static executable runs before main;
- every CPU's variant of the string functions seen (memcpy, strlen, ...):
  glibc picks one at start by the CPU's features, and Valgrind's virtual CPU is
  not the machine's. The variants are grouped by instruction set, so that the
  ones a machine picks lie together.

Run it after changing what a cold start does, and commit the file. A stale list
costs speed only: names it lacks are placed as the linker likes, names that no
longer exist are ignored.

Usage: scripts/startup_order.py [path/to/OstrelaExtension]
Needs valgrind and nm; port 47653 must be free.
"""
import os
import bisect
import re
import shutil
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from sample_agent import app_group_file  # noqa: E402

ROOT = Path(__file__).resolve().parent.parent
OUTPUT = ROOT / "scripts/startup-order.txt"
MESSAGES = {
    "config": '{"type":"getManagedConfig","id":1}',
    "relay": '{"type":"getToken","host":"com.ostrela.ldap_host","id":"t1"}',
}
# glibc's multiarch string functions: __<name>_<instruction set>[_<more>].
VARIANT = re.compile(r"^(__[a-z0-9]+?)_(sse2|ssse3|sse4_1|sse4_2|sse42|avx2|avx512|avx|evex)(_.*)?$")
ISA_ORDER = ["evex", "avx512", "avx2", "avx", "sse4_2", "sse42", "sse4_1", "ssse3", "sse2"]


def frame(message):
    data = message.encode()
    return struct.pack("=I", len(data)) + data


def symbols(extension):
    """(name, type) of every symbol, and (address, size, name) of those with an address."""
    listing = subprocess.run(["nm", "--defined-only", "-nS", str(extension)], check=True,
                             capture_output=True, text=True).stdout
    named, table = [], []
    for fields in (line.split() for line in listing.splitlines()):
        if len(fields) == 4:
            named.append((fields[3], fields[2]))
            table.append((int(fields[0], 16), int(fields[1], 16), fields[3]))
        elif len(fields) == 3:
            named.append((fields[2], fields[1]))
    return named, sorted(table)


def symbols_touched(extension, table, work, name, message):
    """Names of the symbols whose bytes one cold start executes, reads or writes."""
    log = work / f"{name}.lackey"
    env = {"XDG_CONFIG_HOME": str(work / "config"), "HOME": str(work)}
    host = subprocess.Popen(
        ["valgrind", "--tool=lackey", "--trace-mem=yes", f"--log-file={log}", str(extension)],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env)
    host.stdin.write(frame(message))
    host.stdin.flush()
    header = host.stdout.read(4)  # the input stays open until the reply is out, as a browser's
    if len(header) != 4:
        sys.exit(f"no reply to {message}")
    reply = host.stdout.read(struct.unpack("=I", header)[0]).decode()
    host.stdin.close()
    host.wait()
    if '"ok":true' not in reply:
        sys.exit(f"{message} was answered {reply}")
    starts = [start for start, _, _ in table]
    touched = set()
    # A position-independent executable runs where it was loaded: its first
    # instruction is its entry point, which tells how far it was moved.
    entry = int(re.search(r"Entry point address:\s+0x([0-9a-f]+)", subprocess.run(
        ["readelf", "-h", str(extension)], check=True, capture_output=True,
        text=True).stdout).group(1), 16)
    base = None
    # "I  addr,size" for an instruction, " L", " S", " M" for a load, store or both.
    for line in log.read_text().splitlines():
        match = re.match(r"^ ?([ILSM]) +([0-9a-f]+),", line)
        if not match:
            continue
        if base is None:
            if match.group(1) != "I":
                continue
            base = int(match.group(2), 16) - entry
        address = int(match.group(2), 16) - base
        i = bisect.bisect_right(starts, address) - 1
        if i >= 0 and address < table[i][0] + max(table[i][1], 1):
            touched.add(table[i][2])
    return touched


def main():
    extension = Path(sys.argv[1] if len(sys.argv) > 1 else
                     ROOT / "build/default/apps/ostrela_extension/OstrelaExtension")
    if not shutil.which("valgrind"):
        sys.exit("valgrind is needed: apt-get install valgrind")
    if not os.access(extension, os.X_OK):
        sys.exit(f"no executable at {extension}: build it first")

    with tempfile.TemporaryDirectory() as folder:
        work = Path(folder)
        # A user's store as the host leaves it, with the relay's secret.
        group_file = work / "config" / app_group_file()
        group_file.parent.mkdir(parents=True)
        group_file.write_text(
            '{"machineId":"m-1","tenantId":"t-1","agentRelaySecret":"s3cret"}')
        agent = subprocess.Popen([sys.executable, str(ROOT / "scripts/sample_agent.py")],
                                 stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        all_symbols, table = symbols(extension)
        try:
            agent.stdout.readline()  # "listening"
            ran = {name: symbols_touched(extension, table, work, name, m)
                   for name, m in MESSAGES.items()}
        finally:
            agent.kill()

    resolvers = sorted({n for n, t in all_symbols if t == "i" or n.endswith("_ifunc")})
    seen_families = {VARIANT.match(n).group(1) for n in ran["config"] | ran["relay"]
                     if VARIANT.match(n)}
    variants = sorted(
        {n for n, _ in all_symbols if VARIANT.match(n) and VARIANT.match(n).group(1) in seen_families},
        key=lambda n: (ISA_ORDER.index(VARIANT.match(n).group(2)), n))

    # Each name once, where it first comes.
    order = list(dict.fromkeys(
        resolvers + sorted(ran["config"]) + variants + sorted(ran["relay"] - ran["config"])))
    OUTPUT.write_text(
        "# What an OstrelaExtension cold start touches, in link order: IFUNC resolvers,\n"
        "# getManagedConfig, string functions for every CPU, what the relay adds.\n"
        "# Made by scripts/startup_order.py.\n" + "\n".join(order) + "\n")
    print(f"{OUTPUT.relative_to(ROOT)}: {len(resolvers)} resolvers, {len(ran['config'])} symbols "
          f"for getManagedConfig, {len(variants)} string variants, "
          f"{len(ran['relay'] - ran['config'])} more for the relay")


if __name__ == "__main__":
    main()
