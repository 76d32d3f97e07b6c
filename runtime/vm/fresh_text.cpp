// runtime/vm/fresh_text.cpp
// One note of the last fresh text block: who pushed it, where, and when.
#include "runtime/vm/fresh_text.h"

#include "platform/memory.h"
#include "runtime/vm/instruction.h"
#include "runtime/vm/vm.h"

namespace qob {
namespace {

// The noting instruction proves that no other instruction ran between the
// push and the pop: the popping node comes right after it, and no node jumps
// to the popping node, so nothing else can have run on the way there. The
// release count proves the block is still the one made (not freed, and no
// other block made at its address).
struct FreshText {
    const Instruction* maker;
    const StackEntry* cell;
    const char* text;  // null: no note
    uint64_t releases;
};
FreshText LastFreshText{};

}  // namespace

void NoteFreshText(const StackEntry* cell) {
    LastFreshText.text = nullptr;
    if (!cell || !cell->text || cell->variable || cell->flags || cell->ownedLinks || !CurrentInstruction) return;
    LastFreshText = {CurrentInstruction, cell, cell->text, platform::CountBlockReleases()};
}

bool IsFreshText(const StackEntry* cell) {
    const FreshText last = LastFreshText;
    LastFreshText.text = nullptr;
    return last.text && cell == last.cell && cell->text == last.text && !cell->variable && !cell->flags &&
           !cell->ownedLinks && CurrentInstruction && CurrentInstruction->previous == last.maker &&
           !(CurrentInstruction->extra && CurrentInstruction->extra->isJumpTarget) &&
           platform::CountBlockReleases() == last.releases;
}

}  // namespace qob
