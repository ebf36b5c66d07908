-- Method calls obj:add(i) through a table field, 2 * 10^7 times.
local obj = {n = 0.0}
function obj:add(x)
  self.n = self.n + x
end
for i = 1.0, 2e7 do obj:add(i) end
print(string.format("method %.14g", obj.n))
