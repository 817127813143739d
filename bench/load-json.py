import json, os, time
with open(os.path.join(os.path.dirname(__file__), "..", "build", "records.json"), encoding="utf-8") as f:
    text = f.read()
t = time.perf_counter()
data = json.loads(text)
print(len(data), "records in", time.perf_counter() - t, "s")
