local m = {}
for i = 1, 500000 do m[i] = i * 2 end
local n = 0
for _ = 1, 2 do
  for i = 1, 500000 do if m[i] then n = n + 1 end end
end
print(n)
