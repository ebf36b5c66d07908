-- 10^7 short-lived tables of four fields each; only the last one is kept.
local t
for i = 1.0, 1e7 do
  t = {x = i, y = i, z = i, w = i}
end
print(string.format("churn %.14g", t.x + t.w))
