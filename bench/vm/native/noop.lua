-- 10^7 calls of a C function found through the globals, without arguments,
-- its result dropped, as the player's twin calls "getlasterror".
local i = 0.0
for k = 1.0, 1e7 do
  select("#")
  i = k
end
print(string.format("noop %.14g", i))
