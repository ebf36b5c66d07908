-- 4 * 10^6 concatenations, each growing a line of numbers by one number and a
-- comma; a line starts afresh every 10 numbers.
-- Lua 5.4 writes a float with a ".0" suffix, so this loop alone counts in
-- integers: the text of each number then matches the "%.14g" of the player.
local line, last, lines = "", "", 0.0
for i = 1, 4000000 do
  line = line .. i .. ","
  if i % 10 == 0 then
    last = line
    line = ""
    lines = lines + 1.0
  end
end
print(string.format("concat %.14g %s", lines, last))
