# Characters gather in a list joined once (+= on a str is not reliably linear).
parts = []
for i in range(2000000):
    parts.append("a")
parts.append("é")
for i in range(1000000):
    parts.append("b")
print(len("".join(parts)))
