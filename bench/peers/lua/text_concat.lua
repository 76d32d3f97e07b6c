-- A long text built by appending numbers and commas one at a time.
local text = ""
for i = 1, 20000 do
  text = text .. i .. ","
end
print("concat " .. #text)
