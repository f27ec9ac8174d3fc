#!/usr/bin/env python3
"""Fails when an #include crosses a layer the wrong way, or names the operating system outside
the platform folders.

The layers and the edges allowed between them are read from the "## Layers" section of
docs/architecture.md: one line per layer,

    - `LAYER` → `TARGET`, `TARGET`, ...      (or "→ nothing")

where a layer is a folder of the repository and a target is a layer or a single header. A file
belongs to the layer with the longest folder that holds it. A layer may always include itself.

Checked: every C and C++ source and header under the layers' folders. Each quoted #include is
resolved as the build resolves it (the including file's folder, then the include roots: src/,
the repository root, objfile/include/, sdk/include/); an include that resolves into another
layer must be an allowed edge; one that resolves to no file fails. Headers of sdk/include/ are
public and open to every layer. A source file under src/, vhost/ or objfile/ that belongs to no
layer fails too, so that a new folder is placed in the picture before its code is.

The operating system's own headers (<unistd.h>, <dlfcn.h>, <pthread.h>, <sys/...>, ...) may be
included only in the folders and files of the section's line

    - system headers: `FOLDER`, `FILE`, ...

checked over the layers' folders and tools/ (benchmarks and fuzz targets measure and drive the
product from outside and may use the system as they need).

Usage: include_layers.py REPOSITORY_ROOT
"""
import os
import re
import sys

SOURCE_EXTENSIONS = (".cpp", ".hpp", ".h", ".c", ".inc")
INCLUDE_ROOTS = ("src", ".", "objfile/include", "sdk/include")
PUBLIC = ("sdk/include",)
CHECKED_FOLDERS = ("src", "vhost", "objfile")
SYSTEM_CHECKED_FOLDERS = CHECKED_FOLDERS + ("tools",)
EDGE = re.compile(r"^- `([^`]+)` → (.*)$")
SYSTEM_PLACES = re.compile(r"^- system headers: (.*)$")
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
SYSTEM_INCLUDE = re.compile(
    r"^\s*#\s*include\s+<((?:sys/[^>]+)|(?:(?:unistd|dlfcn|fcntl|signal|pthread|poll|link|execinfo|ucontext|"
    r"termios|spawn|pwd|dirent|sched|semaphore)\.h))>")


def read_section(architecture):
    """({layer: set of allowed targets}, set of places for system headers) from the Layers section."""
    edges = {}
    system_places = set()
    in_section = False
    with open(architecture, encoding="utf-8") as f:
        for line in f:
            if line.startswith("## "):
                in_section = line.strip() == "## Layers"
                continue
            if not in_section:
                continue
            places = SYSTEM_PLACES.match(line.rstrip())
            if places:
                system_places |= {p.rstrip("/") for p in re.findall(r"`([^`]+)`", places.group(1))}
            match = EDGE.match(line.rstrip())
            if match:
                layer = match.group(1).rstrip("/")
                if layer in edges:
                    sys.exit(f"include_layers: {layer} is listed twice")
                edges[layer] = {t.rstrip("/") for t in re.findall(r"`([^`]+)`", match.group(2))}
    return edges, system_places


def layer_of(path, layers):
    """The layer holding the repository path `path`, or None."""
    best = None
    for layer in layers:
        if path == layer or path.startswith(layer + "/"):
            if best is None or len(layer) > len(best):
                best = layer
    return best


def resolve(root, including, name):
    """The repository path an #include "name" of the file `including` reaches, or None."""
    for folder in (os.path.dirname(including),) + INCLUDE_ROOTS:
        candidate = os.path.normpath(os.path.join(folder, name))
        if os.path.isfile(os.path.join(root, candidate)):
            return candidate.replace(os.sep, "/")
    return None


def sources(root, folders=CHECKED_FOLDERS):
    for top in folders:
        for folder, dirs, names in os.walk(os.path.join(root, top)):
            dirs.sort()
            for name in sorted(names):
                if name.endswith(SOURCE_EXTENSIONS):
                    yield os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")


def permitted(target_path, target_layer, allowed):
    return target_layer in allowed or target_path in allowed


def check(root):
    edges, system_places = read_section(os.path.join(root, "docs", "architecture.md"))
    if not edges or not system_places:
        return ["docs/architecture.md: no layer list or no system-header line under '## Layers'"]
    layers = set(edges)
    problems = []
    for layer, targets in sorted(edges.items()):
        if not os.path.isdir(os.path.join(root, layer)):
            problems.append(f"docs/architecture.md: layer {layer} is not a folder")
        for target in sorted(targets):
            if target not in layers and not os.path.isfile(os.path.join(root, target)):
                problems.append(f"docs/architecture.md: {layer} → {target}: neither a layer nor a file")
    for path in sources(root):
        layer = layer_of(path, layers)
        if layer is None:
            problems.append(f"{path}: in no layer of docs/architecture.md")
            continue
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = resolve(root, path, match.group(1))
                if target is None:
                    problems.append(f'{path}:{number}: "{match.group(1)}" resolves to no file of the repository')
                    continue
                if layer_of(target, PUBLIC):
                    continue
                target_layer = layer_of(target, layers)
                if target_layer == layer:
                    continue
                if target_layer is None:
                    problems.append(f"{path}:{number}: includes {target}, which is in no layer")
                elif not permitted(target, target_layer, edges[layer]):
                    problems.append(f"{path}:{number}: {layer} may not include {target} ({target_layer})")
    for place in sorted(system_places):
        if not os.path.exists(os.path.join(root, place)):
            problems.append(f"docs/architecture.md: system headers in {place}, which does not exist")
    for path in sources(root, SYSTEM_CHECKED_FOLDERS):
        if layer_of(path, system_places):
            continue
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
            for number, line in enumerate(f, 1):
                match = SYSTEM_INCLUDE.match(line)
                if match:
                    problems.append(f"{path}:{number}: <{match.group(1)}> outside the platform folders")
    return problems


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: include_layers.py REPOSITORY_ROOT")
    problems = check(sys.argv[1])
    for problem in problems:
        print(problem)
    if problems:
        print(f"include_layers: {len(problems)} problem(s) against the layers of docs/architecture.md")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
