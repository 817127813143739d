local b = {}
for i = 1, 1000000 do b[#b + 1] = i end
local n = 0
for _ = 1, 3 do
  for _, x in ipairs(b) do if x > 500000 then n = n + 1 end end
end
print(n)
