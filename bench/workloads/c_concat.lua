local t = os.clock()
local parts = {}
for i = 1, 1000000 do parts[#parts + 1] = "ab" end
local s = table.concat(parts)
print(os.clock() - t, #s)
