#pragma once

// Hand-overs between threads that go through libraries built without the thread checker
// (Qt's event queue, GLib's main loop): the lock that orders them is invisible to it. In a
// checked build these calls state the same order where it can see it; otherwise they are
// nothing.
#if defined(__SANITIZE_THREAD__)
#define DORMANE_THREAD_CHECKER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define DORMANE_THREAD_CHECKER 1
#endif
#endif

#ifdef DORMANE_THREAD_CHECKER
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace dormane {

// Called by the thread that hands the object over, after its last write before the hand-over.
inline void HandOver([[maybe_unused]] const void* object) {
#ifdef DORMANE_THREAD_CHECKER
    __tsan_release(const_cast<void*>(object));
#endif
}

// Called by the thread that takes it, before its first read.
inline void TakeOver([[maybe_unused]] const void* object) {
#ifdef DORMANE_THREAD_CHECKER
    __tsan_acquire(const_cast<void*>(object));
#endif
}

} // namespace dormane
