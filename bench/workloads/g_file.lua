local path = os.tmpname()
local t = os.clock()
local f = io.open(path, "w")
for i = 1, 200000 do f:write("line number " .. i .. "\n") end
f:close()
local n = 0
for line in io.lines(path) do n = n + 1 end
print(os.clock() - t, n)
os.remove(path)
