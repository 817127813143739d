local o = {a = 0, b = 1}
for _ = 1, 1000000 do o.a = o.a + o.b end
print(o.a)
