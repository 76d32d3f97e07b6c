// builtins/checksums/checksum_builtins.cpp
// The checksum, hash, cipher and soundex built-ins: arguments read, lengths
// held inside the text's block, the routines of runtime/data run.
#include "builtins/checksums/checksum_builtins.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "builtins/operators/operator_values.h"
#include "builtins/texts/text_arguments.h"
#include "platform/memory.h"
#include "runtime/data/cipher.h"
#include "runtime/data/hash.h"
#include "runtime/data/soundex.h"

namespace qob {
namespace {

constexpr std::array<uint32_t, 256> MakeCrc32Table() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}
constexpr std::array<uint32_t, 256> kCrc32Table = MakeCrc32Table();

// The bytes a text argument stands for and how many of them may be read: its
// exact block size when it starts a block, else its length and terminator.
struct ArgumentBytes {
    const char* bytes;
    size_t room;
};

ArgumentBytes ReadArgumentBytes(const StackEntry& argument) {
    if (argument.text && !IsMatrix(argument)) {
        const bool wide = IsWide(argument);
        size_t room = platform::GetBlockSize(argument.text);
        if (room == 0) room = CellTextBytes(argument.text, wide) + (wide ? 2 : 1);
        return {argument.text, room};
    }
    const TextSpan text = ArgumentText(argument, false);
    return {static_cast<const char*>(text.units), text.length + 1};
}

// The first length bytes, cut to what may be read; none for a length below 1.
size_t ClampedCount(int32_t length, size_t room) {
    return length < 1 ? 0 : std::min(static_cast<size_t>(length), room);
}

// Pops (text, length) and pushes checksum(bytes, count).
template <typename Checksum>
void PushChecksum(Checksum checksum) {
    StackEntry lengthArgument = TakeOperand();
    StackEntry textArgument = TakeOperand();
    const ArgumentBytes text = ReadArgumentBytes(textArgument);
    const double result = checksum(text.bytes, ClampedCount(ArgumentInteger(lengthArgument), text.room));
    ReleaseOperand(textArgument);
    ReleaseOperand(lengthArgument);
    PushNumberResult(result);
}

// The units a cipher may change in a block of room bytes: all but the
// terminator unit.
int32_t CipherUnits(size_t room, bool wide) {
    const size_t units = wide ? room / 2 : room;
    return units == 0 ? 0 : static_cast<int32_t>(std::min<size_t>(units - 1, INT32_MAX));
}

// Stores the soundex code into the buffer variable: in place when its block
// holds the code and terminator, else as the variable's new text.
void StoreSoundexCode(const StackEntry& buffer, const char* code, size_t length) {
    VariableRecord* variable = buffer.variable;
    if (!variable) return;
    char* block = const_cast<char*>(buffer.text);
    if (block && !IsWide(buffer) && !IsMatrix(buffer) && platform::GetBlockSize(block) >= length + 1) {
        std::memcpy(block, code, length + 1);
        return;
    }
    StoreText(variable, code, false, nullptr);
}

}  // namespace

uint32_t Crc32NoFinalXor(const void* bytes, size_t count) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < count; ++i) crc = kCrc32Table[(p[i] ^ crc) & 0xFF] ^ (crc >> 8);
    return crc;
}

int32_t Md5TailNumber(const void* bytes, size_t count) {
    Md5Context context;
    Md5Init(context);
    Md5Update(context, bytes, count);
    Md5Final(context);
    const uint32_t tail = (uint32_t{context.digest[12]} << 24) | (uint32_t{context.digest[13]} << 16) |
                          (uint32_t{context.digest[14]} << 8) | uint32_t{context.digest[15]};
    return static_cast<int32_t>(tail);
}

void Builtin_crc16() {
    PushChecksum([](const char* bytes, size_t count) { return static_cast<double>(Crc16(bytes, count) & 0xFFFFu); });
}

void Builtin_crc32() {
    PushChecksum([](const char* bytes, size_t count) { return static_cast<double>(Crc32NoFinalXor(bytes, count)); });
}

void Builtin_hash() {
    StackEntry lengthArgument = TakeOperand();
    StackEntry textArgument = TakeOperand();
    StackEntry methodArgument = TakeOperand();
    const int32_t method = ArgumentInteger(methodArgument);
    const ArgumentBytes text = ReadArgumentBytes(textArgument);
    double result = 0.0;
    if (method == kMd5HashMethod) {
        result = Md5TailNumber(text.bytes, strnlen(text.bytes, text.room));
    } else if (method >= 0 && method < static_cast<int32_t>(std::size(kHashMethods))) {
        result = kHashMethods[method](text.bytes, ClampedCount(ArgumentInteger(lengthArgument), text.room));
    }
    ReleaseOperand(methodArgument);
    ReleaseOperand(textArgument);
    ReleaseOperand(lengthArgument);
    PushNumberResult(result);
}

void Builtin_encrypt() {
    StackEntry decryptArgument = TakeOperand();
    StackEntry keyArgument = TakeOperand();
    StackEntry lengthArgument = TakeOperand();
    StackEntry target = TakeOperand();
    const bool decrypt = OperandNumber(decryptArgument) != 0.0;
    const char* key = static_cast<const char*>(ArgumentText(keyArgument, false).units);
    int32_t length = ArgumentInteger(lengthArgument);
    char* block = const_cast<char*>(target.text);
    if (target.variable && block && !IsMatrix(target)) {
        const bool wide = IsWide(target);
        size_t room = platform::GetBlockSize(block);
        if (room == 0) room = CellTextBytes(block, wide) + (wide ? 2 : 1);
        const int32_t most = CipherUnits(room, wide);
        if (length == -1 || length > most) length = most;
        if (wide) CipherWords(reinterpret_cast<uint16_t*>(block), length, key, decrypt, 0);
        else CipherBytes(block, length, key, decrypt, 0);
    }
    ReleaseOperand(target);
    ReleaseOperand(lengthArgument);
    ReleaseOperand(keyArgument);
    ReleaseOperand(decryptArgument);
}

void Builtin_soundex() {
    StackEntry modeArgument = TakeOperand();
    StackEntry lengthArgument = TakeOperand();
    StackEntry textArgument = TakeOperand();
    StackEntry buffer = TakeOperand();
    char code[kSoundexBufferSize] = {};
    Soundex(code, static_cast<const char*>(ArgumentText(textArgument, false).units),
            ArgumentInteger(lengthArgument), ArgumentInteger(modeArgument));
    const size_t length = std::strlen(code);
    StoreSoundexCode(buffer, code, length);
    ReleaseOperand(buffer);
    ReleaseOperand(textArgument);
    ReleaseOperand(lengthArgument);
    ReleaseOperand(modeArgument);
    PushNumberResult(static_cast<double>(length));
}

}  // namespace qob
