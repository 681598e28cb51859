#!/usr/bin/env python3
"""Lists the classes the tree defines outside anonymous namespaces and
fails when two files define a class of the same qualified name.

Two programs' support code once both defined a global CaptureGraph; a
test program that linked both bound the client's calls to the other one's
members, silently (an ODR violation the linker does not report). Static
libraries make such clashes easy to miss, so this reads every C++ file
and compares the names.

It reads the sources, not the objects: a class with only inline members
leaves no symbol to compare. The reading is simple but enough for this
tree: comments, string literals and preprocessor lines are dropped, braces
are matched, and a brace opens a namespace, a class (class, struct or
union with a name) or anything else (a function body, an enum, an
initializer). Classes inside anything else are local and left out, as are
classes nested in classes (their outer class is what can clash) and those
in anonymous namespaces (each file has its own). GoogleTest's TEST,
TEST_F and TEST_P define a class Suite_Name_Test where they stand, so
they count too.

Usage: class_names.py ROOT [--list] [--exclude DIR]...
Folders starting with a dot and build trees are left out; --exclude
leaves out more (relative to ROOT). --list prints every name found.
Exit status: 0 when every name is defined once, 1 otherwise.
"""

import os
import re
import sys

SOURCE_SUFFIXES = (".h", ".hpp", ".cpp", ".cc", ".inl")

CLASS_HEAD = re.compile(
    r"(?:^|[^\w])(class|struct|union)\s+(?:\[\[[^\]]*\]\]\s*)?(?:__declspec\s*\([^)]*\)\s*)?"
    r"(\w+)\s*(?:final\s*)?(?::(?!:)[^{;]*)?$",
    re.S,
)
NAMESPACE_HEAD = re.compile(r"(?:^|[^\w])(inline\s+)?namespace\s*((?:\w+\s*::\s*)*\w+)?\s*$", re.S)
EXTERN_C_HEAD = re.compile(r"(?:^|[^\w])extern\s*\"\"\s*$", re.S)
TEST_MACRO = re.compile(r"\b(TEST|TEST_F|TEST_P)\s*\(\s*(\w+)\s*,\s*(\w+)\s*\)")


def strip(text):
    """Blanks out comments, string and character literals and preprocessor
    lines, keeping line breaks so that line numbers stay right. Literals
    become empty quotes."""
    out = []
    i = 0
    n = len(text)
    at_line_start = True
    while i < n:
        c = text[i]
        if at_line_start and c in " \t":
            out.append(c)
            i += 1
            continue
        if at_line_start and c == "#":
            # A preprocessor line, with its continuations.
            while i < n and text[i] != "\n":
                if text[i] == "\\" and i + 1 < n and text[i + 1] == "\n":
                    out.append("\n")
                    i += 2
                    continue
                i += 1
            continue
        at_line_start = False
        if text.startswith("//", i):
            while i < n and text[i] != "\n":
                i += 1
            continue
        if text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append("\n" * text.count("\n", i, end))
            i = end
            continue
        raw = re.match(r'(?:u8|u|U|L)?R"([^(\s]*)\(', text[i:])
        if raw and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            close = ")" + raw.group(1) + '"'
            end = text.find(close, i + raw.end())
            end = n if end < 0 else end + len(close)
            out.append('""' + "\n" * text.count("\n", i, end))
            i = end
            continue
        if c in "\"'":
            if c == "'" and i > 0 and text[i - 1].isdigit() and i + 1 < n and text[i + 1].isalnum():
                # A digit separator (1'000), not a character literal.
                out.append(c)
                i += 1
                continue
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(c + c)
            i = j + 1
            continue
        if c == "\n":
            at_line_start = True
        out.append(c)
        i += 1
    return "".join(out)


def classes_of(path):
    """Yields (qualified name, line) for each class the file defines at
    namespace scope, outside anonymous namespaces."""
    with open(path, encoding="utf-8", errors="replace") as f:
        text = strip(f.read())
    # Each scope: ("namespace", name or None) or ("class", name) or
    # ("extern", None) or ("other", None).
    scopes = []
    head_start = 0
    line = 1

    def at_namespace_scope():
        return all(kind in ("namespace", "extern") for kind, _ in scopes)

    def anonymous():
        return any(kind == "namespace" and name is None for kind, name in scopes)

    def qualified(name):
        parts = [n for kind, n in scopes if kind == "namespace" and n]
        return "::".join(parts + [name])

    for i, c in enumerate(text):
        if c == "\n":
            line += 1
        if c not in "{};":
            continue
        head = text[head_start:i]
        head_start = i + 1
        if at_namespace_scope() and not anonymous():
            for match in TEST_MACRO.finditer(head):
                test_line = line - head.count("\n", match.start())
                yield qualified(f"{match.group(2)}_{match.group(3)}_Test"), test_line
        if c == "{":
            namespace = NAMESPACE_HEAD.search(head)
            klass = CLASS_HEAD.search(head)
            if namespace:
                name = namespace.group(2)
                scopes.append(("namespace", re.sub(r"\s+", "", name) if name else None))
            elif EXTERN_C_HEAD.search(head):
                scopes.append(("extern", None))
            elif klass and not re.search(r"\benum\s+(class|struct)\s+\w+\s*(?::[^{;]*)?$", head):
                if at_namespace_scope() and not anonymous():
                    yield qualified(klass.group(2)), line - head.count("\n", klass.start(2))
                scopes.append(("class", klass.group(2)))
            else:
                scopes.append(("other", None))
        elif c == "}":
            if scopes:
                scopes.pop()


def main(argv):
    args = argv[1:]
    if not args or args[0].startswith("-"):
        print("usage: class_names.py ROOT [--list] [--exclude DIR]...", file=sys.stderr)
        return 2
    root = os.path.abspath(args[0])
    listing = "--list" in args
    excluded = {os.path.join(root, args[k + 1]) for k, a in enumerate(args) if a == "--exclude" and k + 1 < len(args)}
    definitions = {}
    for folder, subfolders, files in os.walk(root):
        # Build trees (a CMakeCache.txt at their top) hold generated and
        # installed headers, GoogleTest's among them, once per architecture.
        subfolders[:] = sorted(
            d
            for d in subfolders
            if not d.startswith(".")
            and os.path.join(folder, d) not in excluded
            and not os.path.exists(os.path.join(folder, d, "CMakeCache.txt"))
        )
        for file in sorted(files):
            if not file.endswith(SOURCE_SUFFIXES):
                continue
            path = os.path.join(folder, file)
            for name, line in classes_of(path):
                definitions.setdefault(name, []).append(f"{os.path.relpath(path, root)}:{line}")
    clashes = {name: places for name, places in definitions.items() if len(places) > 1}
    if listing:
        for name in sorted(definitions, key=lambda n: (n.count("::"), n)):
            print(f"{name}\t{' '.join(definitions[name])}")
    for name in sorted(clashes):
        print(f"class_names: {name} is defined {len(clashes[name])} times: {', '.join(clashes[name])}")
    global_count = sum(1 for name in definitions if "::" not in name)
    summary = f"{len(definitions)} classes outside anonymous namespaces, {global_count} of them global"
    if clashes:
        print(f"class_names: FAILED: {len(clashes)} name(s) defined more than once; {summary}")
        return 1
    print(f"class_names: OK: every name defined once; {summary}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
