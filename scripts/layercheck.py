"""The include check behind scripts/check-*-layers: a folder laid out in rooms, each of which
may include only the rooms it names.

check(root, top, may_include, outside) walks every .h, .cpp and .inc file below top/ and
answers (files, includes, offences), an offence a line "file:line: ..." for a file that lies
in no room, a quoted include that does not name its file from the repository root, an include
of a folder outside top/ that is not one of outside, or an include of a room its own room may
not include. main() prints them and answers the exit code.
"""
import os
import re

SOURCES = (".h", ".cpp", ".inc")
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]')


def room_of(top, rooms, path):
    """The room of a path below top/ ("crypto/sym/SBAES.h" -> "sym"), or None."""
    parts = path.split("/")
    if len(parts) >= 3 and parts[0] == top and parts[1] in rooms:
        return parts[1]
    return None


def check(root, top, may_include, outside):
    offences = []
    files = includes = 0
    rooms = list(may_include)
    for folder, dirs, names in os.walk(os.path.join(root, top)):
        dirs.sort()
        for name in sorted(names):
            if not name.endswith(SOURCES):
                continue
            path = os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
            files += 1
            own = room_of(top, rooms, path)
            if own is None:
                offences.append(f"{path}: lies in no room of {top}/ ({', '.join(rooms)})")
                continue
            with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                for number, line in enumerate(f, 1):
                    m = INCLUDE.match(line)
                    if not m or m.group(1) == "<":
                        continue
                    includes += 1
                    target = m.group(2)
                    where = f"{path}:{number}: includes \"{target}\""
                    if target.startswith(outside):
                        continue
                    if not target.startswith(top + "/"):
                        first = target.split("/")[0]
                        if "/" in target and os.path.isdir(os.path.join(root, first)):
                            beneath = " and ".join(outside)
                            offences.append(f"{where}: outside {top}/ only {beneath} lie beneath it")
                        else:
                            offences.append(f"{where}: name the file from the repository root")
                        continue
                    other = room_of(top, rooms, target)
                    if other is None:
                        offences.append(f"{where}, which lies in no room of {top}/")
                    elif other != own and other not in may_include[own]:
                        allowed = ", ".join(may_include[own]) or "no other room"
                        offences.append(f"{where}: room {own} may include {allowed}, not {other}")
    return files, includes, offences


def main(argv, script, top, may_include, outside, order):
    """Runs the check on argv[1] (default: the folder above script) and answers the exit code;
    order is the rooms' order as the failure line shows it."""
    root = argv[1] if len(argv) > 1 else os.path.join(os.path.dirname(script), "..")
    files, includes, offences = check(os.path.abspath(root), top, may_include, outside)
    name = os.path.basename(script)
    for o in offences:
        print(o)
    if offences:
        print(f"{name}: {len(offences)} offence(s) against the room order {order}")
        return 1
    if files == 0:
        print(f"{name}: no source files under {top}/")
        return 1
    print(f"{name}: {files} files, {includes} includes, each into its own room or one it may include")
    return 0
