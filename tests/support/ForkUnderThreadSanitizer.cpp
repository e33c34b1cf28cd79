// Linked into the tests of the ThreadSanitizer tree only. Qt starts a process with vfork
// semantics (clone with CLONE_VM | CLONE_VFORK): until it runs the program, the child
// works in the parent's memory and with the parent thread's sanitizer state, and what the
// sanitizer's wrappers record there leaves the parent blind to its own locks afterwards
// (a mutex handed between two threads is then reported as a race). This clone makes such
// a child a copy instead, as fork does; Qt reads the child's start-up errors from a pipe
// either way. Threads do not come through here: glibc makes them with clone3.
#include <cstdarg>
#include <dlfcn.h>
#include <linux/sched.h> // the flags only: glibc's <sched.h> declares clone by other names
#include <sys/types.h>

extern "C" int clone(int (*function)(void*), void* stack, int flags, void* argument, ...) {
    va_list rest;
    va_start(rest, argument);
    auto* parentTid = va_arg(rest, pid_t*);
    void* tls = va_arg(rest, void*);
    auto* childTid = va_arg(rest, pid_t*);
    va_end(rest);
    using Clone = int (*)(int (*)(void*), void*, int, void*, ...);
    static const auto real = reinterpret_cast<Clone>(dlsym(RTLD_NEXT, "clone"));
    if ((flags & CLONE_VM) && (flags & CLONE_VFORK) && !(flags & CLONE_THREAD))
        flags &= ~(CLONE_VM | CLONE_VFORK);
    return real(function, stack, flags, argument, parentTid, tls, childTid);
}
