-- Sieve of Eratosthenes over the array part of one table.
local N = 1e7
local flags = {}
for i = 1.0, N do flags[i] = 1.0 end
local count = 0.0
for i = 2.0, N do
  if flags[i] == 1.0 then
    count = count + 1.0
    for j = i * i, N, i do flags[j] = 0.0 end
  end
end
print(string.format("sieve %.14g", count))
