-- Reads and writes of string-keyed fields in a table's hash part.
local p = {x = 0.0, y = 0.0, z = 0.0, w = 1.0}
for i = 1.0, 1.5e7 do
  p.x = p.x + p.w
  p.y = p.y + p.x * 0.5
  p.z = p.y - p.z
end
print(string.format("fields %.14g %.14g %.14g", p.x, p.y, p.z))
