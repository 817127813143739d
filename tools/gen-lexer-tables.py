#!/usr/bin/env python3
# Writes the lexer's tables (src/reader/lexer-tables.h and .cpp) from the grammar blocks of
# docs/lexer-grammar.md. The output depends only on the grammar, so running it again must
# reproduce the committed files byte for byte.
#
# Usage: tools/gen-lexer-tables.py [--grammar FILE] [--out DIR]
import argparse
import os
import re
import sys

CLASS_COUNT = 40
STATE_COUNT = 65
TERMINAL_BASE = 66
KIND_COUNT = 36
TABLE_SIZE = TERMINAL_BASE + KIND_COUNT


class GrammarError(Exception):
    pass


def parse_bytes(items, where):
    out = []
    for item in items:
        m = re.fullmatch(r"([0-9A-Fa-f]{2})(?:-([0-9A-Fa-f]{2}))?", item)
        if not m:
            raise GrammarError(f"{where}: bad byte '{item}'")
        lo = int(m.group(1), 16)
        hi = int(m.group(2), 16) if m.group(2) else lo
        if hi < lo:
            raise GrammarError(f"{where}: empty range '{item}'")
        out.extend(range(lo, hi + 1))
    return out


def grammar_lines(text):
    """Yields (line number, text) of the lines inside ```grammar blocks, comments removed."""
    inside = False
    for number, line in enumerate(text.splitlines(), 1):
        stripped = line.strip()
        if stripped.startswith("```"):
            inside = stripped == "```grammar" if not inside else False
            continue
        if inside:
            line = line.split("#", 1)[0].rstrip()
            if line.strip():
                yield number, line


class Grammar:
    def __init__(self):
        self.classes = {}      # name -> number
        self.class_names = [None] * CLASS_COUNT
        self.byte_class = [None] * 256
        self.flags = []        # (name, value, bytes)
        self.datatypes = {}    # name -> id
        self.kinds = {}        # name -> number
        self.kind_names = [None] * KIND_COUNT
        self.kind_types = [0] * KIND_COUNT
        self.sets = {}         # name -> list of class numbers
        self.states = {}       # number -> dict
        self.order = []

    def expand(self, words, where):
        result = []
        removing = False
        for w in words:
            if w == "except":
                removing = True
                continue
            if w in self.classes:
                members = [self.classes[w]]
            elif w in self.sets:
                members = self.sets[w]
            else:
                raise GrammarError(f"{where}: unknown class or set '{w}'")
            for c in members:
                if removing:
                    if c in result:
                        result.remove(c)
                elif c not in result:
                    result.append(c)
        return result

    def target(self, word, where):
        if word.startswith("="):
            name = word[1:]
            if name not in self.kinds:
                raise GrammarError(f"{where}: unknown token kind '{name}'")
            return TERMINAL_BASE + self.kinds[name]
        if not word.isdigit() or int(word) >= STATE_COUNT:
            raise GrammarError(f"{where}: bad target '{word}'")
        return int(word)


