// runtime/values/array_positions.cpp
// The element position of a multi-dimensional array index.
#include "runtime/values/matrix_values.h"
#include "runtime/values/variable_store.h"

namespace qob {

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
