// tests/runtime/data/interned_names_test.cpp
// Interned source-file names: one lower-case text per name, the caller's
// text untouched.
#include "runtime/data/interned_names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/memory.h"

namespace qob {
namespace {

class InternedNamesTest : public ::testing::Test {
protected:
    void TearDown() override { FreeInternedNames(); }
};

TEST_F(InternedNamesTest, SpellingsOfOneNameShareOneLowerCaseText) {
    char name[] = "Main.QOB";
    const char* first = InternName(name);
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, "main.qob");
    EXPECT_STREQ(name, "Main.QOB") << "the argument stays as it was";
    EXPECT_NE(first, name);
    EXPECT_EQ(InternName("main.qob"), first);
    EXPECT_EQ(InternName("MAIN.QOB"), first);
    EXPECT_EQ(platform::GetBlockSize(first), std::strlen("main.qob") + 1) << "a block programs can be given";
}

// Names that do not fit the lowering buffer on the stack take a block.
TEST_F(InternedNamesTest, LongNamesAreInternedLikeShortOnes) {
    for (size_t length : {size_t{254}, size_t{255}, size_t{256}, size_t{1000}}) {
        const std::string upper(length, 'N');
        const char* interned = InternName(upper.c_str());
        ASSERT_NE(interned, nullptr) << length;
        EXPECT_EQ(std::string(interned), std::string(length, 'n')) << length;
        EXPECT_EQ(InternName(std::string(length, 'n').c_str()), interned) << length;
    }
}

TEST_F(InternedNamesTest, ReadOnlyNamesAndPathsAreAccepted) {
    // A literal lives in read-only memory: writing to it would fault.
    const char* path = InternName("\\Storage Card\\QOB\\Lib\\Util.QOB");
    EXPECT_STREQ(path, "\\storage card\\qob\\lib\\util.qob");
    EXPECT_STREQ(InternName("\xC3\x84NDERN.qob"), "\xC3\x84ndern.qob") << "bytes above 127 are kept";
}

TEST_F(InternedNamesTest, DifferentNamesGetDifferentTexts) {
    const char* a = InternName("a.qob");
    const char* b = InternName("b.qob");
    const char* empty = InternName("");
    EXPECT_NE(a, b);
    EXPECT_STREQ(a, "a.qob");
    EXPECT_STREQ(b, "b.qob");
    EXPECT_STREQ(empty, "");
    EXPECT_EQ(InternName(""), empty);
    EXPECT_EQ(InternName(nullptr), nullptr);
}

// The two names below have the same HashName: the table keeps names apart
// by hash alone, so the second shares the first one's text.
TEST_F(InternedNamesTest, NamesWithOneHashShareTheFirstText) {
    const char* first = InternName("yoaqqfovsq.qob");
    EXPECT_EQ(InternName("QRQFSDALES.QOB"), first);
    EXPECT_STREQ(first, "yoaqqfovsq.qob");
}

TEST_F(InternedNamesTest, FreeingReleasesEveryText) {
    const char* old = InternName("gone.qob");
    FreeInternedNames();
    EXPECT_EQ(platform::GetBlockSize(old), 0u);
    const char* again = InternName("Gone.qob");
    EXPECT_STREQ(again, "gone.qob");
    EXPECT_GT(platform::GetBlockSize(again), 0u);
}

TEST_F(InternedNamesTest, ThreadsInterningTogetherGetOneText) {
    constexpr int kThreads = 4;
    std::vector<std::vector<const char*>> seen(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &seen] {
            for (int i = 0; i < 200; ++i) seen[t].push_back(InternName(("File" + std::to_string(i) + ".QOB").c_str()));
        });
    for (auto& thread : threads) thread.join();
    for (int t = 1; t < kThreads; ++t) EXPECT_EQ(seen[t], seen[0]);
}

}  // namespace
}  // namespace qob
