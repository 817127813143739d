import os, time, zlib
with open(os.path.join(os.path.dirname(__file__), "..", "build", "text.zz"), "rb") as f:
    packed = f.read()
t = time.perf_counter()
data = zlib.decompress(packed)
print(len(data), "bytes in", time.perf_counter() - t, "s")
