import re
s = "alpha 123 beta 4567 gamma, 89; delta 0 " * 250000
words = numbers = 0
for m in re.finditer(r"([a-z]+)|([0-9]+)", s):
    if m.group(1):
        words += 1
    else:
        numbers += 1
print(len(s), words, numbers)
