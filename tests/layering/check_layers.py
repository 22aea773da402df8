#!/usr/bin/env python3
"""Fails on any include of a folder above the including file's own folder.

The folders of Murel/, bottom to top. A folder may include itself and any
folder listed before it; DESIGN.md shows the same list."""
import pathlib
import re
import sys

LAYERS = [
    "resources",  # build-time generators; they include no layer
    "runtime",
    "keys",
    "platform",
    "audio",
    "text",
    "speech",
    "enhance",
    "delivery",
    "hotkeys",
    "app",
    "design",
    "overlays",
    "menubar",
    "onboarding",
    "settings",
    "root",
]

INCLUDE = re.compile(r'^\s*#\s*include\s*"([A-Za-z_]+)/')


def main() -> int:
    source = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else "Murel")
    rank = {name: i for i, name in enumerate(LAYERS)}
    faults = []
    for path in sorted(source.rglob("*")):
        if path.suffix not in (".h", ".cpp", ".hpp", ".c"):
            continue
        folder = path.relative_to(source).parts[0]
        if folder not in rank:
            if len(path.relative_to(source).parts) > 1:
                faults.append(f"{path}: folder '{folder}' is not in the layer list")
            continue
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match or match.group(1) not in rank:
                continue
            target = match.group(1)
            if rank[target] > rank[folder]:
                faults.append(f"{path}:{number}: {folder}/ includes {target}/, which is above it")
    for fault in faults:
        print(fault)
    print(f"layering: {len(faults)} upward include(s)")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
