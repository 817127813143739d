#!/usr/bin/env python3
"""Writes typical source text for the lexer benchmark: blocks of words, set-words, paths,
strings, numbers and comments, about SIZE megabytes (default 10), always the same text.
Usage: bench/gen-lexer-source.py OUT [SIZE_MB]"""
import random
import sys

rng = random.Random(20261210)
NAMES = ["append", "either", "value", "count", "result", "index", "series", "print", "make",
         "foreach", "item", "total", "length?", "find", "select", "copy", "insert", "block",
         "string", "face", "offset", "size", "text", "data", "next", "head", "tail", "pick"]


def word():
    return rng.choice(NAMES) + (str(rng.randrange(10)) if rng.random() < 0.2 else "")


def scalar():
    r = rng.random()
    if r < 0.30:
        return str(rng.randrange(-1000, 100000))
    if r < 0.40:
        return f"{rng.uniform(-1000, 1000):.3f}"
    if r < 0.65:
        text = " ".join(word() for _ in range(rng.randrange(1, 6)))
        return f'"{text}"' if rng.random() < 0.9 else f'"{text}^/"'
    if r < 0.72:
        return f"{word()}/{word()}"
    if r < 0.76:
        return f"{rng.randrange(1, 800)}x{rng.randrange(1, 600)}"
    if r < 0.80:
        return f"'{word()}"
    if r < 0.83:
        return f"#{word()}"
    if r < 0.86:
        return f"%{word()}.txt"
    return word()


def block(depth):
    parts = []
    for _ in range(rng.randrange(2, 9)):
        r = rng.random()
        if depth < 4 and r < 0.15:
            parts.append("[" + block(depth + 1) + "]")
        elif depth < 4 and r < 0.22:
            parts.append("(" + block(depth + 1) + ")")
        elif r < 0.35:
            parts.append(f"{word()}: {scalar()}")
        else:
            parts.append(scalar())
    return " ".join(parts)


def main():
    out = sys.argv[1]
    size = int(float(sys.argv[2] if len(sys.argv) > 2 else 10) * 1024 * 1024)
    written = 0
    with open(out, "w", encoding="utf-8") as f:
        while written < size:
            line = f"{word()}: func [{word()} {word()}] [\n    {block(0)}\n    {block(1)}\n]\n"
            if rng.random() < 0.3:
                line = f"; {' '.join(word() for _ in range(6))}\n" + line
            f.write(line)
            written += len(line.encode("utf-8"))


main()
