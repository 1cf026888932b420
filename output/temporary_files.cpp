#include "temporary_files.h"

#include <atomic>
#include <cstring>
#include <string>

#include "interrupts.h"
#include "output_file.h"

namespace d88 {

// The longest temporary name kept for the cleanup, in the system's characters.
constexpr std::size_t kMaxListedName = 4096;

// One place in the list. The list only grows: an entry, once published, is
// never freed nor unlinked, only reused, so the cleanup may walk it at any
// moment. `next` is set before the entry is published and never after.
struct TemporaryEntry {
  std::atomic<int> state{0};  // see kFree ...
  NativeChar name[kMaxListedName] = {};
  TemporaryEntry* next = nullptr;
};

namespace {

// An entry's states: free for reuse; taken by a writer that has not listed a
// name yet; listed, its name a temporary of this run's that the cleanup
// removes.
constexpr int kFree = 0;
constexpr int kTaken = 1;
constexpr int kListed = 2;

// Why the cleanup may read the list from a signal handler: it reads only
// lock-free atomics and entries that are never freed, and a name is written
// while its entry is taken, before the state says listed (release, read with
// acquire). The one case left, an entry reused while the cleanup reads its
// name, cannot happen: lists and renames run with interrupts held off
// (InterruptsHeld), and threads the programs start hold them off for good,
// so the cleanup runs only where no change is under way; on Windows the
// console handler takes the same lock and keeps it.
static_assert(std::atomic<int>::is_always_lock_free, "the cleanup reads states in a handler");
static_assert(std::atomic<TemporaryEntry*>::is_always_lock_free,
              "the cleanup walks the list in a handler");
std::atomic<TemporaryEntry*> listHead{nullptr};

// Removes every listed temporary: the interrupt cleanup.
void removeListedTemporaries() {
  for (TemporaryEntry* entry = listHead.load(std::memory_order_acquire); entry != nullptr;
       entry = entry->next) {
    if (entry->state.load(std::memory_order_acquire) == kListed) removeFileNow(entry->name);
  }
}

// A free entry, now taken: one of the list's, or a new one put at its head.
// Allocates outside any handler, as the list grows only here.
TemporaryEntry* takeEntry() {
  for (TemporaryEntry* entry = listHead.load(std::memory_order_acquire); entry != nullptr;
       entry = entry->next) {
    int expected = kFree;
    if (entry->state.compare_exchange_strong(expected, kTaken, std::memory_order_acq_rel)) {
      return entry;
    }
  }
  auto* entry = new TemporaryEntry;
  entry->state.store(kTaken, std::memory_order_relaxed);
  TemporaryEntry* head = listHead.load(std::memory_order_relaxed);
  do {
    entry->next = head;
  } while (!listHead.compare_exchange_weak(head, entry, std::memory_order_release,
                                           std::memory_order_relaxed));
  return entry;
}

// Lists `path` in the taken `entry`; false for a name the system cannot
// take, or one too long to keep, which is not listed: the entry goes free.
bool list(TemporaryEntry* entry, const char* path) {
  NativePath native;
  if (!toNativePath(path, &native) || native.size() >= kMaxListedName) {
    entry->state.store(kFree, std::memory_order_release);
    return false;
  }
  std::memcpy(entry->name, native.c_str(), (native.size() + 1) * sizeof(NativeChar));
  entry->state.store(kListed, std::memory_order_release);
  return true;
}

void forget(TemporaryEntry* entry) {
  if (entry != nullptr) entry->state.store(kFree, std::memory_order_release);
}

}  // namespace

int createListedTemporary(const char* path, NewFile* file, TemporaryEntry** entry) {
  const InterruptsHeld held;
  TemporaryEntry* taken = takeEntry();
  const int error = file->create(path);
  if (error != 0) {
    forget(taken);
    *entry = nullptr;
    return error;
  }
  *entry = list(taken, path) ? taken : nullptr;
  return 0;
}

int renameListedTemporary(TemporaryEntry* entry, const char* from, const char* to) {
  const InterruptsHeld held;
  const int error = replaceFile(from, to);
  if (error == 0) forget(entry);
  return error;
}

void removeListedTemporary(TemporaryEntry* entry, const char* path) {
  const InterruptsHeld held;
  NativePath native;
  if (toNativePath(path, &native)) removeFileNow(native.c_str());
  forget(entry);
}

void removeTemporaryOnInterrupt() { runOnInterrupt(removeListedTemporaries); }

}  // namespace d88
