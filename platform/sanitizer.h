// platform/sanitizer.h
// Marks memory that our own allocators hand out or take back, so that the
// address sanitizer (when the build has it) sees a use outside a live block.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define QOB_POISON(address, size) ASAN_POISON_MEMORY_REGION(address, size)
#define QOB_UNPOISON(address, size) ASAN_UNPOISON_MEMORY_REGION(address, size)
#else
#define QOB_POISON(address, size) ((void)(address), (void)(size))
#define QOB_UNPOISON(address, size) ((void)(address), (void)(size))
#endif
