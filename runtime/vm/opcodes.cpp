// runtime/vm/opcodes.cpp
// The opcode name table generated from the opcode list.

#include "runtime/vm/opcodes.h"

namespace qob {
namespace {

struct OpcodeNames {
    const char* names[kOpcodeTableSize] = {};
    constexpr OpcodeNames() {
#define QOB_OPCODE_NAME(ident, number, name) names[number] = name;
        QOB_OPCODES(QOB_OPCODE_NAME)
#undef QOB_OPCODE_NAME
    }
};

constexpr OpcodeNames kOpcodeNames;

}  // namespace

const char* OpcodeName(uint32_t opcode) {
    return opcode < kOpcodeTableSize ? kOpcodeNames.names[opcode] : nullptr;
}

}  // namespace qob
