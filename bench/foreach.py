b = []
for i in range(1, 1000001):
    b.append(i)
n = 0
for _ in range(3):
    for x in b:
        if x > 500000:
            n += 1
print(n)
