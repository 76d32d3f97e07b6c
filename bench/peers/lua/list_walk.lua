-- Build a list by appending, then walk it summing its items.
local items = {}
for i = 1, 1000000 do
  items[#items + 1] = i % 100
end
local total = 0
for _, value in ipairs(items) do
  total = total + value
end
print("list " .. #items .. " " .. total)
