m = {}
for i in range(1, 500001):
    m[i] = i * 2
n = 0
for _ in range(2):
    for i in range(1, 500001):
        if m.get(i):
            n += 1
print(n)
