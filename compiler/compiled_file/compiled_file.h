// compiler/compiled_file/compiled_file.h
// Compiled program files (".qoc"): an instruction list written as one record
// per node, coded and enciphered, and rebuilt into a program context on load.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace qob {

struct Instruction;
struct Pool;
struct ProcedureRecord;
struct ProgramContext;

// The image starts with six bytes: version major, minor and release of the
// writing runtime, the feature level, the platform (1 device, 0 desktop) and
// the format version.
constexpr size_t kCompiledHeaderSize = 6;
constexpr uint8_t kCompiledFeatureLevel = 2;
constexpr uint8_t kCompiledFormatVersion = 3;

// Record flags: a record is the flags (16 bits), the opcode (8 bits), then
// the fields the flags announce, in the order of this list (little-endian,
// unaligned).
constexpr uint16_t kRecordNumber = 0x0001;      // 8: number operand (absent: 0.0)
constexpr uint16_t kRecordText = 0x0010;        // 4 + n-1: n = length + 1, then the characters
constexpr uint16_t kRecordSecondText = 0x0100;  // 4 + n-1: the second text of a two-operand push
constexpr uint16_t kRecordLinkValue = 0x0200;   // 8: built-in or native-function name hash (a double), or constant bytes
constexpr uint16_t kRecordFusedStep = 0x0040;   // 1: opcode of the step fused into the node
constexpr uint16_t kRecordExtraWord = 0x1000;   // 4: the node's extra word
constexpr uint16_t kRecordFlagByte = 0x2000;    // 1: the side record's flag byte
constexpr uint16_t kRecordNamespace = 0x0004;   // 4: the side record's namespace word
constexpr uint16_t kRecordTarget = 0x0002;      // 4: identity of the jump target
constexpr uint16_t kRecordIdentity = 0x0020;    // 4: the node's own identity (it is a jump target)
// A SELFCALL node that binds the current object (an inherited call or a base
// initialiser) runs CallOwnMethod, not the opcode's handler. No field follows.
constexpr uint16_t kRecordOwnMethodCall = 0x0400;

enum class SaveStatus {
    Saved,
    CannotWrite,       // the file could not be written (nothing was)
    Unrepresentable,   // a node the format cannot carry: no file, an old one is deleted
    CompressionFailed  // the coder gave up: no file, an old one is deleted
};

// Writes the list from firstInstruction to fileName. Native-function
// declarations (a declaration node and the six data nodes after it) are
// written, then deleted from the list through pool: the program never runs
// them. Any other outcome than Saved leaves no file of that name.
SaveStatus SaveCompiledProgram(const char* fileName, Instruction* firstInstruction, Pool* pool);

// The nodes of a list just made, in list order, from whoever made it: the
// next SaveCompiledProgram of that list reads them from here, fetching ahead,
// instead of following the links one node at a time. It checks that they are
// the list's nodes, link by link, and follows the links when they are not.
void RememberListOrder(std::vector<Instruction*> nodes);

// Writes the coded file in one piece (a reader sees the old file or the new
// one). Without a coded file (the coder gave up) it writes nothing and
// deletes an old file of that name, which no longer matches the source.
SaveStatus WriteCompiledFile(const char* fileName, const std::optional<std::vector<uint8_t>>& codedFile);

// Rebuilds the saved list in the context (its pool), declares and links the
// native functions, adds the class records to the context's list and the
// procedure records to the table, links jumps and calls, and sets the
// context's entry (MAIN, else WINMAIN, else the first node when no procedure
// exists). Returns the first node, or null when the file cannot be read or is
// refused (damaged, of another format): nothing is left built then.
[[nodiscard]] Instruction* LoadCompiledProgram(const char* fileName, ProgramContext* context,
                                               ProcedureRecord** procedureTable, int32_t& procedureCount,
                                               bool& isWinMain);
// The same for the file's bytes held in memory (a program carried inside the
// executable); name is what messages call it.
[[nodiscard]] Instruction* LoadCompiledImage(std::span<const uint8_t> fileBytes, const char* name,
                                             ProgramContext* context, ProcedureRecord** procedureTable,
                                             int32_t& procedureCount, bool& isWinMain);

// Whether the compiled file may be run instead of the source: always for a
// source name that is itself a compiled-file name; else both must exist, the
// source must not be newer than the compiled file, the running executable
// must be older than it, and its version must not be older than the
// runtime's, in format 3. The decoded image is kept for the load that follows.
[[nodiscard]] bool IsCompiledFileCurrent(const char* sourceName, const char* compiledName);

// The coding of the whole file: the image compressed, its length appended,
// all enciphered. Encoding fails when the coder does; decoding fails on a
// file too short, a length that cannot be, or bits that do not decode.
[[nodiscard]] std::optional<std::vector<uint8_t>> EncodeCompiledImage(std::span<const uint8_t> image);
[[nodiscard]] std::optional<std::vector<uint8_t>> DecodeCompiledImage(std::span<const uint8_t> fileBytes);

}  // namespace qob
