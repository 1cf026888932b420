// Signals and console events: writes that fail instead of ending the
// process, and interrupts (SIGINT, SIGTERM, SIGHUP; Ctrl-C or a closed
// console window on Windows) that run a cleanup before the process ends.
#ifndef D88CUT_PLATFORM_INTERRUPTS_H_
#define D88CUT_PLATFORM_INTERRUPTS_H_

#ifndef _WIN32
#include <signal.h>
#endif

namespace d88 {

// Makes a write to a pipe whose reader has gone fail with EPIPE, and one
// past the file-size limit fail with EFBIG, instead of ending the process
// (SIGPIPE, SIGXFSZ), so that a program can finish its work, clean up after
// itself and say what failed. Nothing to do on Windows, where such writes
// only fail.
void ignoreWriteSignals();

// Makes every interrupt the process does not ignore (nohup, a background
// job) call `cleanup`, then end the process as that interrupt would have.
// `cleanup` runs in a signal handler (on Windows, on a thread of its own
// while InterruptsHeld is taken for good): it may make only
// async-signal-safe calls and read only what InterruptsHeld guards.
void runOnInterrupt(void (*cleanup)());

// Holds off the interrupts runOnInterrupt() handles while it lives, in this
// thread: what changes under it is one step as the cleanup sees it. A thread
// started while it lives keeps them held off for good, so that the cleanup
// never runs on it (POSIX: threads inherit the signal mask).
class InterruptsHeld {
 public:
  InterruptsHeld();
  ~InterruptsHeld();
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;

 private:
#ifndef _WIN32
  sigset_t previous_;  // the thread's signal mask before
#endif
};

}  // namespace d88

#endif  // D88CUT_PLATFORM_INTERRUPTS_H_
