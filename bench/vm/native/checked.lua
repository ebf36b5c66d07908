-- 10^7 calls of a C function that checks its one argument and returns
-- nothing the caller keeps, as the player's twin calls "debugoutput".
local i = 0.0
for k = 1.0, 1e7 do
  assert(0)
  i = k
end
print(string.format("checked %.14g", i))
