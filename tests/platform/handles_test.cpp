// tests/platform/handles_test.cpp
// The handle table: kinds checked on use, no reuse, no collision with blocks.
#include "platform/handles.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/memory.h"

namespace qob::platform {
namespace {

TEST(Handles, LookUpChecksKindAndFreedHandlesStayDead) {
    int window = 0, brush = 0;
    const Handle w = NewHandle(HandleKind::Window, &window);
    const Handle b = NewHandle(HandleKind::Brush, &brush);
    ASSERT_NE(w, 0u);
    ASSERT_NE(b, 0u);
    EXPECT_NE(w, b);
    EXPECT_EQ(HandleObject(w, HandleKind::Window), &window);
    EXPECT_EQ(HandleObject(w, HandleKind::Brush), nullptr);
    EXPECT_EQ(HandleObject(b, HandleKind::Brush), &brush);
    EXPECT_EQ(KindOfHandle(b), HandleKind::Brush);

    FreeHandle(w);
    EXPECT_EQ(HandleObject(w, HandleKind::Window), nullptr);
    EXPECT_EQ(KindOfHandle(w), HandleKind::None);
    FreeHandle(w);  // twice: ignored
    const Handle again = NewHandle(HandleKind::Window, &window);
    EXPECT_NE(again, w);  // never reused
    EXPECT_EQ(HandleObject(w, HandleKind::Window), nullptr);
}

TEST(Handles, NumbersThatAreNoHandlesFailQuietly) {
    int object = 0;
    const Handle h = NewHandle(HandleKind::Font, &object);
    for (uintptr_t number : {uintptr_t{0}, uintptr_t{1}, h + 1, h + 1000, uintptr_t{0x7fffffff}}) {
        EXPECT_EQ(HandleObject(number, HandleKind::Font), nullptr) << number;
        EXPECT_EQ(KindOfHandle(number), HandleKind::None) << number;
        FreeHandle(number);
    }
    EXPECT_EQ(HandleObject(h, HandleKind::Font), &object);
    EXPECT_EQ(HandleObject(h, HandleKind::None), nullptr);
}

TEST(Handles, PositiveAsSigned32BitsAndApartFromLowMemoryBlocks) {
    int object = 0;
    const Handle h = NewHandle(HandleKind::Menu, &object);
    EXPECT_GT(static_cast<int32_t>(static_cast<uint32_t>(h)), 0);
    EXPECT_LT(h, kLowMemoryLimit);
    EXPECT_TRUE(IsHandleNumber(h));
    for (int i = 0; i < 64; ++i) {
        void* block = AllocateBlock(size_t{1} << (i % 20));
        ASSERT_NE(block, nullptr);
        EXPECT_FALSE(IsHandleNumber(reinterpret_cast<uintptr_t>(block)));
        FreeBlock(block);
    }
}

}  // namespace
}  // namespace qob::platform
