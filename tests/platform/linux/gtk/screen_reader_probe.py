#!/usr/bin/python3
"""Looks at a running application through the accessibility bus, as a screen reader does.

  screen_reader_probe.py <pid> show           the window's named, focusable or focused nodes
  screen_reader_probe.py <pid> press <name>   does the first action of the button called <name>

Each node is printed as "role | name | description", with " | focused" when it has the focus.
Waits up to 20 s for the application to appear on the bus.
"""
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def application(pid):
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        desktop = Atspi.get_desktop(0)
        for index in range(desktop.get_child_count()):
            child = desktop.get_child_at_index(index)
            if child is not None and child.get_process_id() == pid and child.get_child_count() > 0:
                return child
        time.sleep(0.1)
    sys.exit(f"application {pid} not on the accessibility bus")


def nodes(node):
    yield node
    for index in range(node.get_child_count()):
        child = node.get_child_at_index(index)
        if child is not None:
            yield from nodes(child)


def main():
    pid, command = int(sys.argv[1]), sys.argv[2]
    for node in nodes(application(pid)):
        states = node.get_state_set()
        focused = states.contains(Atspi.StateType.FOCUSED)
        role, name = node.get_role_name(), node.get_name()
        if command == "show" and (name or focused or states.contains(Atspi.StateType.FOCUSABLE)):
            print(" | ".join([role, name, node.get_description()] + (["focused"] if focused else [])))
        if command == "press" and role == "push button" and name == sys.argv[3]:
            node.get_action_iface().do_action(0)
            print("pressed")
            return


main()