def parse(text):
    g = Grammar()
    state = None
    for number, line in grammar_lines(text):
        where = f"line {number}"
        words = line.split()
        head = words[0]
        if line[0].isspace():
            if state is None:
                raise GrammarError(f"{where}: rule outside a state")
            if "->" not in words or words.index("->") != len(words) - 2:
                raise GrammarError(f"{where}: a rule is 'classes -> target'")
            lhs, target = words[:-2], g.target(words[-1], where)
            row = state["row"]
            if lhs == ["*"]:
                members = [c for c in range(CLASS_COUNT) if row[c] is None]
            else:
                members = g.expand(lhs, where)
            for c in members:
                if row[c] is not None:
                    raise GrammarError(f"{where}: class {g.class_names[c]} mapped twice in state {state['number']}")
                row[c] = target
        elif head == "class":
            n, name = int(words[1]), words[2]
            if name in g.classes or g.class_names[n] is not None:
                raise GrammarError(f"{where}: class {n} {name} defined twice")
            g.classes[name] = n
            g.class_names[n] = name
            for b in parse_bytes(words[3:], where):
                if g.byte_class[b] is not None:
                    raise GrammarError(f"{where}: byte {b:02X} has two classes")
                g.byte_class[b] = n
        elif head == "flag":
            g.flags.append((words[1], int(words[2], 16), parse_bytes(words[3:], where)))
        elif head == "datatype":
            g.datatypes[words[1]] = int(words[2])
        elif head == "kind":
            n, name, dt = int(words[1]), words[2], words[3]
            g.kinds[name] = n
            g.kind_names[n] = name
            g.kind_types[n] = 0 if dt == "-" else g.datatypes[dt]
        elif head == "set":
            if words[2] != "=":
                raise GrammarError(f"{where}: a set is 'set NAME = ...'")
            g.sets[words[1]] = g.expand(words[3:], where)
        elif head == "state":
            n, name, dt = int(words[1]), words[2], words[3]
            if n in g.states:
                raise GrammarError(f"{where}: state {n} defined twice")
            state = {
                "number": n,
                "name": name,
                "type": 0 if dt == "-" else g.datatypes[dt],
                "skip": "skip" in words[4:],
                "row": [None] * CLASS_COUNT,
            }
            g.states[n] = state
            g.order.append(n)
        else:
            raise GrammarError(f"{where}: unknown line '{head}'")
    check(g)
    return g


def check(g):
    for b in range(256):
        if g.byte_class[b] is None:
            raise GrammarError(f"byte {b:02X} has no class")
    for n, name in enumerate(g.class_names):
        if name is None:
            raise GrammarError(f"class {n} is not defined")
    for n, name in enumerate(g.kind_names):
        if name is None:
            raise GrammarError(f"token kind {n} is not defined")
    end = g.classes["end"]
    for n in range(STATE_COUNT):
        if n not in g.states:
            raise GrammarError(f"state {n} is not defined")
        row = g.states[n]["row"]
        for c, t in enumerate(row):
            if t is None:
                raise GrammarError(f"state {n}: class {g.class_names[c]} has no target")
        if row[end] < TERMINAL_BASE:
            raise GrammarError(f"state {n}: the end class must lead to a token kind")


def ident(name):
    return name.replace("-", "_")


def write_header(g):
    out = []
    out.append("// Generated by tools/gen-lexer-tables.py from docs/lexer-grammar.md: do not edit.")
    out.append("// The lexer's byte classes, token flags, state machine and its companion tables.")
    out.append("#pragma once")
    out.append("#include <cstdint>")
    out.append("")
    out.append("namespace zuv::lexer {")
    out.append("")
    out.append(f"inline constexpr int class_count = {CLASS_COUNT};")
    out.append(f"inline constexpr int state_count = {STATE_COUNT};")
    out.append(f"// A next state at or above this is terminal: the token kind terminal_base + k.")
    out.append(f"inline constexpr int terminal_base = {TERMINAL_BASE};")
    out.append(f"inline constexpr int kind_count = {KIND_COUNT};")
    out.append(f"inline constexpr int table_size = {TABLE_SIZE};")
    out.append("")
    out.append("// Byte classes: the low 8 bits of a char_classes entry.")
    out.append("enum ByteClass : uint8_t {")
    for n, name in enumerate(g.class_names):
        out.append(f"    c_{ident(name)} = {n},")
    out.append("};")
    out.append("")
    out.append("// Token flags: the upper 24 bits of a char_classes entry, ORed over a token's bytes")
    out.append("// (the byte that ends the token included).")
    out.append("namespace flag {")
    for name, value, _ in g.flags:
        out.append(f"inline constexpr uint32_t {name} = 0x{value:08X}u;")
    out.append("}  // namespace flag")
    out.append("")
    out.append("enum State : uint8_t {")
    for n in range(STATE_COUNT):
        out.append(f"    s_{ident(g.states[n]['name'])} = {n},")
    out.append("};")
    out.append("")
    out.append("extern const uint32_t char_classes[256];")
    out.append("extern const uint8_t transitions[state_count][class_count];")
    out.append("// Indexed by state or terminal state: 1 when a byte that leads there is skipped.")
    out.append("extern const uint8_t skip_table[table_size];")
    out.append("// Indexed by state or terminal state: the datatype id it stands for, 0 when none.")
    out.append("extern const uint8_t type_table[table_size];")
    out.append("// Indexed by class: 1 for the line feed.")
    out.append("extern const uint8_t line_table[class_count];")
    out.append("extern const char* const state_names[state_count];")
    out.append("")
    out.append("}  // namespace zuv::lexer")
    return "\n".join(out) + "\n"


