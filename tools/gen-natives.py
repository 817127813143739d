#!/usr/bin/env python3
"""Writes src/evaluator/refinements.h, the names of the refinements of every native and action,
from their specs in src/library/00-natives.zuv. A native or action entry receives its
refinements as an array, one frame position (or -1) per refinement in spec order; the header
names those array indexes, so that no entry reads them by bare number.

It also checks that the index each native and action has in the boot data is the one the C++
lists give it (ZUV_NATIVES in src/evaluator/natives-list.h, ZUV_ACTION_SLOTS in
src/memory/datatype.h), and fails when they differ. The output depends only on the inputs, so
running it again must reproduce the committed header byte for byte.

Usage: tools/gen-natives.py [--natives FILE] [--natives-list FILE] [--slots FILE] [--out FILE]
"""
import argparse
import os
import re
import sys

# C++ keywords (and alternative tokens) a Zuv word may spell; such a name gets a trailing '_'.
KEYWORDS = {
    "alignas", "alignof", "and", "and_eq", "asm", "auto", "bitand", "bitor", "bool", "break", "case", "catch",
    "char", "char8_t", "char16_t", "char32_t", "class", "compl", "concept", "const", "consteval", "constexpr",
    "constinit", "const_cast", "continue", "co_await", "co_return", "co_yield", "decltype", "default", "delete",
    "do", "double", "dynamic_cast", "else", "enum", "explicit", "export", "extern", "false", "float", "for",
    "friend", "goto", "if", "inline", "int", "long", "mutable", "namespace", "new", "noexcept", "not", "not_eq",
    "nullptr", "operator", "or", "or_eq", "private", "protected", "public", "register", "reinterpret_cast",
    "requires", "return", "short", "signed", "sizeof", "static", "static_assert", "static_cast", "struct",
    "switch", "template", "this", "thread_local", "throw", "true", "try", "typedef", "typeid", "typename",
    "union", "unsigned", "using", "virtual", "void", "volatile", "wchar_t", "while", "xor", "xor_eq",
}

NATIVES_SOURCE = "src/library/00-natives.zuv"
WIDTH = 100  # the header's lines are kept within this width
OUT_DEFAULT = os.path.join("src", "evaluator", "refinements.h")


class SpecError(Exception):
    pass


def c_name(name):
    """A Zuv word as a C++ identifier: '-' becomes '_', a '?' '_q', a '~' '_t', a '!' '_x', a
    '*' '_p'; a keyword gets a trailing '_'."""
    out = []
    for ch in name:
        if ch == "-":
            out.append("_")
        elif ch == "?":
            out.append("_q")
        elif ch == "~":
            out.append("_t")
        elif ch == "!":
            out.append("_x")
        elif ch == "*":
            out.append("_p")
        elif re.fullmatch(r"[A-Za-z0-9_]", ch):
            out.append(ch)
        else:
            raise SpecError(f"'{name}' has a character with no C++ spelling: {ch!r}")
    ident = "".join(out)
    if not ident or ident[0].isdigit():
        raise SpecError(f"'{name}' makes no C++ identifier")
    return ident + "_" if ident in KEYWORDS else ident


# ---- reading the boot data -----------------------------------------------------------------

def tokens(text, line):
    """The tokens of a spec block's text: '[' and ']', strings (kept whole) and words."""
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\n":
            line += 1
            i += 1
        elif c in " \t\r":
            i += 1
        elif c == ";":
            while i < len(text) and text[i] != "\n":
                i += 1
        elif c in "[]":
            out.append((c, line))
            i += 1
        elif c == '"':
            j = i + 1
            while j < len(text) and text[j] != '"':
                if text[j] == "\n":
                    raise SpecError(f"line {line}: string not closed")
                j += 2 if text[j] == "^" else 1
            if j >= len(text):
                raise SpecError(f"line {line}: string not closed")
            out.append((text[i:j + 1], line))
            i = j + 1
        elif c == "{":
            raise SpecError(f"line {line}: a spec holds a {{...}} string")
        else:
            m = re.match(r'[^\s\[\]";]+', text[i:])
            out.append((m.group(0), line))
            i += len(m.group(0))
    return out


ENTRY = re.compile(r"^([^\s:;\[\]]+): make (native|action)! \[", re.M)


def read_entries(text):
    """[(kind, name, index, [refinement, ...], line)] of each `name: make native!/action!` line."""
    entries = []
    for m in ENTRY.finditer(text):
        line = text.count("\n", 0, m.start()) + 1
        # The outer block: [spec index], closed by the bracket that balances its opening one.
        start = m.end()
        depth, i = 1, start
        while depth:
            if i >= len(text):
                raise SpecError(f"line {line}: the block of {m.group(1)} is not closed")
            c = text[i]
            if c == '"':
                j = text.find('"', i + 1)
                if j < 0:
                    raise SpecError(f"line {line}: string not closed")
                i = j
            elif c == ";":
                i = text.find("\n", i)
                if i < 0:
                    i = len(text)
                continue
            elif c == "[":
                depth += 1
            elif c == "]":
                depth -= 1
            i += 1
        toks = tokens(text[start:i - 1], line)
        if not toks or toks[0][0] != "[":
            raise SpecError(f"line {line}: {m.group(1)} has no spec block")
        depth, n = 0, 0
        refinements = []
        for n, (tok, tok_line) in enumerate(toks):
            if tok == "[":
                depth += 1
            elif tok == "]":
                depth -= 1
                if depth == 0:
                    break
            elif depth == 1 and tok.startswith("/") and len(tok) > 1:
                refinements.append((tok[1:], tok_line))
        rest = toks[n + 1:]
        if len(rest) != 1 or not re.fullmatch(r"\d+", rest[0][0]):
            raise SpecError(f"line {line}: {m.group(1)}'s spec is not followed by its index alone")
        names = [r for r, _ in refinements]
        for r, r_line in refinements:
            if names.count(r) > 1:
                raise SpecError(f"line {r_line}: {m.group(1)} has /{r} twice")
        entries.append((m.group(2), m.group(1), int(rest[0][0]), names, line))
    if not entries:
        raise SpecError("no `name: make native! [...]` or `make action!` lines")
    return entries


