#include "byte_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include <d88/format.h>

namespace d88 {
namespace {

std::string atOffset(std::int64_t offset) { return "read at offset " + std::to_string(offset); }

// "256 MiB", or "1000 bytes" for a limit of no whole MiB.
std::string bytesText(std::uint64_t limit) {
  const std::uint64_t mib = 1024 * 1024;
  return limit % mib == 0 ? std::to_string(limit / mib) + " MiB"
                          : std::to_string(limit) + " bytes";
}

Status streamTooLarge(std::uint64_t limit) {
  return Status::tooLarge("an input without a size is read only up to " + bytesText(limit));
}

// Allocates `size` bytes, or says that memory ran out.
Status allocate(std::unique_ptr<std::uint8_t[]>* out, std::size_t size) {
  out->reset(new (std::nothrow) std::uint8_t[size]);
  return *out ? Status() : Status::outOfMemory("cannot hold " + std::to_string(size) + " bytes");
}

static_assert(2 * kMaxWindowBytes + std::uint64_t{kTrackCount} * kMaxTrackRecords *
                                        (sizeof(SectorRecord) + 2 * sizeof(std::uint32_t)) ==
                  kImageOverheadBytes,
              "kImageOverheadBytes counts the window, the straddle buffer and the kept records");

}  // namespace

bool MemoryBudget::take(std::uint64_t bytes) {
  std::uint64_t now = used_.load();
  do {
    if (bytes > limit_ || now > limit_ - bytes) return false;
  } while (!used_.compare_exchange_weak(now, now + bytes));
  return true;
}

void BudgetShare::use(std::shared_ptr<MemoryBudget> budget) {
  giveAll();
  budget_ = std::move(budget);
}

Status BudgetShare::take(std::uint64_t bytes) {
  if (budget_ == nullptr) return Status();
  if (!budget_->take(bytes)) {
    return Status::tooLarge("the inputs read at once may hold at most " +
                            bytesText(budget_->limit()) + " in memory together");
  }
  taken_ += bytes;
  return Status();
}

void BudgetShare::give(std::uint64_t bytes) {
  if (budget_ == nullptr) return;
  budget_->give(bytes);
  taken_ -= bytes;
}

void BudgetShare::giveAll() {
  if (budget_ != nullptr) budget_->give(taken_);
  taken_ = 0;
}

Status ByteSource::takeAndAllocate(std::unique_ptr<std::uint8_t[]>* out, std::size_t size) {
  Status s = share_.take(size);
  if (!s.ok()) return s;
  s = allocate(out, size);
  if (!s.ok()) share_.give(size);
  return s;
}

void ByteSource::open(std::unique_ptr<File> file, std::uint64_t maxStreamBytes,
                      std::shared_ptr<MemoryBudget> budget) {
  close();
  file_ = std::move(file);
  size_ = file_ != nullptr ? file_->size() : -1;
  maxStreamBytes_ = maxStreamBytes;
  share_.use(std::move(budget));
}

void ByteSource::close() {
  file_.reset();
  size_ = -1;
  window_.reset();
  windowStart_ = 0;
  windowSize_ = 0;
  readAhead_ = kReadAheadBytes;
  chunks_.clear();
  streamSize_ = 0;
  streamEnded_ = false;
  streamPastLimit_ = false;
  straddle_.reset();
  share_.giveAll();
}

std::uint64_t ByteSource::bytesHeld() const {
  std::uint64_t held = chunks_.size() * kStreamChunkBytes;
  if (window_) held += kMaxWindowBytes;
  if (straddle_) held += kMaxWindowBytes;
  return held;
}

Status ByteSource::readFile(std::int64_t offset, std::uint8_t* out, std::size_t count,
                            std::size_t* got) {
  *got = 0;
  // A file with a size gives fewer bytes than asked only at its end, but a
  // file object may give fewer on the way (a network file, an archive's
  // member): it is asked again for the rest until it gives none. A stream
  // is read on by fillStream() as far as it is needed.
  while (*got < count) {
    std::size_t n = 0;
    Status s = file_->read(offset + static_cast<std::int64_t>(*got), out + *got, count - *got, &n);
    if (!s.ok()) return s;
    // A file object that claims more than it was asked for is not believed.
    if (n > count - *got) return Status::ioError(EIO, atOffset(offset));
    *got += n;
    if (n == 0 || !seekable()) break;
  }
  return Status();
}

Status ByteSource::fillWindow(std::int64_t offset, std::size_t want, std::size_t expect) {
  if (!window_) {
    Status s = allocate(&window_, kMaxWindowBytes);
    if (!s.ok()) return s;
  }
  // A read that starts a little past the window (the next header after a
  // sector's data) is part of a pass in order: each such read reaches twice
  // as far ahead, and starts a little behind, where the data of the track
  // being walked still lies. A jump elsewhere halves the reach, down to a
  // floor, so that headers far apart (records of long data) cost a small
  // read each.
  const std::int64_t windowEnd = windowStart_ + static_cast<std::int64_t>(windowSize_);
  const bool inOrder = windowSize_ > 0 && offset >= windowStart_ &&
                       offset <= windowEnd + static_cast<std::int64_t>(kReadAheadBytes);
  readAhead_ = inOrder ? std::min(readAhead_ * 2, kMaxWindowBytes)
                       : std::max(readAhead_ / 2, kMinReadAheadBytes);
  // Never so far behind that `want` would not fit after it.
  const auto lookBehind = static_cast<std::int64_t>(std::min(kLookBehindBytes, kMaxWindowBytes - want));
  const std::int64_t start = inOrder ? std::max(windowStart_, offset - lookBehind) : offset;
  const auto behind = static_cast<std::size_t>(offset - start);
  std::size_t length = behind + std::max({want, readAhead_, expect});
  length = std::min(length, kMaxWindowBytes);
  const std::int64_t left = size_ - start;
  if (static_cast<std::int64_t>(length) > left) length = static_cast<std::size_t>(left);
  windowSize_ = 0;
  windowStart_ = start;
  std::size_t got = 0;
  Status s = readFile(start, window_.get(), length, &got);
  windowSize_ = got;
  return s;
}

Status ByteSource::fillStream(std::int64_t until) {
  const auto limit = static_cast<std::int64_t>(std::min<std::uint64_t>(maxStreamBytes_, INT64_MAX));
  const std::int64_t target = std::min(until, limit);
  while (streamSize_ < target && !streamEnded_) {
    const auto chunk = static_cast<std::size_t>(streamSize_ / static_cast<std::int64_t>(kStreamChunkBytes));
    const auto within = static_cast<std::size_t>(streamSize_ % static_cast<std::int64_t>(kStreamChunkBytes));
    if (chunk == chunks_.size()) {
      std::unique_ptr<std::uint8_t[]> fresh;
      Status s = takeAndAllocate(&fresh, kStreamChunkBytes);
      if (!s.ok()) return s;
      chunks_.push_back(std::move(fresh));
    }
    std::size_t got = 0;
    // Never past the limit: what lies beyond it is only probed for below.
    const std::size_t room = std::min(kStreamChunkBytes - within,
                                      static_cast<std::size_t>(limit - streamSize_));
    Status s = readFile(streamSize_, chunks_[chunk].get() + within, room, &got);
    if (!s.ok()) return s;
    if (got == 0) streamEnded_ = true;
    streamSize_ += static_cast<std::int64_t>(got);
  }
  // Asked for bytes past the limit: they are refused only if the stream
  // really goes on. The probe's byte is not kept, so once one came the
  // stream is not asked again: its next byte would not be the one at
  // streamSize_.
  if (until > limit && streamPastLimit_) return streamTooLarge(maxStreamBytes_);
  if (until > limit && !streamEnded_) {
    std::uint8_t probe = 0;
    std::size_t got = 0;
    Status s = readFile(streamSize_, &probe, 1, &got);
    if (!s.ok()) return s;
    if (got > 0) {
      streamPastLimit_ = true;
      return streamTooLarge(maxStreamBytes_);
    }
    streamEnded_ = true;
  }
  return Status();
}

Status ByteSource::view(std::int64_t offset, std::size_t want, const std::uint8_t** bytes,
                        std::size_t* got, std::size_t expect) {
  *bytes = nullptr;
  *got = 0;
  if (!isOpen()) return Status::notOpen();
  if (offset < 0 || want > kMaxWindowBytes) return Status::corruption(atOffset(offset));
  if (want == 0) return Status();
  if (seekable()) {
    if (offset >= size_) return Status();
    const std::int64_t wantEnd = std::min(offset + static_cast<std::int64_t>(want), size_);
    const std::int64_t windowEnd = windowStart_ + static_cast<std::int64_t>(windowSize_);
    if (offset < windowStart_ || wantEnd > windowEnd) {
      Status s = fillWindow(offset, want, expect);
      if (!s.ok()) return s;
    }
    const std::int64_t end = std::min(wantEnd, windowStart_ + static_cast<std::int64_t>(windowSize_));
    if (end <= offset) return Status();
    *bytes = window_.get() + (offset - windowStart_);
    *got = static_cast<std::size_t>(end - offset);
    return Status();
  }
  Status s = fillStream(offset + static_cast<std::int64_t>(want));
  if (!s.ok()) return s;
  if (offset >= streamSize_) return Status();
  const std::size_t n = static_cast<std::size_t>(
      std::min(static_cast<std::int64_t>(want), streamSize_ - offset));
  const auto chunk = static_cast<std::size_t>(offset / static_cast<std::int64_t>(kStreamChunkBytes));
  const auto within = static_cast<std::size_t>(offset % static_cast<std::int64_t>(kStreamChunkBytes));
  if (within + n <= kStreamChunkBytes) {
    *bytes = chunks_[chunk].get() + within;
  } else {
    if (!straddle_) {
      Status a = allocate(&straddle_, kMaxWindowBytes);
      if (!a.ok()) return a;
    }
    const std::size_t first = kStreamChunkBytes - within;
    std::memcpy(straddle_.get(), chunks_[chunk].get() + within, first);
    std::memcpy(straddle_.get() + first, chunks_[chunk + 1].get(), n - first);
    *bytes = straddle_.get();
  }
  *got = n;
  return Status();
}

Status ByteSource::copy(std::int64_t offset, std::size_t count, std::uint8_t* out,
                        std::size_t* got) {
  *got = 0;
  while (*got < count) {
    const std::int64_t at = offset + static_cast<std::int64_t>(*got);
    // A read of a window's size or more is no walk: it goes straight from
    // the file into `out`, in one copy, and leaves the window as it was.
    if (isOpen() && seekable() && count - *got >= kMaxWindowBytes) {
      if (at < 0) return Status::corruption(atOffset(at));
      if (at >= size_) break;
      const std::size_t want = static_cast<std::size_t>(
          std::min(static_cast<std::int64_t>(count - *got), size_ - at));
      std::size_t n = 0;
      Status s = readFile(at, out + *got, want, &n);
      if (!s.ok()) return s;
      if (n == 0) break;
      *got += n;
      continue;
    }
    const std::uint8_t* bytes = nullptr;
    std::size_t n = 0;
    Status s = view(offset + static_cast<std::int64_t>(*got),
                    std::min(count - *got, kMaxWindowBytes), &bytes, &n);
    if (!s.ok()) return s;
    if (n == 0) break;
    std::memcpy(out + *got, bytes, n);
    *got += n;
  }
  return Status();
}

Status ByteSource::available(std::int64_t offset, std::size_t count, std::size_t* got) {
  *got = 0;
  if (!isOpen()) return Status::notOpen();
  if (offset < 0) return Status::corruption(atOffset(offset));
  std::int64_t end = 0;
  if (seekable()) {
    end = size_;
  } else {
    Status s = fillStream(offset + static_cast<std::int64_t>(count));
    if (!s.ok()) return s;
    end = streamSize_;
  }
  if (end > offset) {
    *got = static_cast<std::size_t>(std::min(static_cast<std::int64_t>(count), end - offset));
  }
  return Status();
}

}  // namespace d88
