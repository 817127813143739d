class O:
    def __init__(self):
        self.a = 0
        self.b = 1
o = O()
for i in range(1000000):
    o.a = o.a + o.b
print(o.a)
