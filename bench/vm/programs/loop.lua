-- A numeric loop of 10^8 steps with float arithmetic in registers.
local a, b = 0.0, 0.0
for i = 1.0, 1e8 do
  a = a + i * 0.5
  b = b - i
end
print(string.format("loop %.14g %.14g", a, b))
