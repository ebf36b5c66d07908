-- Recursive Fibonacci: about 30 million script-to-script calls.
local function fib(n)
  if n < 2.0 then return n end
  return fib(n - 1.0) + fib(n - 2.0)
end
print(string.format("fib %.14g", fib(35.0)))
