// runtime/registry/function_table.h
// The process-wide table of every name a program calls without a procedure of
// its own behind it: keywords, operators, compiler steps, built-ins and the
// native library functions that programs declare.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

namespace qob {

// Every keyword, operator, built-in and opcode handler: no parameters, no
// result; it works on the current program context and its value stack.
using BuiltinHandler = void (*)();

inline constexpr int kFunctionTableCapacity = 8092;

// A text of a native declaration (library or export name). Only declared
// native functions have them, so a record keeps a pointer to its own copy,
// null while the text is empty: a built-in's record spends 8 bytes on each
// instead of a string's 32, which every start pays for in the records' pages.
class DeclaredText {
public:
    DeclaredText() = default;
    DeclaredText(const DeclaredText& other) { *this = other.view(); }
    DeclaredText(DeclaredText&&) noexcept = default;
    DeclaredText& operator=(const DeclaredText& other) { return *this = other.view(); }
    DeclaredText& operator=(DeclaredText&&) noexcept = default;
    DeclaredText& operator=(std::string_view text);

    [[nodiscard]] std::string_view view() const { return text_ ? std::string_view(*text_) : std::string_view(); }
    operator std::string_view() const { return view(); }
    [[nodiscard]] bool empty() const { return view().empty(); }

    friend bool operator==(const DeclaredText& a, std::string_view b) { return a.view() == b; }
    friend std::ostream& operator<<(std::ostream& out, const DeclaredText& text);

private:
    std::unique_ptr<std::string> text_;
};

// Fields in an order that leaves no padding but the end's.
struct FunctionRecord {
    std::string name;                 // upper-cased copy of the registered name
    BuiltinHandler handler = nullptr; // none for compiler-resolved keywords and native functions
    DeclaredText libraryName;         // declared native functions only
    DeclaredText exportName;          // entry name in the library; after linking, the one that resolved
    void* procedureEntry = nullptr;   // resolved entry of a native function without result
    void* functionEntry = nullptr;    // resolved entry of a native function with result
    uint32_t nameHash = 0;            // HashName of name: the key of every lookup
    uint8_t argumentCount = 0;        // ignored when anyArity is set
    uint8_t returnsValue = 0;         // 1: the call leaves one value on the stack
    uint8_t wideText = 0;             // native function takes UTF-16 texts; "W" export tried first
    uint8_t anyArity = 0;             // the compiler accepts any number of arguments
    uint8_t argumentFrame = 0;        // with anyArity: a __savesp step goes before the arguments
    uint8_t sForm = 0;                // native call opcodes SCALL* (1) or CALL* (0)
    uint8_t ownerMark = 0;            // the define table's owner mark when a directive declared it
    // Set by DeclareDllFunction. Tested instead of "has a library name", so a
    // declaration with an empty library text never passes for a built-in
    // (which would compile to a call of a null handler).
    bool declaredNative = false;
};

// Registrars. Each copies and upper-cases the name and returns the record's
// index. A name whose hash is present already reuses that slot: the old record
// is cleared first, so every field the new registration does not set is 0.
// -1 when the name is new and all kFunctionTableCapacity slots are taken;
// nothing is written then.
[[nodiscard]] int RegisterFunction(std::string_view name, BuiltinHandler handler);
[[nodiscard]] int RegisterFunctionFlags(std::string_view name, BuiltinHandler handler, bool anyArity, bool argumentFrame);
[[nodiscard]] int RegisterFunctionFlagsEx(std::string_view name, BuiltinHandler handler, bool anyArity, bool argumentFrame,
                                          bool returnsValue);
[[nodiscard]] int RegisterBuiltin(std::string_view name, BuiltinHandler handler, uint8_t argumentCount, bool returnsValue);
// RegisterFunction for a caller that has the name's hash already:
// nameHash must be HashUpperCaseName(name).
[[nodiscard]] int RegisterFunctionHashed(std::string_view name, uint32_t nameHash, BuiltinHandler handler);

// Zeroes every field of a record; the record keeps its slot.
void ClearFunctionRecord(int index);
// Frees every record; the table is empty afterwards.
void FreeFunctionTable();

// Index of the record with this name hash, -1 when none. O(1): an index from
// hash to slot stands beside the slots, which keep registration order for
// listings.
[[nodiscard]] int FindFunctionByHash(uint32_t hash);
// The same for a name as written (upper-cased and hashed here).
[[nodiscard]] int FindFunctionByName(std::string_view name);

// Number of slots in use, and the record in a slot (null when the index is
// outside them).
[[nodiscard]] int FunctionCount();
// False while no record has been declared native since the table was last
// freed: a name then names no native function, without a look-up.
[[nodiscard]] bool AnyNativeDeclared();
[[nodiscard]] FunctionRecord* FunctionRecordAt(int index);

// --- declared native functions -------------------------------------------------

// Set by the compiled-file loader while it loads, and by the code generator as
// its mode requires: a declaration then links at once.
extern bool ImmediateLinking;
// Set by the driver while it compiles without running: link failures are not
// reported then.
extern bool CompileOnly;

// Records a native function that a program declares (#DECLARE and its
// variants, compiled files, the code generator, the import built-in) and
// returns its index; both entries stay null until it is linked. Declarations
// stay until shut-down. A name (or name hash) that is already a built-in or
// keyword is refused with a compile error and nothing changes, since the
// declaration would destroy that built-in for every later program of the
// process; a function declared earlier is replaced. -1 when refused, or when
// the table is full (also a compile error).
int DeclareDllFunction(std::string_view name, std::string_view exportName, std::string_view libraryName,
                       uint8_t argumentCount, bool returnsValue, bool wideText, bool sForm);

// The argument count a declaration's number stands for: below 0 (or not a
// number) is 0, above 255 is 255, as a byte holds it.
inline uint8_t DeclaredArgumentCount(double count) {
    if (!(count > 0)) return 0;
    return count >= 255 ? 255 : static_cast<uint8_t>(count);
}

enum class LinkStatus { Linked, LibraryNotFound, ExportNotFound, NotDeclared };

// Loads the record's library (once per name) and resolves its entry: with the
// wide-text flag the export name with "W" appended first (the export name then
// becomes that form), else or then the plain name. A failure is reported as a
// warning ("Library %s not found", "Error linking function %s from library %s")
// unless CompileOnly is set; the record stays, with null entries.
LinkStatus LinkDllFunction(int index);

// Resolves entryName in the library into the record's function entry (when it
// returns a value) or procedure entry. True when it resolved.
bool ResolveDllEntry(void* library, int index, std::string_view entryName);

// A byte of a name as registered: ASCII letters upper-cased, other bytes unchanged.
[[nodiscard]] constexpr char UpperCaseNameByte(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
// The name as registered.
[[nodiscard]] std::string UpperCaseName(std::string_view name);
// HashName of the upper-cased name, without making the upper-cased copy; also
// at compile time, so tables of fixed names can carry their hashes.
[[nodiscard]] constexpr uint32_t HashUpperCaseName(std::string_view name) {
    uint32_t h = 0;
    for (char c : name)
        h = h * 65599u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(UpperCaseNameByte(c))));
    return h & 0x7FFFFFFFu;
}

}  // namespace qob
