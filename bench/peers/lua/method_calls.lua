-- Method calls on one object inside a loop.
local Counter = {}
Counter.__index = Counter

function Counter.new()
  return setmetatable({ total = 0 }, Counter)
end

function Counter:add(n)
  self.total = self.total + n
end

function Counter:get()
  return self.total
end

local counter = Counter.new()
for i = 1, 3000000 do
  counter:add(i % 10)
end
print("method " .. counter:get())
