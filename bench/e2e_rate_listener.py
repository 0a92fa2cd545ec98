#!/usr/bin/env python3
# An accessibility client for bench/e2e_rate.sh, listening as a screen reader
# does: registered on the accessibility bus for "object:text-changed:insert",
# it counts the events and the characters they carry, per object that sent
# them, and where the furthest insertion ended. It prints "ready" once
# registered; then each line "report" on its input is answered with one line:
#   events E chars C last_ns L top_events E1 top_chars C1 top_end N
# where E and C count every object's events, and L, E1, C1 and N are those
# of the object whose insertions reach furthest (the receive box, once a
# stream has come; the host and port fields send a few): L is
# CLOCK_MONOTONIC at its last event, in nanoseconds (0 before any), and N the
# offset where its furthest insertion ends. It ends at the end of its input.

import sys
import time

import pyatspi
from gi.repository import GLib

per_source = {}
totals = {"events": 0, "chars": 0}


def on_insert(event):
    text = event.any_data
    count = len(text) if isinstance(text, str) else 0
    totals["events"] += 1
    totals["chars"] += count
    # The object's D-Bus path names it without asking the program anything.
    key = getattr(event.source, "path", None) or id(event.source)
    seen = per_source.setdefault(key, [0, 0, 0, 0])
    seen[0] += 1
    seen[1] += count
    seen[2] = time.monotonic_ns()
    # detail1 is where the insertion starts.
    seen[3] = max(seen[3], event.detail1 + count)


def on_input(channel, condition):
    line = channel.readline()
    if not line:
        pyatspi.Registry.stop()
        return False
    if line.strip() == "report":
        top = max(per_source.values(), key=lambda seen: seen[3], default=[0, 0, 0, 0])
        print(
            "events %d chars %d last_ns %d top_events %d top_chars %d top_end %d"
            % (totals["events"], totals["chars"], top[2], top[0], top[1], top[3]),
            flush=True,
        )
    return True


pyatspi.Registry.registerEventListener(on_insert, "object:text-changed:insert")
stdin = GLib.IOChannel.unix_new(sys.stdin.fileno())
GLib.io_add_watch(stdin, GLib.PRIORITY_DEFAULT, GLib.IOCondition.IN | GLib.IOCondition.HUP, on_input)
print("ready", flush=True)
pyatspi.Registry.start()
