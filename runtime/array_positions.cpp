// runtime/array_positions.cpp
// Element sizes of type codes and the element position of a multi-dimensional index.
#include "runtime/matrix_values.h"
#include "runtime/variable_store.h"

namespace qob {

uint32_t ElementSize(int32_t type) {
    switch (type) {
    case -9:
    case -8:
        return 8;
    case -5:
    case -4:
    case -3:
        return 4;
    case -2:
        return 2;
    case -1:
        return 1;
    default:
        return type < 0 ? static_cast<uint32_t>(-static_cast<int64_t>(type)) : static_cast<uint32_t>(type);
    }
}

uint32_t ArrayElementIndex(const VariableRecord* variable, const int32_t* indices, uint32_t count) {
    if (count != variable->dimensionCount || count == 0)
        return 0;
    const int32_t* d = variable->dimensions;
    int64_t position = 0;
    if (variable->arrayOrder) {
        // Column-major: the first index moves fastest.
        int64_t stride = 1;
        for (uint32_t i = 0; i < count; ++i) {
            position += indices[i] * stride;
            stride *= d[i];
        }
    } else {
        for (uint32_t i = 0; i < count; ++i)
            position = position * d[i] + indices[i];
    }
    return static_cast<uint32_t>(position);
}

}  // namespace qob
