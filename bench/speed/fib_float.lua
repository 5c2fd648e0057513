local function fib(n)
  if n < 2.0 then return n end
  return fib(n - 1.0) + fib(n - 2.0)
end
print(math.floor(fib(32.0)))
