local function add3(a, b, c) return a + b + c end
local t = os.clock()
local s = 0
for i = 1, 1000000 do s = add3(s, i, 1) end
print(os.clock() - t, s)
