-- The scalar loop of scalarloop.rvl: s = s + 1/(k*k) for k = 1 .. 1e7, in
-- doubles, printed as the console host displays the result.
local function scalarloop(n)
  local s = 0.0
  for k = 1, n do
    s = s + 1.0 / (k * k)
  end
  return s
end

local r = scalarloop(10000000)
print(string.format("r =\n%10s", (string.format("%.4f", r):gsub("0+$", ""))))
