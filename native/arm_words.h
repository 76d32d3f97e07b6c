// native/arm_words.h
// The ARM (ARMv4, ARM state) instruction words the assembler emits, built
// from their fields; register numbers are ARM's (r12 is sf, r13 sp).
#pragma once

#include <cstdint>
#include <optional>

namespace qob {

constexpr uint32_t kArmR8 = 8, kArmR9 = 9, kArmR10 = 10, kArmR11 = 11, kArmSf = 12, kArmSp = 13;
constexpr uint32_t kArmAlways = 0xE0000000u;

// Branch conditions as the jmp/jsr families name them.
enum class ArmCondition : uint32_t { Always = 0xE, Equal = 0x0, NotEqual = 0x1, GreaterEqual = 0xA,
                                     Greater = 0xC, LessEqual = 0xD, Less = 0xB };

// Data-processing operations of the arithmetic statements.
enum class ArmOperation : uint32_t { And = 0x0, Eor = 0x1, Sub = 0x2, Add = 0x4, Cmp = 0xA, Orr = 0xC,
                                     Mov = 0xD, Mvn = 0xF };

// The 12-bit operand field (rotation in bits 8-11, byte in 0-7) of value:
// values below 256 as they are; otherwise the smallest of the value rotated
// right by 2, 4, ... 30 bits (the first rotation reaching it wins a tie),
// when it fits a byte. nullopt when the value needs the pool.
[[nodiscard]] constexpr std::optional<uint32_t> EncodeRotatedImmediate(uint32_t value) {
    if (value < 256) return value;
    uint32_t best = value;
    uint32_t bestStep = 0;
    for (uint32_t step = 1; step <= 15; ++step) {
        const uint32_t shift = 2 * step;
        const uint32_t rotated = (value >> shift) | (value << (32 - shift));
        if (rotated < best) {
            best = rotated;
            bestStep = step;
        }
    }
    if (best > 255) return std::nullopt;
    // Rotating the byte right by 2 x (16 - step) gives the value back.
    return ((16 - bestStep) & 0xF) << 8 | best;
}

// op d, n, m (register operand; cmp has no destination).
[[nodiscard]] constexpr uint32_t ArmDataRegister(ArmOperation op, uint32_t d, uint32_t n, uint32_t m) {
    const uint32_t setFlags = op == ArmOperation::Cmp ? 1u : 0u;
    return kArmAlways | static_cast<uint32_t>(op) << 21 | setFlags << 20 | n << 16 | d << 12 | m;
}
// op d, n, #field (field from EncodeRotatedImmediate).
[[nodiscard]] constexpr uint32_t ArmDataImmediate(ArmOperation op, uint32_t d, uint32_t n, uint32_t field) {
    const uint32_t setFlags = op == ArmOperation::Cmp ? 1u : 0u;
    return kArmAlways | 1u << 25 | static_cast<uint32_t>(op) << 21 | setFlags << 20 | n << 16 | d << 12 | field;
}
[[nodiscard]] constexpr uint32_t ArmMovRegister(uint32_t d, uint32_t m) { return ArmDataRegister(ArmOperation::Mov, d, 0, m); }
[[nodiscard]] constexpr uint32_t ArmMovImmediate(uint32_t d, uint32_t field) {
    return ArmDataImmediate(ArmOperation::Mov, d, 0, field);
}
// mvn d, d: the bitwise complement in place.
[[nodiscard]] constexpr uint32_t ArmMvnSelf(uint32_t d) { return ArmDataRegister(ArmOperation::Mvn, d, 0, d); }
// mul d, m, s.
[[nodiscard]] constexpr uint32_t ArmMul(uint32_t d, uint32_t m, uint32_t s) {
    return kArmAlways | d << 16 | s << 8 | 0x90u | m;
}
// swp d, m, [n].
[[nodiscard]] constexpr uint32_t ArmSwp(uint32_t d, uint32_t m, uint32_t n) {
    return kArmAlways | 0x01000090u | n << 16 | d << 12 | m;
}

// Access sizes of loads and stores.
enum class ArmSize : uint8_t { Word, Byte, Half };

// The largest displacement magnitude a load or store of that size holds.
[[nodiscard]] constexpr uint32_t ArmMaxDisplacement(ArmSize size) { return size == ArmSize::Half ? 255 : 4095; }

// ldr/ldrb/ldrh (load) or str/strb/strh d, [n, #displacement]; the
// magnitude must not exceed ArmMaxDisplacement. A displacement of 0 uses the
// subtracting form, as every positive one the adding form.
[[nodiscard]] constexpr uint32_t ArmTransfer(bool load, ArmSize size, uint32_t d, uint32_t n, int32_t displacement) {
    const uint32_t up = displacement > 0 ? 1u : 0u;
    const uint32_t magnitude = displacement < 0 ? 0u - static_cast<uint32_t>(displacement) : static_cast<uint32_t>(displacement);
    const uint32_t l = load ? 1u : 0u;
    if (size == ArmSize::Half)
        return kArmAlways | 0x014000B0u | up << 23 | l << 20 | n << 16 | d << 12 | (magnitude & 0xF0) << 4 |
               (magnitude & 0xF);
    const uint32_t byte = size == ArmSize::Byte ? 1u : 0u;
    return kArmAlways | 0x05000000u | up << 23 | byte << 22 | l << 20 | n << 16 | d << 12 | magnitude;
}
// ldr d, [r11, #offset]: a load from the value pool (offset 0 until laid out).
[[nodiscard]] constexpr uint32_t ArmPoolLoad(uint32_t d, uint32_t offset) { return 0xE59B0000u | d << 12 | offset; }

// stmfd sp!, {list} and ldmfd sp!, {list}.
[[nodiscard]] constexpr uint32_t ArmPushList(uint32_t list) { return 0xE92D0000u | list; }
[[nodiscard]] constexpr uint32_t ArmPopList(uint32_t list) { return 0xE8BD0000u | list; }
// ldr sp, [sp]: pop into sp, which a load-multiple cannot do with write-back.
constexpr uint32_t kArmPopSp = 0xE59DD000u;

// b/bl with condition and a word offset relative to the branch + 8.
[[nodiscard]] constexpr uint32_t ArmBranch(ArmCondition condition, bool link, int32_t wordOffset) {
    return static_cast<uint32_t>(condition) << 28 | 0x0A000000u | (link ? 1u : 0u) << 24 |
           (static_cast<uint32_t>(wordOffset) & 0xFFFFFFu);
}

// Fixed sequences.
constexpr uint32_t kArmEntrySave = 0xE92D5FFFu;      // stmfd sp!, {r0-r12, lr}
constexpr uint32_t kArmFrameFromSp = 0xE1A0C00Du;    // mov r12, sp
constexpr uint32_t kArmFunctionSave = 0xE92D5000u;   // stmfd sp!, {r12, lr}
constexpr uint32_t kArmSpFromFrame = 0xE1A0D00Cu;    // mov sp, r12
constexpr uint32_t kArmFunctionReturn = 0xE8BD9000u; // ldmfd sp!, {r12, pc}
constexpr uint32_t kArmEntryReturn = 0xE8BD9FFFu;    // ldmfd sp!, {r0-r12, pc}
constexpr uint32_t kArmLinkFromPc = 0xE1A0E00Fu;     // mov lr, pc
constexpr uint32_t kArmSaveR11R12 = 0xE92D1800u;     // stmfd sp!, {r11, r12}
constexpr uint32_t kArmLoadR11R12 = 0xE8BD1800u;     // ldmfd sp!, {r11, r12}
constexpr uint32_t kArmFlagsToR4 = 0xE10F4000u;      // mrs r4, cpsr
constexpr uint32_t kArmFlagsFromR4 = 0xE129F004u;    // msr cpsr_fc, r4
constexpr uint32_t kArmSaveList = 0x181Fu;           // {r0-r4, r11, r12}
constexpr uint32_t kArmSaveListKeepR0 = 0x181Eu;     // {r1-r4, r11, r12}: r0 carries a result out

}  // namespace qob
