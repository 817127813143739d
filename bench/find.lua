local s = string.rep("abcdefghij", 1000000) .. "needle"
local n = 0
for _ = 1, 200 do n = n + string.find(s, "needle", 1, true) end
print(n)
