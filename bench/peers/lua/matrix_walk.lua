-- Build a matrix by appending, walk it many times, then scale it element-wise.
local cells = {}
for i = 0, 999 do
  cells[#cells + 1] = i % 7
end
local total = 0
for rounds = 1, 2000 do
  for _, cell in ipairs(cells) do
    total = total + cell
  end
end
local scaled = {}
for i, c in ipairs(cells) do
  scaled[i] = c * 3
end
for _, cell in ipairs(scaled) do
  total = total + cell
end
print("matrix " .. #cells .. " " .. total)
