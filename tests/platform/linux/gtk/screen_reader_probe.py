#!/usr/bin/python3
# Looks at the running application <pid> through the accessibility bus, as a screen reader does:
#   screen_reader_probe.py <pid> show            prints its named, focusable or focused nodes as
#                                                "role | name | description[ | focused]"
#   screen_reader_probe.py <pid> press <name>    does the action of its push button <name>
import sys, time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def tree(node):
    yield node
    for child in map(node.get_child_at_index, range(node.get_child_count())):
        yield from tree(child) if child else ()


pid, command = int(sys.argv[1]), sys.argv[2]
for _ in range(200):  # while the application comes onto the bus
    desktop = Atspi.get_desktop(0)
    apps = [a for a in map(desktop.get_child_at_index, range(desktop.get_child_count()))
            if a and a.get_process_id() == pid and a.get_child_count() > 0]
    if apps:
        break
    time.sleep(0.1)
for node in tree(apps[0]) if apps else sys.exit(f"{pid} is not on the accessibility bus"):
    states, role, name = node.get_state_set(), node.get_role_name(), node.get_name()
    focused = states.contains(Atspi.StateType.FOCUSED)
    if command == "show" and (name or focused or states.contains(Atspi.StateType.FOCUSABLE)):
        print(" | ".join([role, name, node.get_description()] + (["focused"] if focused else [])))
    if command == "press" and role == "push button" and name == sys.argv[3]:
        sys.exit(print("pressed") if Atspi.Action.do_action(node, 0) else "not pressed")
