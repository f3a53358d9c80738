local t = os.clock()
local a = {}
for i = 1, 1000000 do a[i] = i - 1 end
local s = 0
for i = 1, 1000000 do s = s + a[i] end
print(os.clock() - t, s)
