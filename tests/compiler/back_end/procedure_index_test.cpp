// tests/compiler/back_end/procedure_index_test.cpp
// The index must answer every lookup as FindProc over the whole table does.
#include "compiler/back_end/procedure_index.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/vm/instruction.h"
#include "runtime/vm/program_context.h"

namespace qob {
namespace {

struct TableRecord {
    std::string name;
    uint8_t countByte;
    uint8_t undefinedStart;
    uint32_t namespaceHash;
};

// Records that share name parts, differ in counts and namespaces, a record
// declared before its code, and bare keys that are prefixes of other names.
const std::vector<TableRecord> kTable = {
    {"MAIN", 0, 0, 0},          {"F(1,0)", 0, 0, 0},         {"F(2,1)", 1, 0, 0},  {"F(1,1)", 1, 0, 7},
    {"FA(0,0)", 0, 0, 0},       {"G(3,1)", 1, 1, 0},         {"MAINLY(0,0)", 0, 0, 0},
    {"F(2,1)", 1, 0, 0},        {"H(1,2)", 2, 0, 0},         {"", 0, 0, 0},
};

const char* const kKeys[] = {"MAIN", "MAIN(0,0)", "MAINLY(0,0)", "F(1,0)", "F(2,1)", "F(3,1)", "F(1,1)",
                             "FA(0,0)", "FA(1,0)", "G(1,1)", "G(3,1)", "H(1,2)", "H(1,0)", "NONE(0,0)", "",
                             "MAINLY", "F"};

TEST(ProcedureIndex, AnswersAsFindProcOverTheWholeTable) {
    // Many more names than the table starts with, so the index grows while
    // the records that share names are added.
    std::vector<TableRecord> table = kTable;
    for (int i = 0; i < 300; ++i) {
        // Appended, not joined: the optimised build warns of a false overlap on a joined temporary.
        std::string name = "P";
        name += std::to_string(i);
        name += "(1,1)";
        table.push_back({name, 1, 0, 0});
    }
    table.push_back({"P7(1,1)", 1, 0, 0});
    std::vector<ProcedureRecord> records(table.size());
    std::vector<ProcedureRecord*> pointers;
    ProcedureIndex index;
    for (size_t i = 0; i < table.size(); ++i) {
        records[i] = ProcedureRecord{};
        records[i].name = table[i].name.data();
        records[i].countByte = table[i].countByte;
        records[i].undefinedStart = table[i].undefinedStart;
        records[i].namespaceHash = table[i].namespaceHash;
        pointers.push_back(&records[i]);
        index.Add(&records[i], static_cast<int>(i));
    }
    std::vector<std::string> keys(std::begin(kKeys), std::end(kKeys));
    keys.insert(keys.end(), {"P0(1,1)", "P7(1,1)", "P299(1,1)", "P299(2,1)", "P300(1,1)"});
    const uint32_t savedNamespace = CurrentNamespaceHash;
    for (const uint32_t scope : {0u, 7u})
        for (const std::string& key : keys)
            for (const bool keepCount : {false, true})
                for (const bool exact : {false, true}) {
                    CurrentNamespaceHash = scope;
                    const ProcLookup whole =
                        FindProc(key.c_str(), pointers.data(), static_cast<int>(pointers.size()), keepCount, false,
                                 exact);
                    const ProcLookup indexed = index.Find(key.c_str(), keepCount, exact);
                    EXPECT_EQ(indexed.index, whole.index)
                        << key << " scope " << scope << " keepCount " << keepCount << " exact " << exact;
                }
    CurrentNamespaceHash = savedNamespace;
    // The latest of two records of one key is the one found.
    EXPECT_EQ(index.Find("P7(1,1)", true, true).index, static_cast<int>(table.size()) - 1);

    index.Clear();
    EXPECT_EQ(index.Find("F(1,0)", true, true).index, -1);
    index.Add(&records[1], 1);
    EXPECT_EQ(index.Find("F(1,0)", true, true).index, 1);
}

}  // namespace
}  // namespace qob
