// tests/host/tools/placeholder_report.cpp
// Developer report: which registered names and opcodes still run a placeholder
// handler after start-up registration. Every subsystem that lands shortens it.
#include <cstdio>

#include "host/builtin_registry.h"
#include "runtime/registry/placeholder_handlers.h"

int main() {
    qob::RegisterBuiltins();
    int names = 0;
    for (int i = 0; i < qob::FunctionCount(); ++i)
        if (qob::IsPlaceholderHandler(qob::FunctionRecordAt(i)->handler)) ++names;
    std::printf("%d of %d registered names have a placeholder handler:\n", names, qob::FunctionCount());
    for (int i = 0; i < qob::FunctionCount(); ++i)
        if (qob::IsPlaceholderHandler(qob::FunctionRecordAt(i)->handler))
            std::printf("  %.*s\n", static_cast<int>(qob::kRegistrationOrder[i].size()), qob::kRegistrationOrder[i].data());

    int opcodes = 0;
    for (qob::BuiltinHandler handler : qob::OpcodeHandlerTable)
        if (qob::IsPlaceholderHandler(handler)) ++opcodes;
    std::printf("%d opcodes have a placeholder handler:\n", opcodes);
    for (int opcode = 0; opcode < qob::kOpcodeTableSize; ++opcode)
        if (qob::IsPlaceholderHandler(qob::OpcodeHandlerTable[opcode]))
            std::printf("  %d %s\n", opcode, qob::OpcodeNameTable[opcode]);
    return 0;
}
