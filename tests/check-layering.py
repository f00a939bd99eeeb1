#!/usr/bin/env python3
"""Fails when a source file includes a header of a room it may not use.

Every #include "..." in core/<room>, ui, app, cli and web is looked up by its name among the headers of those
folders (the names are unique, which is checked too) and must belong to the including room or one it may
use. Usage: check-layering.py SOURCE_DIR
"""
import pathlib
import re
import sys

# Who may include whom; a room always includes itself.
ALLOWED = {
    "base": set(),
    "cipher": {"base"},
    "files": {"base"},
    "check": {"base"},
    "naming": {"base"},
    "texts": {"check", "base"},
    "batch": {"cipher", "files", "check", "naming", "texts", "base"},
    "ui": {"batch", "naming", "texts", "base"},
    "app": {"ui", "batch", "naming", "texts", "base"},
    "cli": {"batch", "naming", "texts", "base"},
    "web": {"cipher", "check", "naming", "texts", "base"},
}
# Headers made by the build: the version from base, the dialogs' forms from uic for the including room.
GENERATED = {"Version.h": "base"}
GENERATED_OWN = re.compile(r"ui_\w+\.h$")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"', re.MULTILINE)
SOURCES = ("*.h", "*.cpp", "*.inc")


def room_folders(root):
    core_rooms = ("base", "cipher", "files", "check", "naming", "texts", "batch")
    folders = {room: root / "core" / room for room in core_rooms}
    folders.update({room: root / room for room in ("ui", "app", "cli", "web")})
    return folders


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else ".").resolve()
    folders = room_folders(root)
    owner = dict(GENERATED)
    problems = []
    for room, folder in folders.items():
        for pattern in ("*.h", "*.inc"):
            for header in sorted(folder.glob(pattern)):
                if header.name in owner:
                    problems.append(f"{header.relative_to(root)}: the name is taken by room {owner[header.name]}")
                owner[header.name] = room
    for room, folder in folders.items():
        for pattern in SOURCES:
            for source in sorted(folder.glob(pattern)):
                text = source.read_text(encoding="utf-8")
                for match in INCLUDE.finditer(text):
                    name = match.group(1)
                    line = text.count("\n", 0, match.start()) + 1
                    where = f"{source.relative_to(root)}:{line}"
                    target = room if GENERATED_OWN.match(name) else owner.get(name)
                    if target is None:
                        problems.append(f'{where}: "{name}" is no header of a room')
                    elif target != room and target not in ALLOWED[room]:
                        problems.append(f'{where}: {room} may not include "{name}" of {target}')
    # Any other folder directly in core/ would be a room this check does not know.
    for entry in sorted((root / "core").iterdir()):
        if entry.is_dir() and entry.name not in folders:
            problems.append(f"{entry.relative_to(root)}: a folder that is no room")
    for problem in problems:
        print(problem)
    checked = sum(1 for folder in folders.values() for pattern in SOURCES for _ in folder.glob(pattern))
    print(f"{checked} files checked, {len(problems)} forbidden includes or unknown headers")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
