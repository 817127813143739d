local parts = {}
for i = 1, 300000 do parts[#parts + 1] = "ab" end
print(#table.concat(parts))
