#!/usr/bin/env python3
"""Checks that no file under src/ includes a header of a layer above its own.

The layers and their order are read from src/CMakeLists.txt, as the build
states them: each library's sources and the libraries it links. A header
belongs to the library of its .cpp twin; a header without a twin belongs to
the lowest library that takes sources from its folder (or the nearest
folder above it that has any). Every #include "..."
under src/ must name a file of the same library or of one it links, directly
or through others. Prints each offending include and exits 1 if there is any.
"""
import fnmatch
import os
import re
import sys

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
SRC = os.path.join(ROOT, "src")
SYSTEMS = ("win", "linux")
KEYWORDS = {"STATIC", "INTERFACE", "PUBLIC", "PRIVATE", "WIN32", "CONFIGURE_DEPENDS"}


def commands(text):
    """(name, [arguments]) of each CMake command, comments dropped."""
    text = re.sub(r"#[^\n]*", "", text)
    for match in re.finditer(r"(\w+)\s*\(((?:[^()]|\([^()]*\))*)\)", text):
        yield match.group(1).lower(), re.findall(r'"[^"]*"|[^\s"]+', match.group(2))


def expand(word, variables):
    """Every value `word` may take (${PLATFORM} stands for each system)."""
    values = [word.strip('"')]
    for _ in range(4):
        out = []
        for value in values:
            found = re.search(r"\$\{(\w+)\}", value)
            if not found:
                out.append(value)
                continue
            for replacement in variables.get(found.group(1), [""]):
                out.append(value[: found.start()] + replacement + value[found.end():])
        values = out
    return values


def read_layers():
    # Both systems at once: each branch of an if(WIN32) counts.
    fixed = {"CMAKE_CURRENT_SOURCE_DIR": [SRC], "OS": list(SYSTEMS),
             "PLATFORM": [os.path.join(SRC, "platform", s) for s in SYSTEMS]}
    variables = dict(fixed)
    patterns, deps = {}, {}

    def words(args):
        return [v for a in args for v in expand(a, variables) if v and v not in KEYWORDS]

    with open(os.path.join(SRC, "CMakeLists.txt"), encoding="utf-8") as f:
        text = f.read()
    for name, args in commands(text):
        if name == "set" and args and args[0] not in fixed:
            variables[args[0]] = words(args[1:])
        elif name == "file" and args[:1] == ["GLOB"]:
            variables[args[1]] = words(args[2:])
        elif name == "sw_layer":
            layer, section = "sw_" + args[0], None
            patterns.setdefault(layer, [])
            deps.setdefault(layer, set())
            for arg in args[1:]:
                if arg in ("SOURCES", "GLOBS", "DEPS"):
                    section = arg
                elif section == "DEPS":
                    deps[layer].update(w for w in words([arg]) if w.startswith("sw_"))
                else:
                    patterns[layer] += [(p, True) for p in words([arg])]
        elif name in ("add_library", "add_executable") and args:
            patterns.setdefault(args[0], []).extend((p, False) for p in words(args[1:]))
            deps.setdefault(args[0], set())
        elif name == "target_link_libraries" and args and args[0] in deps:
            deps[args[0]].update(w for w in words(args[1:]) if w.startswith("sw_"))
    return patterns, deps


def below(deps):
    """Each library with every library it reaches through its links."""
    closed = {}

    def reach(layer, path=()):
        if layer in closed:
            return closed[layer]
        out = {layer}
        for dep in deps.get(layer, ()):
            if dep not in path:
                out |= reach(dep, path + (layer,))
        closed[layer] = out
        return out

    for layer in deps:
        reach(layer)
    return closed


def source_files():
    for folder, _, names in os.walk(SRC):
        for name in names:
            if name.endswith((".cpp", ".h", ".h.in")):
                yield os.path.join(folder, name)


def assign(files, patterns, reach):
    owner = {}
    for layer, globs in patterns.items():
        for pattern, drops_simulated in globs:
            if not os.path.isabs(pattern):
                pattern = os.path.join(SRC, pattern)
            for path in files:
                if path.endswith(".cpp") and fnmatch.fnmatchcase(path, pattern):
                    if drops_simulated and "/simulated" in path:
                        continue
                    owner.setdefault(path, layer)
    # The lowest library taking sources from a folder owns its twinless headers.
    folder_owner = {}
    for path, layer in owner.items():
        folder = os.path.dirname(path)
        current = folder_owner.get(folder)
        if current is None or layer in reach[current]:
            folder_owner[folder] = layer
    for path in files:
        if path in owner:
            continue
        stem = re.sub(r"\.h(\.in)?$", "", path)
        if stem + ".cpp" in owner:
            owner[path] = owner[stem + ".cpp"]
        else:
            folder = os.path.dirname(path)
            while folder not in folder_owner and folder.startswith(SRC + os.sep):
                folder = os.path.dirname(folder)
            if folder in folder_owner:
                owner[path] = folder_owner[folder]
    return owner


def resolve(including, name):
    for base in (os.path.dirname(including), SRC):
        for candidate in (os.path.join(base, name), os.path.join(base, name + ".in")):
            if os.path.isfile(candidate):
                return os.path.normpath(candidate)
    return None


def main():
    patterns, deps = read_layers()
    reach = below(deps)
    files = sorted(source_files())
    owner = assign(files, patterns, reach)
    faults = []
    for path in files:
        rel = os.path.relpath(path, ROOT)
        layer = owner.get(path)
        if layer is None:
            faults.append(f"{rel}: in no library of src/CMakeLists.txt")
            continue
        with open(path, encoding="utf-8") as f:
            for number, line in enumerate(f, 1):
                found = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
                if not found:
                    continue
                target = resolve(path, found.group(1))
                if target is None:
                    faults.append(f"{rel}:{number}: includes \"{found.group(1)}\", found nowhere")
                    continue
                target_layer = owner.get(target)
                if target_layer is not None and target_layer not in reach[layer]:
                    faults.append(f"{rel}:{number}: {layer} includes \"{found.group(1)}\" "
                                  f"of {target_layer}, which it does not link")
    for fault in faults:
        print(fault)
    if faults:
        print(f"{len(faults)} include(s) across the layers")
        return 1
    print(f"layers: {len(files)} files, no include runs up a layer")
    return 0


if __name__ == "__main__":
    sys.exit(main())
