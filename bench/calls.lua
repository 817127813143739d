local function f(a, b) if b ~= nil then return a + b end return a end
local n = 0
for i = 1, 1000000 do n = f(n, 1) end
print(n)
