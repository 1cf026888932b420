#include "interrupts.h"

#include <csignal>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif

namespace d88 {
namespace {

// The cleanup runOnInterrupt() installed; set before any handler can run.
void (*volatile interruptCleanup)() = nullptr;

#ifdef _WIN32
// Held while what the cleanup reads changes; the console handler takes it
// and never gives it back, as the process is ending.
SRWLOCK interruptLock = SRWLOCK_INIT;

BOOL WINAPI onConsoleInterrupt(DWORD) {
  AcquireSRWLockExclusive(&interruptLock);
  if (interruptCleanup != nullptr) interruptCleanup();
  return FALSE;  // on to the default handler, which ends the process
}
#else
// The signals that run the cleanup before they end the process.
constexpr int kInterruptSignals[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t interruptSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signalNumber : kInterruptSignals) sigaddset(&set, signalNumber);
  return set;
}

// Only async-signal-safe calls: the cleanup, signal, raise.
void onInterruptSignal(int signalNumber) {
  if (interruptCleanup != nullptr) interruptCleanup();
  signal(signalNumber, SIG_DFL);
  // Held until the handler returns; then it ends the process as usual.
  raise(signalNumber);
}
#endif

}  // namespace

void ignoreWriteSignals() {
#ifndef _WIN32
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

void runOnInterrupt(void (*cleanup)()) {
  interruptCleanup = cleanup;
#ifdef _WIN32
  SetConsoleCtrlHandler(onConsoleInterrupt, TRUE);
#else
  for (int signalNumber : kInterruptSignals) {
    struct sigaction previous {};
    // A signal the caller ignores (nohup, a background job) stays ignored.
    if (sigaction(signalNumber, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) {
      continue;
    }
    struct sigaction action {};
    action.sa_handler = onInterruptSignal;
    action.sa_mask = interruptSignals();
    sigaction(signalNumber, &action, nullptr);
  }
#endif
}

#ifdef _WIN32
InterruptsHeld::InterruptsHeld() { AcquireSRWLockExclusive(&interruptLock); }
InterruptsHeld::~InterruptsHeld() { ReleaseSRWLockExclusive(&interruptLock); }
#else
InterruptsHeld::InterruptsHeld() {
  const sigset_t held = interruptSignals();
  pthread_sigmask(SIG_BLOCK, &held, &previous_);
}
InterruptsHeld::~InterruptsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
#endif

}  // namespace d88
