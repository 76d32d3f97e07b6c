-- Nested counting loops with a product and a remainder in the body.
local total = 0
for i = 1, 3000 do
  for j = 1, 1000 do
    total = total + (i * j) % 7
  end
end
print("nested " .. total)
