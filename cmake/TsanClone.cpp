// Linked into every program of the thread-sanitizer build only.
//
// QProcess starts programs with clone(CLONE_VM | CLONE_VFORK): until it calls exec, the child
// runs in the parent's memory with the parent's thread-local state. The sanitizer takes every
// clone for a fork and sets the child up as one (ignores on, descriptors forgotten), in that
// shared state: the parent's thread then ignores its own locks for good, and every later
// hand-over it makes is reported as a race. Such a clone goes straight to the C library here.
#include <dlfcn.h>
#include <sched.h>
#include <sys/types.h>

#include <cstdarg>

extern "C" int clone(int (*fn)(void*), void* stack, int flags, void* arg, ...) {
    va_list more;
    va_start(more, arg);
    auto* parentTid = va_arg(more, pid_t*);
    void* tls = va_arg(more, void*);
    auto* childTid = va_arg(more, pid_t*);
    va_end(more);
    using Clone = int (*)(int (*)(void*), void*, int, void*, ...);
    static const auto library =
        reinterpret_cast<Clone>(dlsym(dlopen("libc.so.6", RTLD_NOW | RTLD_NOLOAD), "clone"));
    static const auto sanitizer = reinterpret_cast<Clone>(dlsym(RTLD_NEXT, "clone"));
    const Clone real = (flags & CLONE_VM) != 0 ? library : sanitizer;
    return real(fn, stack, flags, arg, parentTid, tls, childTid);
}
