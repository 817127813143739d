#!/usr/bin/env python3
"""Writes src/memory/error-ids.h, the C++ list of error ids, from the error catalogue in
src/library/01-catalog.zuv. The output depends only on the catalogue, so running it again
must reproduce the committed header byte for byte.

Usage: tools/gen-error-ids.py [--catalog FILE] [--out FILE]
"""
import argparse
import os
import re
import sys

# The categories the runtime names in C++ (error.h), by index; None for a reserved one.
CATEGORIES = ["throw", "note", "syntax", "script", "math", "access", None, None, "user", "internal"]
ARGUMENTS = {"arg1", "arg2", "arg3"}


class CatalogError(Exception):
    pass


# ---- reading the catalogue as data ---------------------------------------------------------
# Only what the catalogue is written with: blocks, strings, integers and the word kinds.

ESCAPES = {'"': '"', "^": "^", "/": "\n", "-": "\t"}


def read_string(text, i, line):
    out = []
    i += 1
    while True:
        if i >= len(text) or text[i] == "\n":
            raise CatalogError(f"line {line}: string not closed")
        c = text[i]
        if c == '"':
            return "".join(out), i + 1
        if c == "^":
            m = re.match(r"\^\(([0-9A-Fa-f]{1,6})\)", text[i:])
            if m:
                out.append(chr(int(m.group(1), 16)))
                i += len(m.group(0))
                continue
            if i + 1 >= len(text) or text[i + 1] not in ESCAPES:
                raise CatalogError(f"line {line}: unknown escape in string")
            out.append(ESCAPES[text[i + 1]])
            i += 2
            continue
        out.append(c)
        i += 1


def load(text):
    """The values of the text as nested lists of (kind, value, line) tuples."""
    stack = [[]]
    i, line = 0, 1
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
        elif c == "[":
            stack.append([])
            i += 1
        elif c == "]":
            if len(stack) == 1:
                raise CatalogError(f"line {line}: ']' without '['")
            block = stack.pop()
            stack[-1].append(("block", block, line))
            i += 1
        elif c == '"':
            value, i = read_string(text, i, line)
            stack[-1].append(("string", value, line))
        else:
            m = re.match(r'[^\s\[\]";]+', text[i:])
            token = m.group(0)
            i += len(token)
            if re.fullmatch(r"[+-]?\d+", token):
                stack[-1].append(("integer", int(token), line))
            elif re.fullmatch(r"[^:/]+:", token):
                stack[-1].append(("set-word", token[:-1], line))
            elif re.fullmatch(r":[^:/]+", token):
                stack[-1].append(("get-word", token[1:], line))
            elif re.fullmatch(r"[^:/0-9'][^:/]*", token):
                stack[-1].append(("word", token, line))
            else:
                raise CatalogError(f"line {line}: unexpected '{token}'")
    if len(stack) != 1:
        raise CatalogError("a block is not closed")
    return stack[0]


def find_set_word(values, name):
    """The values that follow the first set-word of that name, searched depth first."""
    for n, (kind, value, _) in enumerate(values):
        if kind == "set-word" and value == name:
            return values[n + 1:]
        if kind == "block":
            found = find_set_word(value, name)
            if found is not None:
                return found
    return None


def object_fields(values, what):
    """The (name, value) fields of a `make object! [...]` expression's body."""
    if len(values) < 3 or values[0][:2] != ("word", "make") or values[1][:2] != ("word", "object!") \
            or values[2][0] != "block":
        raise CatalogError(f"{what} is not made by make object! [...]")
    body = values[2][1]
    fields = []
    n = 0
    while n < len(body):
        kind, name, line = body[n]
        if kind != "set-word":
            raise CatalogError(f"line {line}: {what} holds a {kind} where a field name is expected")
        rest = body[n + 1:]
        if not rest:
            raise CatalogError(f"line {line}: field {name} of {what} has no value")
        if rest[0][:2] == ("word", "make"):
            fields.append((name, rest, line))
            n += 4
        else:
            fields.append((name, rest[0], line))
            n += 2
    return fields


