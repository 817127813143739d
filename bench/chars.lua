-- Lua strings are immutable: characters gather in a table that is joined once.
local parts = {}
for _ = 1, 2000000 do parts[#parts + 1] = "a" end
parts[#parts + 1] = "é"
for _ = 1, 1000000 do parts[#parts + 1] = "b" end
print(utf8.len(table.concat(parts)))
