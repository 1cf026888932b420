#include "temporary_files.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "interrupts.h"
#include "output_file.h"

namespace d88 {

// The longest temporary name kept for the cleanup, in the system's characters.
constexpr std::size_t kMaxListedName = 4096;
// Longest last part of a path that file systems take, in bytes.
constexpr std::size_t kMaxNameBytes = 255;
// Random characters at the end of a sibling name.
constexpr std::size_t kRandomLength = 6;
// Tries at a sibling name no one holds.
constexpr int kNameAttempts = 100;

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

int createListedTemporary(const char* name, std::string* temporary, NewFile* file,
                          TemporaryEntry** entry) {
  SiblingName sibling(name);
  int error = EEXIST;
  for (int attempt = 0; attempt < kNameAttempts && error == EEXIST; ++attempt) {
    *temporary = sibling.next();
    NativePath native;
    // A name the cleanup could not hold is not created: it would outlive an
    // interrupt.
    if (!toNativePath(temporary->c_str(), &native)) return EINVAL;
    if (native.size() >= kMaxListedName) return ENAMETOOLONG;
    const InterruptsHeld held;
    TemporaryEntry* taken = takeEntry();
    error = file->create(temporary->c_str());
    if (error != 0) {
      forget(taken);
      *entry = nullptr;
      continue;
    }
    *entry = list(taken, temporary->c_str()) ? taken : nullptr;
  }
  return error;
}

namespace {

// What is kept of a final name while files are renamed together: a second
// name for it (a link), or the file itself moved aside where the file
// system has no links.
struct KeptFile {
  std::string name;
  bool movedAside = false;
};

// Checks that `to` is a file to replace, or nothing, and, when `keepIt`,
// keeps what stands there as *kept. 0, or the errno of the failure:
// EISDIR for a folder, EEXIST for what *standing then names.
int keep(const char* to, bool keepIt, KeptFile* kept, FileKind* standing) {
  FileKind kind = FileKind::kNothing;
  FileIdentity identity;
  // A name that cannot be looked up is left for the rename to answer for,
  // unless what it holds must be kept.
  if (const int error = lookUpFile(to, &kind, &identity)) return keepIt ? error : 0;
  if (kind == FileKind::kFolder) return EISDIR;
  if (kind != FileKind::kNothing && kind != FileKind::kRegular) {
    *standing = kind;
    return EEXIST;
  }
  if (kind == FileKind::kNothing || !keepIt) return 0;
  SiblingName sibling(to);
  int error = EEXIST;
  for (int attempt = 0; attempt < kNameAttempts && error == EEXIST; ++attempt) {
    const std::string& name = sibling.next();
    error = linkFile(to, name.c_str());
    if (error == 0) {
      kept->name = name;
      return 0;
    }
    if (error == EEXIST) continue;
    // No links here: the file moves aside to a name nothing holds.
    FileKind there = FileKind::kNothing;
    if (lookUpFile(name.c_str(), &there, &identity) != 0 || there != FileKind::kNothing) {
      error = EEXIST;
      continue;
    }
    error = replaceFile(to, name.c_str());
    if (error == 0) {
      kept->name = name;
      kept->movedAside = true;
    }
  }
  return error;
}

// Removes the kept second name, if any.
void removeKept(const KeptFile& kept) {
  if (kept.name.empty()) return;
  NativePath native;
  if (toNativePath(kept.name.c_str(), &native)) removeFileNow(native.c_str());
}

// Gives `to` back what `kept` holds of it, or removes `to` when it held
// nothing; false when the old file could not go back. Its second name then
// stays: it is the only name that holds it.
bool putBack(const char* to, const KeptFile& kept, bool replaced) {
  if (kept.name.empty()) {
    if (replaced) {
      NativePath native;
      if (toNativePath(to, &native)) removeFileNow(native.c_str());
    }
    return true;
  }
  if (replaced || kept.movedAside) return replaceFile(kept.name.c_str(), to) == 0;
  removeKept(kept);
  return true;
}

}  // namespace

SiblingName::SiblingName(const std::string& name) {
  const std::size_t markerLength = sizeof kTemporaryMarker - 1;
  const std::size_t lastPart = name.size() - nameOffset(name);
  std::size_t keptBytes = name.size();
  if (lastPart + markerLength + kRandomLength > kMaxNameBytes) {
    // The marker and the random letters are far shorter than the limit, so
    // some of the name always stays.
    keptBytes = name.size() - (lastPart + markerLength + kRandomLength - kMaxNameBytes);
    // Not inside a UTF-8 character: back past its continuation bytes.
    while (keptBytes > nameOffset(name) &&
           (static_cast<unsigned char>(name[keptBytes]) & 0xC0) == 0x80) {
      --keptBytes;
    }
  }
  name_ = name.substr(0, keptBytes) + kTemporaryMarker + std::string(kRandomLength, '0');
  randomAt_ = keptBytes + markerLength;
}

const std::string& SiblingName::next() {
  fillRandomName(&name_[randomAt_], kRandomLength);
  return name_;
}

int renameListedTogether(const ListedRename* renames, std::size_t count, std::size_t* failed,
                         std::size_t* renamed, FileKind* standing, std::string* keptFor,
                         std::string* keptAs) {
  const InterruptsHeld held;
  // One file needs nothing kept: its rename happens or not.
  const bool keepOld = count > 1;
  std::vector<KeptFile> kept(count);
  std::size_t i = 0;
  int error = 0;
  for (; i < count; ++i) {
    error = keep(renames[i].to, keepOld, &kept[i], standing);
    if (error == 0) error = replaceFile(renames[i].from, renames[i].to);
    if (error != 0) break;
    forget(renames[i].entry);
  }
  *renamed = i;
  if (error != 0) {
    *failed = i;
    for (std::size_t j = 0; j <= i && j < count; ++j) {
      if (!putBack(renames[j].to, kept[j], j < i) && keptAs->empty()) {
        *keptFor = renames[j].to;
        *keptAs = kept[j].name;
      }
    }
    return error;
  }
  for (const KeptFile& k : kept) removeKept(k);
  return 0;
}

void removeListedTemporary(TemporaryEntry* entry, const char* path) {
  const InterruptsHeld held;
  NativePath native;
  if (toNativePath(path, &native)) removeFileNow(native.c_str());
  forget(entry);
}

void removeTemporaryOnInterrupt() { runOnInterrupt(removeListedTemporaries); }

}  // namespace d88
