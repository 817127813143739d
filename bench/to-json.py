import json, os, time
with open(os.path.join(os.path.dirname(__file__), "..", "build", "records.json"), encoding="utf-8") as f:
    data = json.load(f)
t = time.perf_counter()
text = json.dumps(data, ensure_ascii=False, separators=(",", ":"))
print(len(text), "characters in", time.perf_counter() - t, "s")
