local t = os.clock()
local c = 0
for i = 1, 10000000 do
  if i > 100 then c = c + 1 end
end
print(os.clock() - t, c)
