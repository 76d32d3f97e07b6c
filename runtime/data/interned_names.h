// runtime/data/interned_names.h
// One shared lower-case copy of each source-file name, so that every token
// and instruction of a file points at the same text.
#pragma once

namespace qob {

// The shared text of the lower-cased name (ASCII letters only), made on
// first use; null for null. The argument itself is left as it is. Names are
// told apart by their HashName alone: two names with the same hash share
// the text of the first.
const char* InternName(const char* name);

// Frees every shared text; the texts handed out before are gone after this.
void FreeInternedNames();

}  // namespace qob
