local s = string.rep("alpha 123 beta 4567 gamma, 89; delta 0 ", 250000)
local words, numbers = 0, 0
for _ in s:gmatch("%l+") do words = words + 1 end
for _ in s:gmatch("%d+") do numbers = numbers + 1 end
print(#s, words, numbers)
