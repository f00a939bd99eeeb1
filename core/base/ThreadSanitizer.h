#pragma once

// libtbb is not built with ThreadSanitizer, so it cannot see how a parallel_pipeline orders its stages: an
// item passes from one stage to the next, a serial stage runs once at a time, the pipeline ends after its
// last stage. HandOver and TakeOver tell it (a release and an acquire on an address), and cost nothing in
// any other build.

#if defined(__SANITIZE_THREAD__)
#define BRASKO_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define BRASKO_UNDER_TSAN 1
#endif
#endif
#ifdef BRASKO_UNDER_TSAN
extern "C" void __tsan_acquire(void* pAddress); // NOLINT(bugprone-reserved-identifier)
extern "C" void __tsan_release(void* pAddress); // NOLINT(bugprone-reserved-identifier)
#endif

namespace brasko {

inline void HandOver([[maybe_unused]] void* pAddress)
{
#ifdef BRASKO_UNDER_TSAN
    __tsan_release(pAddress);
#endif
}

inline void TakeOver([[maybe_unused]] void* pAddress)
{
#ifdef BRASKO_UNDER_TSAN
    __tsan_acquire(pAddress);
#endif
}

} // namespace brasko
