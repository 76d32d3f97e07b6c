# Build a matrix by appending, walk it by index, then scale it element-wise.
cells = []
for i in range(0, 1000):
    cells.append(i % 7)
total = 0
for rounds in range(1, 2001):
    for i in range(0, 1000):
        total += cells[i]
scaled = [c * 3 for c in cells]
for c in scaled:
    total += c
print("matrix", len(cells), total)
