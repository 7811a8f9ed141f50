// Linked into the test programs of a ThreadSanitizer build only.
//
// QProcess starts a program with clone(CLONE_VM | CLONE_VFORK): the child
// borrows the parent's memory, and with it ThreadSanitizer's state of the
// thread that started it. ThreadSanitizer's clone interceptor then does its
// child-side fork bookkeeping in that shared memory, which marks the whole
// test program as "forked while multi-threaded" and stops checking the
// starting thread; the next thread started kills the program.
//
// This definition comes before ThreadSanitizer's in symbol lookup and turns
// such a clone into a plain fork, as ThreadSanitizer itself does with vfork():
// the child gets a copy of memory, the bookkeeping happens in the copy, and
// the parent goes on being checked. Qt's child only execs or reports a
// failure through a pipe, so it needs no shared memory.
#include <linux/sched.h>

extern "C" int __interceptor_clone(int (*fn)(void *), void *stack, int flags, void *arg, int *parentTid, void *tls,
                                   int *childTid);

extern "C" int clone(int (*fn)(void *), void *stack, int flags, void *arg, int *parentTid, void *tls, int *childTid)
{
    if ((flags & CLONE_VM) && (flags & CLONE_VFORK))
        flags &= ~(CLONE_VM | CLONE_VFORK);
    return __interceptor_clone(fn, stack, flags, arg, parentTid, tls, childTid);
}
