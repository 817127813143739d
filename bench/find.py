s = "abcdefghij" * 1000000 + "needle"
n = 0
for i in range(200):
    n += s.find("needle") + 1
print(n)
