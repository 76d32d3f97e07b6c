-- A counting loop of ten million additions.
local total = 0
for i = 1, 10000000 do
  total = total + i
end
print("count " .. total)
