#!/usr/bin/env python3
"""The layers as the folders draw them, checked on the sources.

Each product folder is one target. A file includes the headers of its own
folder by their bare name, and another target's public headers with that
target's folder below platform/ ("system/SocketControl.h",
"receivebox/views/HexRows.h"); it
never reaches a target above it, nor another target's implementation or
private (_p.h) headers. Tests, benchmarks and fuzz targets may also include
private headers, and the units they test. No product file speaks of tests.

Usage: check_layers.py SOURCE_DIR; prints each fault and exits 1 if any.
"""

import os
import re
import sys

# Folder, the prefix its public headers are included with, and the targets
# it may include from. A folder never includes from the folder that holds it:
# a folder inside another is a target that the outer one links.
TARGETS = {
    "platform/system": ("system", []),
    "platform/transcript": ("transcript", []),
    "platform/sendbox": ("sendbox", ["system"]),
    "platform/receivebox/views": ("receivebox/views", ["transcript", "system"]),
    "platform/receivebox/paint": ("receivebox/paint", ["receivebox/views", "transcript"]),
    "platform/receivebox/save": ("receivebox/save", ["transcript"]),
    "platform/receivebox/find": ("receivebox/find", ["transcript", "system"]),
    "platform/receivebox/log": ("receivebox/log", ["transcript", "system"]),
    "platform/receivebox/accessibility": ("receivebox/accessibility", []),
    "platform/receivebox": ("receivebox", ["receivebox/views", "receivebox/paint",
                                           "receivebox/save", "receivebox/find", "receivebox/log",
                                           "receivebox/accessibility", "transcript", "system"]),
    "connection": ("connection", ["receivebox", "sendbox", "transcript", "system"]),
    "windows": ("windows", ["connection", "receivebox", "sendbox", "system"]),
    "app": ("app", ["windows", "system"]),
}

# What other targets may include: everything else in a folder is its own.
PUBLIC = {
    "system": {"CodePage.h", "Console.h", "Fonts.h", "ProcessExit.h", "SizedMimeData.h", "SocketControl.h",
               "SystemColour.h", "Translations.h"},
    "transcript": {"ByteSearch.h", "ByteStore.h", "ChunkSlabs.h", "Indexing.h", "LineIndex.h",
                   "LineRecords.h", "NulText.h", "TextSearch.h", "ThreadPriority.h", "Transcript.h",
                   "TranscriptFile.h"},
    "sendbox": {"SendBox.h"},
    "receivebox/views": {"CaretNavigation.h", "ClipboardText.h", "HexClipboardText.h",
                         "HexRows.h", "HexView.h", "RowLayout.h", "TextView.h", "View.h"},
    "receivebox/paint": {"BlockPainter.h", "CellCache.h", "GlyphRunPainter.h"},
    "receivebox/save": {"TranscriptSaver.h"},
    "receivebox/find": {"FindBar.h", "FindTarget.h"},
    "receivebox/log": {"SessionLog.h", "SessionLogger.h"},
    "receivebox/accessibility": {"AccessibleText.h", "ReceiveBoxAccessible.h",
                                 "ReceiveBoxAnnouncer.h"},
    "receivebox": {"ReceiveBox.h"},
    "connection": {"Connection.h"},
    "windows": {"Application.h", "tcp_client.h"},
    "app": set(),
}

GENERATED = {"brisol_version.h"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def sources(top, folder):
    directory = os.path.join(top, folder)
    for name in sorted(os.listdir(directory)):
        if name.endswith((".h", ".cpp")):
            yield os.path.join(folder, name)


def split(included, prefixes):
    """The target prefix of an include and the header within it, by the
    longest prefix that names a target; (None, None) when none does."""
    folder, _, header = included.rpartition("/")
    return (folder, header) if folder in prefixes else (None, None)


def main():
    top = sys.argv[1]
    prefix_to_folder = {prefix: folder for folder, (prefix, _) in TARGETS.items()}
    faults = []

    for folder, (_, below) in TARGETS.items():
        for path in sources(top, folder):
            text = open(os.path.join(top, path), encoding="utf-8").read()
            if re.search(r"for (the )?tests|tests only|test only", text, re.I):
                faults.append(f"{path}: speaks of tests")
            for included in INCLUDE.findall(text):
                if included in GENERATED:
                    continue
                if "/" not in included:
                    if not os.path.exists(os.path.join(top, folder, included)):
                        faults.append(f"{path}: \"{included}\" is not in {folder}/")
                    continue
                prefix, header = split(included, prefix_to_folder)
                if prefix is None:
                    faults.append(f"{path}: \"{included}\" names no layer")
                elif prefix_to_folder[prefix] == folder:
                    faults.append(f"{path}: \"{included}\" is its own; include it bare")
                elif prefix not in below:
                    faults.append(f"{path}: \"{included}\" points up or across")
                elif header not in PUBLIC[prefix]:
                    faults.append(f"{path}: \"{included}\" is private to {prefix}")

    for folder in ("tests", "tests/e2e", "bench", "fuzz"):
        for path in sources(top, folder):
            text = open(os.path.join(top, path), encoding="utf-8").read()
            for included in INCLUDE.findall(text):
                if "/" not in included:
                    continue
                prefix, header = split(included, prefix_to_folder)
                if prefix is None:
                    continue
                if not os.path.exists(os.path.join(top, prefix_to_folder[prefix], header)):
                    faults.append(f"{path}: \"{included}\" does not exist")

    for fault in faults:
        print(fault)
    print(f"{len(faults)} faults" if faults else "layers: every include as the layers allow")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
