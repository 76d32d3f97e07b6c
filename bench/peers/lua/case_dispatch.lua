-- Multi-way dispatch on a small selector inside a loop.
local total = 0
for i = 1, 3000000 do
  local k = i % 5
  if k == 0 then
    total = total + 1
  elseif k == 1 then
    total = total + 3
  elseif k == 2 then
    total = total - 2
  elseif k == 3 then
    total = total + i % 3
  else
    total = total + 7
  end
end
print("case " .. total)
