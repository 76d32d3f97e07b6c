-- A WHILE loop whose body is compound assignments (Lua has none: the
-- long forms stand for them).
local i = 0
local total = 0
local down = 1000000000
while i < 3000000 do
  i = i + 1
  total = total + i
  down = down - 3
end
print("while " .. (total + down))