def check_message(name, value, line):
    kind, content, _ = value
    if kind == "string":
        return
    if kind != "block" or not content:
        raise CatalogError(f"line {line}: the message of {name} is neither a string nor a block")
    for item_kind, item, _ in content:
        if not (item_kind == "string" or (item_kind == "get-word" and item in ARGUMENTS)):
            raise CatalogError(f"line {line}: the message of {name} holds {item_kind} {item}")


def read_catalog(text):
    """[(category name, [id name, ...])] in catalogue order; index 0 and 1 are code and type."""
    values = find_set_word(load(text), "catalog-errors")
    if values is None:
        raise CatalogError("no catalog-errors: in the catalogue")
    categories = []
    for c, (name, value, line) in enumerate(object_fields(values, "catalog-errors")):
        fields = object_fields(value, f"category {name}")
        if len(fields) < 2 or fields[0][0] != "code" or fields[1][0] != "type":
            raise CatalogError(f"line {line}: category {name} does not begin with code and type")
        if fields[0][1][:2] != ("integer", c * 100):
            raise CatalogError(f"line {line}: the code of category {name} is not {c * 100}")
        if fields[1][1][0] != "string":
            raise CatalogError(f"line {line}: the title of category {name} is not a string")
        ids = []
        for id_name, message, id_line in fields[2:]:
            if id_name in ids or id_name in ("code", "type"):
                raise CatalogError(f"line {id_line}: {name}/{id_name} is defined twice")
            if isinstance(message, list):
                raise CatalogError(f"line {id_line}: the message of {name}/{id_name} is an object")
            check_message(f"{name}/{id_name}", message, id_line)
            ids.append(id_name)
        categories.append((name, ids))
    names = [name for name, _ in categories]
    if len(names) != len(CATEGORIES) or any(want and want != got for want, got in zip(CATEGORIES, names)):
        raise CatalogError(f"the categories are {names}, not {CATEGORIES}")
    return categories


# ---- writing the header --------------------------------------------------------------------

def c_name(name):
    """The id's name as the tail of a C++ identifier (the macro pastes category_name)."""
    out = []
    for ch in name:
        if ch == "-":
            out.append("_")
        elif ch == "?":
            out.append("_q")
        elif ch == "*":
            out.append("_p")
        elif ch == "!":
            out.append("_x")
        elif re.fullmatch(r"[A-Za-z0-9_]", ch):
            out.append(ch)
        else:
            out.append(f"_{ord(ch):02x}")
    return "".join(out)


def write_header(categories, source):
    entries = []
    seen = {}
    for c, (category, ids) in enumerate(categories):
        for i, name in enumerate(ids, start=2):
            ident = c_name(name)
            if (category, ident) in seen:
                raise CatalogError(f"{category}/{name} and {category}/{seen[category, ident]} "
                                   f"give the same C++ name")
            seen[category, ident] = name
            entries.append(f'    X({category}, {ident}, {c}, {i}, "{name}")')
    lines = [
        f"// Generated by tools/gen-error-ids.py from {source}; do not edit.",
        "// Every error id of the catalogue: category, id (as a C++ name), category index, id",
        "// index, the id's name in the catalogue.",
        "#pragma once",
        "",
        "#define ZUV_ERROR_IDS(X) \\",
        " \\\n".join(entries),
        "",
    ]
    return "\n".join(lines)


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--catalog", default=os.path.join(root, "src", "library", "01-catalog.zuv"))
    ap.add_argument("--out", default=os.path.join(root, "src", "memory", "error-ids.h"))
    args = ap.parse_args()
    with open(args.catalog, encoding="utf-8") as f:
        text = f.read()
    try:
        categories = read_catalog(text)
    except CatalogError as e:
        print(f"{args.catalog}: {e}", file=sys.stderr)
        return 1
    with open(args.out, "w", encoding="utf-8", newline="\n") as f:
        f.write(write_header(categories, "src/library/01-catalog.zuv"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
