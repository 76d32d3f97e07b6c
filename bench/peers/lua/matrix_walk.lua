-- Build a matrix by appending, walk it by index, then scale it element-wise.
local cells = {}
for i = 0, 999 do
  cells[#cells + 1] = i % 7
end
local total = 0
for rounds = 1, 2000 do
  for i = 1, 1000 do
    total = total + cells[i]
  end
end
local scaled = {}
for i, c in ipairs(cells) do
  scaled[i] = c * 3
end
for _, c in ipairs(scaled) do
  total = total + c
end
print("matrix " .. #cells .. " " .. total)
