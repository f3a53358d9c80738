local t = os.clock()
local n = 0
for i = 1, 200000 do
  if string.find("order 12345 shipped", "%d+ s") then n = n + 1 end
end
print(os.clock() - t, n)