def write_source(g):
    out = []
    out.append("// Generated by tools/gen-lexer-tables.py from docs/lexer-grammar.md: do not edit.")
    out.append("// The tables behind the lexer's inner loop; see the grammar for what each state takes.")
    out.append('#include "reader/lexer-tables.h"')
    out.append("")
    out.append("namespace zuv::lexer {")
    out.append("")
    flag_of = [0] * 256
    for _, value, members in g.flags:
        for b in members:
            flag_of[b] |= value
    out.append("const uint32_t char_classes[256] = {")
    for row in range(32):
        cells = []
        for b in range(row * 8, row * 8 + 8):
            cells.append(f"0x{flag_of[b] | g.byte_class[b]:08X}")
        out.append(f"    {', '.join(cells)},  // {row * 8:02X}")
    out.append("};")
    out.append("")
    out.append("// Columns: " + " ".join(g.class_names))
    out.append("const uint8_t transitions[state_count][class_count] = {")
    for n in range(STATE_COUNT):
        s = g.states[n]
        cells = ",".join(f"{t:3d}" for t in s["row"])
        out.append(f"    {{{cells}}},  // {n} {s['name']}")
    out.append("};")
    out.append("")
    skip = [0] * TABLE_SIZE
    types = [0] * TABLE_SIZE
    for n in range(STATE_COUNT):
        skip[n] = 1 if g.states[n]["skip"] else 0
        types[n] = g.states[n]["type"]
    for k in range(KIND_COUNT):
        types[TERMINAL_BASE + k] = g.kind_types[k]

    def rows(values):
        lines = []
        for i in range(0, len(values), 17):
            lines.append("    " + ", ".join(f"{v:2d}" for v in values[i:i + 17]) + ",")
        return lines

    out.append("const uint8_t skip_table[table_size] = {")
    out.extend(rows(skip))
    out.append("};")
    out.append("")
    out.append("const uint8_t type_table[table_size] = {")
    out.extend(rows(types))
    out.append("};")
    out.append("")
    line = [1 if c == g.classes["line"] else 0 for c in range(CLASS_COUNT)]
    out.append("const uint8_t line_table[class_count] = {")
    out.extend(rows(line))
    out.append("};")
    out.append("")
    out.append("const char* const state_names[state_count] = {")
    for n in range(STATE_COUNT):
        out.append(f'    "{g.states[n]["name"]}",')
    out.append("};")
    out.append("")
    out.append("}  // namespace zuv::lexer")
    return "\n".join(out) + "\n"


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--grammar", default=os.path.join(root, "docs", "lexer-grammar.md"))
    ap.add_argument("--out", default=os.path.join(root, "src", "reader"))
    args = ap.parse_args()
    with open(args.grammar, encoding="utf-8") as f:
        text = f.read()
    try:
        g = parse(text)
    except GrammarError as e:
        sys.exit(f"{args.grammar}: {e}")
    os.makedirs(args.out, exist_ok=True)
    for name, content in (("lexer-tables.h", write_header(g)), ("lexer-tables.cpp", write_source(g))):
        with open(os.path.join(args.out, name), "w", encoding="utf-8", newline="\n") as f:
            f.write(content)


if __name__ == "__main__":
    main()
