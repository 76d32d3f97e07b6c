// platform/huge_pages.h
// Asking the kernel to back large memory of our own with huge pages: one
// fault per 2 MiB instead of one per 4 KiB page.
#pragma once

#include <cstddef>

namespace qob::platform {

// The size of a huge page, and so the alignment of the stretches advised.
constexpr size_t kHugePageSize = size_t{2} << 20;

// Advises the whole huge pages that lie inside [start, start + length); the
// edges stay in small pages. Memory already touched keeps what it has. A
// kernel without the feature ignores the advice: nothing fails either way.
void AdviseHugePages(void* start, size_t length);

// Maps length bytes (a multiple of kHugePageSize) of zeroed memory that starts
// on a huge page and is advised for huge pages: for stretches that are filled
// soon after they are made. Null when the system gives no memory. Anywhere in
// the address space: not for memory a script can see.
void* MapHugePageStretch(size_t length);
// Gives back a stretch MapHugePageStretch made, with the same length.
void UnmapHugePageStretch(void* start, size_t length);

// Faults a stretch of fresh memory in on a helper thread while the caller
// goes on with other work: the kernel zeroes each fresh page at its first
// touch, and for a large stretch filled soon after it is made that zeroing
// costs about as much as the filling. The helper makes the pages present
// front to back, no further than the caller has allowed so far, and never
// changes a byte, so the caller may write anywhere in the stretch meanwhile.
// The helper calls no library function and takes no lock. Where it cannot
// run (another processor or system, or clone refused) nothing happens.
class BackgroundPrefault {
public:
    // [start, start + length): memory of the caller's own that stays mapped
    // at least as long as this object.
    BackgroundPrefault(void* start, size_t length);
    ~BackgroundPrefault();  // Stop
    BackgroundPrefault(const BackgroundPrefault&) = delete;
    BackgroundPrefault& operator=(const BackgroundPrefault&) = delete;

    // Pages below start + bytes may be faulted in now (it only grows).
    void Allow(size_t bytes);
    // Ends the helper (it finishes the step it is in) and waits for it.
    void Stop();
    // Whether a helper was started.
    bool Running() const { return job != nullptr; }

    struct Job;

private:
    Job* job = nullptr;
};

// Sets the C heap up for a compiler's work: large blocks come from the heap
// and go back to it instead of being mapped and unmapped one by one (each
// mapping faults in every page again), the heap grows in large steps, and the
// stretch it grows by first is advised for huge pages. Called once, first
// thing in the executable; a sanitizer's heap is left as it is.
void PrepareCHeap();

}  // namespace qob::platform
