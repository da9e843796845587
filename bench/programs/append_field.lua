-- The twin of append_field.rvl: 100000 appends to a table.
local t = {}
for k = 1, 100000 do
  t[#t + 1] = k
end
print(string.format("r =\n%10d", t[#t]))
