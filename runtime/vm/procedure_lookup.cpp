// runtime/vm/procedure_lookup.cpp
// Procedure keys are "NAME(inputs,outputs)"; these lookups compare keys as
// texts, with the tolerances the parser relies on.
#include "runtime/vm/procedure_lookup.h"

#include <cstring>
#include <string>
#include <string_view>

#include "runtime/data/hash.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/program_context.h"

namespace qob {

ProgramContext* CompileParentContext = nullptr;

namespace {

// Procedure start nodes carry a 4-byte header (kind byte and flags) before
// the key.
constexpr size_t kProcedureHeaderLength = 4;

// The procedure-name matching shared by the node and table walks.
bool ProcedureNameMatches(std::string_view candidate, std::string_view name) {
    if (name.find('(') != std::string_view::npos) {
        size_t comma = candidate.find(',');
        if (comma != std::string_view::npos && comma + 1 < candidate.size() && candidate[comma + 1] != '0')
            return name.substr(0, comma + 1) == candidate.substr(0, comma + 1);
        return name == candidate;
    }
    return name == candidate.substr(0, candidate.find('('));
}

// The key a table record offers to a search for name (see FindProc).
std::string CandidateKey(const ProcedureRecord& record, std::string_view name, bool byBaseName) {
    std::string_view recordName = record.name ? record.name : "";
    if (byBaseName) return std::string(recordName.substr(0, recordName.find('(')));
    if (!record.undefinedStart) return std::string(recordName);
    // Declared before its code: the searched argument count replaces the record's.
    size_t recordOpen = recordName.find('(');
    size_t nameOpen = name.find('(');
    if (recordOpen == std::string_view::npos || nameOpen == std::string_view::npos) return std::string(recordName);
    size_t nameComma = name.find(',', nameOpen);
    size_t recordComma = recordName.find(',', recordOpen);
    std::string key(recordName.substr(0, recordOpen));
    key += name.substr(nameOpen, nameComma == std::string_view::npos ? std::string_view::npos : nameComma - nameOpen);
    if (recordComma != std::string_view::npos) key += recordName.substr(recordComma);
    return key;
}

int CountClasses(const ClassRecord* list) {
    int count = 0;
    for (; list; list = list->next) ++count;
    return count;
}

const ClassRecord* FindClassByHash(const ClassRecord* list, uint32_t hash) {
    for (; list; list = list->next)
        if (list->nameHash == hash) return list;
    return nullptr;
}

Instruction* LastInstruction(Instruction* node) {
    while (node && node->next) node = node->next;
    return node;
}

ProcLookup FindInParentContexts(const char* name) {
    for (ProgramContext* context = CompileParentContext; context; context = context->parent)
        if (Instruction* start = FindProcedureByName(context, name)) return {-1, start};
    return {};
}

}  // namespace

ProcLookup FindProc(const char* name, ProcedureRecord* const* table, int count, bool keepCount, bool byBaseName,
                    bool exact) {
    std::string_view searched = name;
    size_t comma = searched.find(',');
    bool expectsResult = comma != std::string_view::npos && comma + 1 < searched.size() && searched[comma + 1] != '0';
    for (int i = count - 1; i >= 0; --i) {
        const ProcedureRecord* record = table[i];
        if (!record) continue;
        if (record->namespaceHash != 0 && record->namespaceHash != CurrentNamespaceHash) continue;
        std::string candidate = CandidateKey(*record, searched, byBaseName);
        size_t comparedLength = candidate.size();
        if (!keepCount && !byBaseName && expectsResult && record->countByte != 0) {
            // The digit before the "," (the argument count) is left out.
            size_t candidateComma = candidate.find(',');
            comparedLength = candidateComma == std::string::npos ? std::string::npos : candidateComma - 1;
        }
        bool equal = exact ? std::strcmp(candidate.c_str(), name) == 0
                           : std::strncmp(candidate.c_str(), name, comparedLength) == 0;
        if (!equal) continue;
        if (byBaseName && comparedLength < searched.size()) continue;
        // A bare key (MAIN, WINMAIN, class main code) compared whole matches
        // only where the searched name ends or its argument list begins.
        if (!exact && comparedLength == candidate.size() && name[comparedLength] != '\0' &&
            name[comparedLength] != '(')
            continue;
        return {i, nullptr};
    }
    return FindInParentContexts(name);
}

Instruction* FindProcedureNode(Instruction* node, BuiltinHandler handler, const char* name) {
    for (; node; node = node->previous) {
        if (node->handler != handler || !node->text) continue;
        std::string_view text = node->text;
        if (text.size() < kProcedureHeaderLength) continue;
        if (ProcedureNameMatches(text.substr(kProcedureHeaderLength), name)) return node;
    }
    return nullptr;
}

Instruction* FindProcedureByName(const ProgramContext* context, const char* name) {
    for (int i = 0; i < context->procedureCount && i < kMaxProcedures; ++i) {
        const ProcedureRecord* record = context->procedures[i];
        if (record && record->name && ProcedureNameMatches(record->name, name)) return record->start;
    }
    return nullptr;
}

Instruction* FindClassCode(ProgramContext* context, BuiltinHandler startHandler, const char* className,
                           const char* methodName) {
    const ClassRecord* classes = CurrentContext ? CurrentContext->classRecords : nullptr;
    int maxSteps = CountClasses(classes);
    for (; context; context = context->parent) {
        Instruction* last = LastInstruction(context->instructions);
        std::string_view name = className;
        for (int step = 0; step <= maxSteps; ++step) {
            const ClassRecord* cls = FindClassByHash(classes, HashName(name.data(), name.size()));
            if (!cls) break;
            std::string key = "__CLASSCODE_" + std::string(name) + "." + methodName;
            if (Instruction* code = FindProcedureNode(last, startHandler, key.c_str())) return code;
            if (!cls->baseName || !*cls->baseName) break;
            name = cls->baseName;
        }
    }
    return nullptr;
}

}  // namespace qob
