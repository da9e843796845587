-- The doubly recursive Fibonacci of fib.rvl, fib(25).
local function fib(n)
  if n < 2 then
    return n
  end
  return fib(n - 1) + fib(n - 2)
end

print(string.format("r =\n%10d", fib(25)))
