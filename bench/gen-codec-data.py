#!/usr/bin/env python3
"""Writes the inputs of the codec benchmarks into DIR (default build/), always the same bytes:
  records.json  50,000 records, about 6.5 MB (strings with escapes and non-ASCII, numbers,
                logic values, nulls, nested arrays and objects)
  records.csv   about 10 MB of rows, some fields quoted (commas, quotes, line breaks)
  text.zz       about 10 MB of source text compressed by zlib at its default level, so the
                stream has dynamic Huffman blocks as most files met in practice do
Usage: bench/gen-codec-data.py [DIR]"""
import json
import os
import random
import sys
import zlib

rng = random.Random(20261210)
NAMES = ["alpha", "beta", "gamma", "delta", "epsilon", "zeta", "theta", "kappa", "lambda",
         "omega", "sigma", "tau", "Ærø", "Zürich", "東京", "naïve"]


def word():
    return rng.choice(NAMES) + (str(rng.randrange(100)) if rng.random() < 0.3 else "")


def record(i):
    r = {
        "id": i,
        "name": f"{word()} {word()}",
        "active": rng.random() < 0.5,
        "score": round(rng.uniform(-1000, 1000), 3),
        "ratio": round(rng.random(), 5),
        "tags": [word() for _ in range(rng.randrange(0, 3))],
        "note": None if rng.random() < 0.8 else f'say "{word()}"\tthen\\{word()}',
        "pos": {"x": rng.randrange(-500, 500), "y": rng.randrange(-500, 500)},
    }
    return r


def write_json(path):
    data = [record(i) for i in range(50000)]
    with open(path, "w", encoding="utf-8") as f:
        json.dump(data, f, ensure_ascii=False, separators=(",", ":"))


def csv_field():
    r = rng.random()
    if r < 0.35:
        return str(rng.randrange(-100000, 100000))
    if r < 0.5:
        return f"{rng.uniform(-1000, 1000):.4f}"
    if r < 0.85:
        return " ".join(word() for _ in range(rng.randrange(1, 4)))
    if r < 0.93:
        return '"' + f"{word()}, {word()}" + '"'
    if r < 0.97:
        return '"' + f'{word()} ""{word()}"" {word()}' + '"'
    return '"' + f"{word()}\n{word()}" + '"'


def write_csv(path, size):
    written = 0
    with open(path, "w", encoding="utf-8", newline="") as f:
        header = ",".join(f"col{i}" for i in range(8)) + "\n"
        f.write(header)
        written += len(header)
        while written < size:
            line = ",".join(csv_field() for _ in range(8)) + "\n"
            f.write(line)
            written += len(line.encode("utf-8"))


def write_zz(path, size):
    parts, n = [], 0
    while n < size:
        line = " ".join(word() for _ in range(rng.randrange(3, 12)))
        line = f"{word()}: [{line} {rng.randrange(100000)}]\n"
        parts.append(line)
        n += len(line.encode("utf-8"))
    with open(path, "wb") as f:
        f.write(zlib.compress("".join(parts).encode("utf-8")))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "build"
    os.makedirs(out, exist_ok=True)
    write_json(os.path.join(out, "records.json"))
    write_csv(os.path.join(out, "records.csv"), 10 * 1024 * 1024)
    write_zz(os.path.join(out, "text.zz"), 10 * 1024 * 1024)


main()
