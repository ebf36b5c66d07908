-- 3 * 10^7 calls of a cheap native function found through the globals, as the
-- player's twin calls its "getlasterror" command; select("#") answers 0 like it.
local s = 0.0
for i = 1.0, 3e7 do
  s = s + select("#") + 1.0
end
print(string.format("native %.14g", s))
