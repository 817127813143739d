n = 0
for _ in range(5000000):
    n = n + 1
print(n)