# ---- reading the C++ lists -----------------------------------------------------------------

def macro_body(text, name, path):
    m = re.search(r"^#define " + re.escape(name) + r"\(X\)(.*?)(?<!\\)\n", text, re.M | re.S)
    if not m:
        raise SpecError(f"{path}: no #define {name}(X)")
    return m.group(1).replace("\\\n", " ")


def read_natives_list(path):
    """[(C++ name, Zuv name)] of ZUV_NATIVES, in index order from 1."""
    with open(path, encoding="utf-8") as f:
        body = macro_body(f.read(), "ZUV_NATIVES", path)
    return re.findall(r'X\((\w+),\s*"([^"]+)"\)', body)


def read_action_slots(path):
    """[C++ name] of ZUV_ACTION_SLOTS, in slot order from 1."""
    with open(path, encoding="utf-8") as f:
        body = macro_body(f.read(), "ZUV_ACTION_SLOTS", path)
    return re.findall(r"X\((\w+),\s*\w+\)", body)


def check_indexes(entries, natives_list, slots):
    """The C++ name of each entry's namespace: a native's from ZUV_NATIVES, an action's from its slot."""
    names = {}
    natives = [(name, index, line) for kind, name, index, _, line in entries if kind == "native"]
    if [index for _, index, _ in natives] != list(range(1, len(natives) + 1)):
        raise SpecError("the natives' indexes in the boot data do not run 1, 2, 3... in order")
    if len(natives) != len(natives_list):
        raise SpecError(f"the boot data has {len(natives)} natives, ZUV_NATIVES {len(natives_list)}")
    for (name, index, line), (cpp, listed) in zip(natives, natives_list):
        if name != listed:
            raise SpecError(f"line {line}: native {index} is {name} in the boot data, {listed} in ZUV_NATIVES")
        names["native", name] = cpp
    seen = {}
    for kind, name, index, _, line in entries:
        if kind != "action":
            continue
        cpp = c_name(name)
        if cpp not in slots:
            raise SpecError(f"line {line}: action {name} ({cpp}) is not in ZUV_ACTION_SLOTS")
        if slots.index(cpp) + 1 != index:
            raise SpecError(f"line {line}: action {name} has index {index} in the boot data, "
                            f"slot {slots.index(cpp) + 1} in ZUV_ACTION_SLOTS")
        if index in seen:
            raise SpecError(f"line {line}: actions {seen[index]} and {name} share index {index}")
        seen[index] = name
        names["action", name] = cpp
    spaces = {}
    for key, cpp in names.items():
        if cpp in spaces:
            raise SpecError(f"{spaces[cpp][1]} and {key[1]} give the same C++ name {cpp}")
        spaces[cpp] = key
    return names


# ---- writing the header --------------------------------------------------------------------

def constant_lines(items):
    """The constants on one line, or wrapped within WIDTH columns."""
    one = f"constexpr int {', '.join(items)};"
    if len(one) <= WIDTH:
        return [one]
    lines, line = [], "constexpr int"
    for n, item in enumerate(items):
        end = ";" if n == len(items) - 1 else ","
        if len(line) + len(item) + 2 > WIDTH:
            lines.append(line)
            line = "             "
        line += f" {item}{end}"
    lines.append(line)
    return lines


def header(entries, names):
    out = [
        f"// Generated by tools/gen-natives.py from {NATIVES_SOURCE}; do not edit.",
        "// For each native and action with refinements, the index of each refinement in the array",
        "// its entry receives (refinements[i]: the frame position of refinement i's first argument,",
        "// or -1 when the call does not use it). A name is the refinement's word made a C++ name: '-'",
        "// as '_', '?' as '_q', '~' as '_t', and a C++ keyword with a trailing '_' (case_, new_).",
        "#pragma once",
        "",
    ]
    for kind in ("action", "native"):
        out.append(f"// The {kind}s.")
        for k, name, _, refinements, _ in entries:
            if k != kind or not refinements:
                continue
            idents = [c_name(r) for r in refinements]
            for a, b in zip(refinements, idents):
                if idents.count(b) > 1:
                    raise SpecError(f"{name}: /{a} and another refinement give the same C++ name {b}")
            items = [f"{ident} = {i}" for i, ident in enumerate(idents)]
            out.append(f"namespace zuv::refine::{names[kind, name]} {{  // {name}")
            out.extend(constant_lines(items))
            out.append("}")
        out.append("")
    return "\n".join(out)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--natives", default=os.path.join(root, NATIVES_SOURCE))
    ap.add_argument("--natives-list", default=os.path.join(root, "src", "evaluator", "natives-list.h"))
    ap.add_argument("--slots", default=os.path.join(root, "src", "memory", "datatype.h"))
    ap.add_argument("--out", default=os.path.join(root, OUT_DEFAULT))
    args = ap.parse_args()
    try:
        with open(args.natives, encoding="utf-8") as f:
            entries = read_entries(f.read())
        names = check_indexes(entries, read_natives_list(args.natives_list), read_action_slots(args.slots))
        text = header(entries, names)
    except SpecError as e:
        print(f"gen-natives: {e}", file=sys.stderr)
        return 1
    with open(args.out, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
