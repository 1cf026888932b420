// The one place where the image's bytes are read: "these bytes at this
// offset, at most this many". A regular file is read at offsets through a
// read-ahead window of bounded size; a stream (a pipe, a device) is copied
// into memory as far as it is asked for, up to kMaxStreamBytes. Every read
// of the image by the reader goes through here, so this is where reads are
// counted and where tests make one fail. Private to the reader.
#ifndef D88CUT_IMAGE_BYTE_SOURCE_H_
#define D88CUT_IMAGE_BYTE_SOURCE_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include <d88/file.h>
#include <d88/image.h>
#include <d88/status.h>

namespace d88 {

// Bytes the read-ahead window starts with, the least it shrinks to while
// reads jump about, and the most it grows to while the image is read in
// order. A view is never larger than the window.
constexpr std::size_t kReadAheadBytes = 16 * 1024;
constexpr std::size_t kMinReadAheadBytes = 1024;
constexpr std::size_t kMaxWindowBytes = 256 * 1024;
// A window read while a pass goes on starts this far before the bytes asked
// for, so that the data of a track whose headers ran past the old window
// (read after its walk) is still in the new one.
constexpr std::size_t kLookBehindBytes = 16 * 1024;
// A stream is kept in pieces of this size, so that growing it never copies
// what is already held.
constexpr std::size_t kStreamChunkBytes = 1024 * 1024;

// What one image has taken of a MemoryBudget, given back all at once when
// the image closes. With no budget every take succeeds.
class BudgetShare {
 public:
  BudgetShare() = default;
  ~BudgetShare() { giveAll(); }
  BudgetShare(const BudgetShare&) = delete;
  BudgetShare& operator=(const BudgetShare&) = delete;

  // Takes from `budget` from now on, after giving back what was taken.
  void use(std::shared_ptr<MemoryBudget> budget);
  // Takes `bytes`; kTooLarge, naming the budget's limit, when it cannot.
  Status take(std::uint64_t bytes);
  // Gives back `bytes` of what take() gave.
  void give(std::uint64_t bytes);
  void giveAll();
  // True when a budget is in use.
  bool budgeted() const { return budget_ != nullptr; }

 private:
  std::shared_ptr<MemoryBudget> budget_;
  std::uint64_t taken_ = 0;
};

class ByteSource {
 public:
  ByteSource() = default;
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;

  // Reads `file` from now on, a stream no further than maxStreamBytes, and
  // takes the memory it holds from `budget` (null for none).
  void open(std::unique_ptr<File> file, std::uint64_t maxStreamBytes,
            std::shared_ptr<MemoryBudget> budget = nullptr);
  // Destroys the file and gives back everything held, to the budget too.
  void close();
  // Takes `bytes` from the budget for what the reader keeps of this input
  // besides a stream's copy (kImageOverheadBytes: the window, the straddle
  // buffer, the records of its tracks); kTooLarge when the budget cannot
  // hold them. Given back at close(). The copy of a stream takes its chunks
  // from the budget itself, as it grows.
  Status reserve(std::uint64_t bytes) { return share_.take(bytes); }
  // True when the memory held is taken from a budget.
  bool budgeted() const { return share_.budgeted(); }
  bool isOpen() const { return file_ != nullptr; }

  // Bytes of a file with a size; -1 for a stream, which has no size to tell.
  std::int64_t size() const { return size_; }
  bool seekable() const { return size_ >= 0; }

  // Points *bytes at the source's bytes from `offset`, at most `want` of them
  // (want <= kMaxWindowBytes), and sets *got to how many there are: fewer
  // only where the source ends. Valid until the next call. `expect` is how
  // many bytes from `offset` the caller will likely ask for next (a track's
  // length): a read the view needs takes them too, up to kMaxWindowBytes.
  Status view(std::int64_t offset, std::size_t want, const std::uint8_t** bytes,
              std::size_t* got, std::size_t expect = 0);
  // Copies the bytes from `offset`, at most `count` of them, into `out`;
  // *got as for view(). Of a regular file, kMaxWindowBytes or more at a time
  // are read straight into `out`, past the window.
  Status copy(std::int64_t offset, std::size_t count, std::uint8_t* out, std::size_t* got);
  // How many of the `count` bytes from `offset` the source holds: of a
  // regular file known from its size, of a stream found by reading it.
  Status available(std::int64_t offset, std::size_t count, std::size_t* got);

  // Bytes held now: the window, or the copy of a stream.
  std::uint64_t bytesHeld() const;

 private:
  // Takes `size` bytes from the budget and allocates them into *out; gives
  // them back when the allocation fails.
  Status takeAndAllocate(std::unique_ptr<std::uint8_t[]>* out, std::size_t size);
  // One read of the file.
  Status readFile(std::int64_t offset, std::uint8_t* out, std::size_t count, std::size_t* got);
  Status fillWindow(std::int64_t offset, std::size_t want, std::size_t expect);
  // Makes the stream's copy reach `until` bytes, or the stream's end.
  Status fillStream(std::int64_t until);

  BudgetShare share_;
  std::unique_ptr<File> file_;
  std::int64_t size_ = -1;
  std::uint64_t maxStreamBytes_ = 0;

  // Regular files: the window of bytes read last, and how far the next read
  // reaches ahead (it doubles while reads follow on from the window).
  std::unique_ptr<std::uint8_t[]> window_;
  std::int64_t windowStart_ = 0;
  std::size_t windowSize_ = 0;
  std::size_t readAhead_ = kReadAheadBytes;

  // Streams: the bytes read so far, in chunks, and whether the stream ended.
  std::vector<std::unique_ptr<std::uint8_t[]>> chunks_;
  std::int64_t streamSize_ = 0;
  bool streamEnded_ = false;
  // The probe past the limit found a byte: the stream goes on beyond it.
  bool streamPastLimit_ = false;
  // A view that straddles two chunks is copied here.
  std::unique_ptr<std::uint8_t[]> straddle_;
};

}  // namespace d88

#endif  // D88CUT_IMAGE_BYTE_SOURCE_H_
