-- The calls of calls.rvl: 1e6 calls of a one-line function.
local function addone(x)
  return x + 1
end

local x = 0
for _ = 1, 1000000 do
  x = addone(x)
end
print(string.format("r =\n%10d", x))
