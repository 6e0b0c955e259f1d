#!/usr/bin/env python3
"""Checks that the code's rooms depend on each other one way only.

Reads every include of the production code (each room's .h and .cpp files, tests excepted) and
fails, naming the file and line, when:
  - an include reaches a room above its own in ROOMS (which also rules out any circle);
  - production code includes the test support (testing/) or a room that is not in ROOMS;
  - Qt, SDL or OpenGL is included outside the rooms that wrap it;
  - a room's CMake library does not link exactly the rooms its files include.

Usage: check_layers.py [SOURCE_DIR]   (default: the folder above this script)
"""

import pathlib
import re
import sys

# The rooms from the top down: a room may include only itself and the rooms after it.
ROOMS = ["app", "net", "meet", "play", "audio", "input", "game", "hoppers", "tanks", "controls",
         "core", "records", "scene"]
TEST_ONLY = "testing"

# Third-party headers kept in their rooms: (what the include starts with, where it may stand).
# A place is a room, or a room/file-prefix for a single file family.
WRAPPED = [
    ("Q", ["app"], "Qt"),
    ("SDL", ["audio", "input"], "SDL"),
    ("GL/", ["scene/gl_renderer", "app/gl_"], "OpenGL"),
    ("EGL/", ["scene/gl_renderer", "app/gl_"], "OpenGL"),
    ("xcb/", ["app"], "the X connection"),
]

INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')
LINK = re.compile(r"target_link_libraries\(\s*hopshot_(\w+)\s+([^)]*)\)", re.S)


def production_files(root, room):
    folder = root / room
    if not folder.is_dir():
        return []
    return sorted(p for p in folder.iterdir()
                  if p.suffix in (".h", ".cpp") and not p.stem.endswith("_test"))


def allowed(place, rel):
    room, _, rest = place.partition("/")
    return rel.startswith(room + "/") and (not rest or rel.split("/", 1)[1].startswith(rest))


def check(root):
    faults = []
    uses = {room: set() for room in ROOMS}
    for room in ROOMS:
        rank = ROOMS.index(room)
        for path in production_files(root, room):
            rel = path.relative_to(root).as_posix()
            for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
                m = INCLUDE.match(line)
                if not m:
                    continue
                bracket, target = m.groups()
                where = f"{rel}:{number}: includes {target}"
                if "/" in target and target.split("/")[0] in ROOMS + [TEST_ONLY]:
                    other = target.split("/")[0]
                    if other == TEST_ONLY:
                        faults.append(f"{where}: production code includes the test support")
                    elif ROOMS.index(other) < rank:
                        faults.append(f"{where}: {other}/ sits above {room}/ "
                                      f"(the order is {' > '.join(ROOMS)})")
                    elif other != room:
                        uses[room].add(other)
                    continue
                if bracket == '"':
                    faults.append(f"{where}: not a room of the code (include rooms as room/file.h)")
                    continue
                for prefix, places, what in WRAPPED:
                    if target.startswith(prefix) and not any(allowed(p, rel) for p in places):
                        faults.append(f"{where}: {what} belongs in {', '.join(places)} only")
    for room in ROOMS:
        cmake = root / room / "CMakeLists.txt"
        if not cmake.exists():
            continue
        for m in LINK.finditer(cmake.read_text()):
            if m.group(1) != room:
                continue
            linked = {w[len("hopshot_"):] for w in m.group(2).split() if w.startswith("hopshot_")}
            if linked != uses[room]:
                faults.append(f"{room}/CMakeLists.txt: hopshot_{room} links "
                              f"{sorted(linked) or 'no room'} but its files include "
                              f"{sorted(uses[room]) or 'no room'}")
    return faults


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parents[1])
    faults = check(root.resolve())
    for f in faults:
        print(f)
    print(f"{len(faults)} include faults" if faults else "the rooms depend on each other one way")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
