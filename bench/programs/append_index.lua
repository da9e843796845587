-- The twin of append_index.rvl: 1000000 appends to a table.
local t = {}
for k = 1, 1000000 do
  t[#t + 1] = k
end
print(string.format("r =\n%10d", t[#t]))
