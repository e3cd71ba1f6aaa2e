/* Preloaded into the emulated i386 Wine (scripts/wine32.sh): gives Wine's
 * SIGSEGV handler the trap number that qemu-user leaves out.
 *
 * qemu-i386 (Debian 12's 7.2) writes -1 as the trap number of every signal
 * frame it makes. Wine's i386 handler tells a page fault (trap 14) from other
 * faults by that number, so with -1 it takes each fault for an illegal
 * instruction ("Got unexpected trap -1"): a thread stack that grows into its
 * guard page, or a fault inside Wine's own guarded code, then ends the
 * program. The wrapper sets 14 for faults at an address (SEGV_MAPERR,
 * SEGV_ACCERR; qemu's error code already says read or write) and 13 (general
 * protection) for the others, then calls Wine's handler.
 *
 * Built freestanding (gcc -m32 -nostdlib): no 32-bit C library headers are
 * needed. The layouts are those of the i386 Linux ABI. */

typedef void (*handler_t)(int, void *, void *);

struct i386_sigaction {
  handler_t handler;
  unsigned long mask[32];
  int flags;
  void (*restorer)(void);
};

enum {
  kSigSegv = 11,
  kSaSigInfo = 4,
  kSiCodeIndex = 2,        /* si_code: the third int of siginfo_t */
  kGregsOffset = 20,       /* uc_flags, uc_link, uc_stack (12 bytes), then gregs */
  kRegTrapNo = 12,
  kTrapPageFault = 14,
  kTrapProtection = 13,
  kSegvMapErr = 1,
  kSegvAccErr = 2
};

extern void *dlsym(void *handle, const char *name);
#define RTLD_NEXT ((void *)-1l)

static handler_t wine_segv_handler;

static void segv_with_trap(int sig, void *info, void *context) {
  int code = ((int *)info)[kSiCodeIndex];
  int *gregs = (int *)((char *)context + kGregsOffset);
  if (gregs[kRegTrapNo] == -1)
    gregs[kRegTrapNo] = (code == kSegvMapErr || code == kSegvAccErr) ? kTrapPageFault : kTrapProtection;
  wine_segv_handler(sig, info, context);
}

int sigaction(int sig, const struct i386_sigaction *act, struct i386_sigaction *old) {
  int (*next)(int, const struct i386_sigaction *, struct i386_sigaction *) =
      (int (*)(int, const struct i386_sigaction *, struct i386_sigaction *))dlsym(RTLD_NEXT, "sigaction");
  if (sig == kSigSegv && act && (act->flags & kSaSigInfo) && act->handler != segv_with_trap) {
    struct i386_sigaction wrapped = *act;
    wine_segv_handler = act->handler;
    wrapped.handler = segv_with_trap;
    return next(sig, &wrapped, old);
  }
  return next(sig, act, old);
}
