// tests/platform/huge_pages_test.cpp
// Faulting fresh memory in on a helper thread: how far it goes, and that it
// never changes what the owner writes meanwhile.

#include "platform/huge_pages.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace qob::platform {
namespace {

constexpr size_t kPage = 4096;

// A fresh anonymous stretch in small pages, so that residence is told page by page.
class Stretch {
public:
    explicit Stretch(size_t length) : length(length) {
        void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        bytes = p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
        if (bytes) madvise(bytes, length, MADV_NOHUGEPAGE);
    }
    ~Stretch() {
        if (bytes) munmap(bytes, length);
    }
    // Which of the pages are present.
    std::vector<bool> Resident() const {
        std::vector<unsigned char> pages(length / kPage);
        std::vector<bool> resident(pages.size());
        if (mincore(bytes, length, pages.data()) == 0)
            for (size_t i = 0; i < pages.size(); ++i) resident[i] = pages[i] & 1;
        return resident;
    }

    const size_t length;
    uint8_t* bytes = nullptr;
};

TEST(BackgroundPrefault, FaultsInWhatIsAllowedAndNoFurther) {
    Stretch stretch(8 << 20);
    ASSERT_NE(stretch.bytes, nullptr);
    const size_t allowedPages = 3 * 256;  // 3 MiB
    BackgroundPrefault prefault(stretch.bytes, stretch.length);
    if (!prefault.Running()) GTEST_SKIP() << "no helper thread on this system";
    // Part of a page is not allowed: the page is left alone.
    prefault.Allow(allowedPages * kPage + 100);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    auto present = [&] {
        const std::vector<bool> resident = stretch.Resident();
        size_t count = 0;
        for (size_t i = 0; i < allowedPages; ++i) count += resident[i];
        return count;
    };
    while (present() < allowedPages && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(present(), allowedPages);
    // Time for a helper that went too far to show it.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    prefault.Stop();
    EXPECT_FALSE(prefault.Running());
    const std::vector<bool> resident = stretch.Resident();
    for (size_t i = allowedPages; i < resident.size(); ++i) ASSERT_FALSE(resident[i]) << "page " << i;
    // The pages faulted in read as zero.
    for (size_t i = 0; i < allowedPages * kPage; i += 512) ASSERT_EQ(stretch.bytes[i], 0) << i;
}

TEST(BackgroundPrefault, LeavesWhatTheOwnerWritesMeanwhile) {
    Stretch stretch(32 << 20);
    ASSERT_NE(stretch.bytes, nullptr);
    {
        BackgroundPrefault prefault(stretch.bytes, stretch.length);
        prefault.Allow(stretch.length);
        // The owner fills the stretch from the end, towards the helper.
        for (size_t at = stretch.length; at >= 64; at -= 64) stretch.bytes[at - 64] = static_cast<uint8_t>(at / 64 | 1);
    }  // the helper is stopped and waited for here
    for (size_t at = 0; at < stretch.length; ++at) {
        const uint8_t expected = at % 64 == 0 ? static_cast<uint8_t>((at + 64) / 64 | 1) : 0;
        ASSERT_EQ(stretch.bytes[at], expected) << at;
    }
}

TEST(BackgroundPrefault, NothingStartsForNoMemory) {
    BackgroundPrefault none(nullptr, 1 << 20);
    EXPECT_FALSE(none.Running());
    alignas(4096) static uint8_t page[4096];
    BackgroundPrefault empty(page, 0);
    EXPECT_FALSE(empty.Running());
    none.Stop();
    empty.Allow(4096);
}

}  // namespace
}  // namespace qob::platform
