-- A counter closure that reads and writes its upvalue, called 3 * 10^7 times.
local function counter()
  local n = 0.0
  return function()
    n = n + 1.0
    return n
  end
end
local c = counter()
local s = 0.0
for i = 1.0, 3e7 do s = s + c() end
print(string.format("closure %.14g %.14g", s, c()))
