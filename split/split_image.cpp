#include "split_image.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <thread>

#include "file_system.h"
#include "interrupts.h"

namespace d88 {

std::vector<DiskPart> diskParts(const Image& image) {
  std::vector<DiskPart> parts;
  for (const Disk& disk : image.disks()) {
    DiskPart part;
    part.disk = disk.index;
    part.offset = disk.offset;
    part.sizeField = disk.size;
    parts.push_back(part);
  }
  // Disks stand back to back: each ends where the next starts, and the last
  // takes the rest of the file, whatever its size field says (bytes after it
  // that hold no further disk, or disks past the 64th the reader looks at).
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) parts[i].end = parts[i + 1].offset;
  return parts;
}

std::string imageStem(const std::string& path) {
  if (path == "-") return kStandardInputStem;
  std::string name = path.substr(nameOffset(path));
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}

std::string partFileName(const std::string& stem, int disk) {
  return stem + ".disk" + std::to_string(disk) + ".d88";
}

namespace {

// The bytes the system copies of `part`, at most.
std::uint64_t partBytes(const DiskPart& part) {
  return part.end >= 0 ? static_cast<std::uint64_t>(part.end - part.offset)
                       : static_cast<std::uint64_t>(INT64_MAX - part.offset);
}

// A part's file begun: its temporary, and the bytes the system copied into it.
struct BegunPart {
  PendingFile file;
  WriteResult written;
  std::uint64_t copied = 0;
};

// Starts the temporary of `part`; false when it cannot be.
bool begin(const char* path, BegunPart* begun) {
  begun->written = begun->file.start(path);
  return begun->written.error == 0;
}

// The system's copy of `part` into its begun file, where it can.
void copyBySystem(const DiskPart& part, const CopySourceFile* source, BegunPart* begun) {
  if (source != nullptr && source->fd() >= 0) {
    begun->copied = begun->file.appendCopyOf(source->fd(), part.offset, partBytes(part));
  }
}

// Reads what the system did not copy through the reader and commits.
PartResult finish(Image& image, const DiskPart& part, BegunPart* begun, SplitBuffer* split) {
  PartResult result;
  result.written = begun->written;
  if (result.written.error != 0) return result;
  std::unique_ptr<std::uint8_t[]>& buffer = split->bytes;
  std::int64_t at = part.offset + static_cast<std::int64_t>(begun->copied);
  for (;;) {
    std::size_t want = kSplitBufferBytes;
    if (part.end >= 0) {
      want = static_cast<std::size_t>(
          std::min<std::int64_t>(static_cast<std::int64_t>(want), part.end - at));
    }
    if (want == 0) break;
    if (!buffer) {
      buffer.reset(new (std::nothrow) std::uint8_t[kSplitBufferBytes]);
      if (!buffer) {
        result.written.error = ENOMEM;
        return result;  // the file discards its temporary
      }
    }
    std::size_t got = 0;
    const Status read = image.readBytes(at, buffer.get(), want, &got);
    if (!read.ok()) {
      result.readFailure = read;
      return result;
    }
    if (got == 0) break;
    result.written = begun->file.append(buffer.get(), got);
    if (result.written.error != 0) return result;
    at += static_cast<std::int64_t>(got);
    if (got < want) break;  // the end of the file
  }
  result.written = begun->file.commit();
  if (result.written.error == 0) result.bytes = at - part.offset;
  return result;
}

// Joins the thread it holds when it goes, whatever the way out.
struct JoinedThread {
  std::thread thread;
  ~JoinedThread() { join(); }
  void join() {
    if (thread.joinable()) thread.join();
  }
};

}  // namespace

PartResult writePart(Image& image, const DiskPart& part, const char* path,
                     SplitBuffer* buffer, const CopySourceFile* source) {
  BegunPart begun;
  if (begin(path, &begun)) copyBySystem(part, source, &begun);
  return finish(image, part, &begun, buffer);
}

void writeParts(Image& image, const std::vector<DiskPart>& parts,
                const std::vector<std::string>& paths, const CopySourceFile& source,
                SplitBuffer* buffer, const std::function<void(std::size_t)>& announce,
                const std::function<bool(std::size_t, const PartResult&)>& done) {
  // Parts go in pairs: this one copied here, the next on `copier`, so that
  // two temporaries are open at once, and the next waits for its rename.
  std::unique_ptr<BegunPart> ahead;
  std::size_t aheadIndex = parts.size();
  JoinedThread copier;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    announce(i);
    std::unique_ptr<BegunPart> current;
    if (aheadIndex == i) {
      copier.join();
      current = std::move(ahead);
    } else {
      current.reset(new BegunPart);
      const bool begun = begin(paths[i].c_str(), current.get());
      const std::size_t next = i + 1;
      if (begun && source.fd() >= 0 && next < parts.size()) {
        ahead.reset(new BegunPart);
        aheadIndex = next;
        if (begin(paths[next].c_str(), ahead.get())) {
          BegunPart* target = ahead.get();
          const DiskPart* part = &parts[next];
          // Started with interrupts held off, which it keeps: the interrupt
          // cleanup then runs on this thread only, where the temporaries'
          // list changes with interrupts held off.
          const InterruptsHeld held;
          copier.thread = std::thread([part, &source, target] {
            copyBySystem(*part, &source, target);
          });
        }
      }
      if (begun) copyBySystem(parts[i], &source, current.get());
    }
    if (!done(i, finish(image, parts[i], current.get(), buffer))) return;
  }
}

}  // namespace d88
