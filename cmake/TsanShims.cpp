// Linked into every program of the thread-sanitizer build only: two calls kept away from the
// sanitizer's own wrappers, where those wrappers go wrong.
//
// QProcess starts programs with clone(CLONE_VM | CLONE_VFORK): until it calls exec, the child
// runs in the parent's memory with the parent's thread-local state. The sanitizer takes every
// clone for a fork and sets the child up as one (ignores on, descriptors forgotten), in that
// shared state: the parent's thread then ignores its own locks for good, and every later
// hand-over it makes is reported as a race. Such a clone goes straight to the C library here.
#include <dlfcn.h>
#include <sched.h>
#include <sys/select.h>
#include <sys/types.h>
#include <time.h>

#include <cstdarg>

namespace {

void* CLibrary() {
    static void* const library = dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD);
    return library;
}

}  // namespace

extern "C" int clone(int (*fn)(void*), void* stack, int flags, void* arg, ...) {
    va_list more;
    va_start(more, arg);
    auto* parentTid = va_arg(more, pid_t*);
    void* tls = va_arg(more, void*);
    auto* childTid = va_arg(more, pid_t*);
    va_end(more);
    using Clone = int (*)(int (*)(void*), void*, int, void*, ...);
    static const auto library = reinterpret_cast<Clone>(dlsym(CLibrary(), "clone"));
    static const auto sanitizer = reinterpret_cast<Clone>(dlsym(RTLD_NEXT, "clone"));
    const Clone real = (flags & CLONE_VM) != 0 ? library : sanitizer;
    return real(fn, stack, flags, arg, parentTid, tls, childTid);
}

// libmosquitto's loop thread waits in pselect, or in nanosleep between two tries, and a stop
// while no broker answers cancels it there (mosquitto_loop_stop with force). The sanitizer's
// wrappers, called from a library not built with it, turn its checks off for the call and, the
// thread being cancelled inside, never turn them on again: it then stops the whole program as
// the thread ends. Both waits go straight to the C library here (a sleep only adds a hint to
// the sanitizer's reports).
extern "C" int pselect(int count, fd_set* reading, fd_set* writing, fd_set* failing,
                       const struct timespec* timeout, const sigset_t* mask) {
    using Pselect =
        int (*)(int, fd_set*, fd_set*, fd_set*, const struct timespec*, const sigset_t*);
    static const auto library = reinterpret_cast<Pselect>(dlsym(CLibrary(), "pselect"));
    return library(count, reading, writing, failing, timeout, mask);
}

extern "C" int nanosleep(const struct timespec* duration, struct timespec* left) {
    using Nanosleep = int (*)(const struct timespec*, struct timespec*);
    static const auto library = reinterpret_cast<Nanosleep>(dlsym(CLibrary(), "nanosleep"));
    return library(duration, left);
}
