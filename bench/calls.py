def f(a, b=None):
    return a + b if b is not None else a
n = 0
for i in range(1000000):
    n = f(n, 1)
print(n)
