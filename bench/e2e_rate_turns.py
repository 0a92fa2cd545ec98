#!/usr/bin/env python3
# A clipboard client for bench/e2e_rate.sh that times the binary's event
# loop while a stream arrives: it asks the clipboard's owner (the binary,
# which copied the port it was given) for its targets, one request at a time
# from this one process, so that no program starts per request, and prints
# each wait for the answer in milliseconds, one a line, until the process
# whose id it is given has ended. The binary answers from its event loop, so
# the longest wait bounds its longest turn from above.
#
#   e2e_rate_turns.py PID

import os
import sys
import time

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, Gtk  # noqa: E402


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    return True


def main():
    pid = int(sys.argv[1])
    clipboard = Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD)
    while alive(pid):
        start = time.monotonic()
        clipboard.wait_for_targets()
        print("%d" % round((time.monotonic() - start) * 1000), flush=True)
        time.sleep(0.01)


main()
