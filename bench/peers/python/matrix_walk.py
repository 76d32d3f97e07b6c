# Build a matrix by appending, walk it many times, then scale it element-wise.
cells = []
for i in range(0, 1000):
    cells.append(i % 7)
total = 0
for rounds in range(1, 2001):
    for cell in cells:
        total += cell
scaled = [c * 3 for c in cells]
for cell in scaled:
    total += cell
print("matrix", len(cells), total)
