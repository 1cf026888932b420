// The one way the programs open an image: the reader's factory, then the
// programs' own rule that a file with no disk at all is nothing to work on,
// with the failure in the words every program shows.
#ifndef D88CUT_CONSOLE_OPEN_IMAGE_H_
#define D88CUT_CONSOLE_OPEN_IMAGE_H_

#include <memory>
#include <string>

#include <d88/file.h>
#include <d88/image.h>
#include <d88/status.h>

#include "file_system.h"

namespace d88 {

// Why an image could not be opened for a program's work.
enum class OpenProblem {
  kNone,
  kCannotOpen,  // the system would not open the file
  kCannotRead,  // a read failed (or a stream passed its limit) before any disk was found
  kNotD88,      // the file is plainly no D88 image
  kNoDisk,      // the file is shorter than one disk header
};

struct OpenOutcome {
  OpenProblem problem = OpenProblem::kNone;
  Status status;  // the reader's reason; ok for kNone and kNoDisk
  // The failure in words, without a program's prefix: "cannot open NAME:
  // REASON", "cannot read NAME: REASON", "NAME is not a D88 image: REASON"
  // or "NAME holds no D88 disk (no complete 688-byte disk header)"; empty
  // for kNone. NAME is the path made safe to show.
  std::string text;
  // The reason alone, as a JSON error document gives it.
  std::string reason;
  // Which file was opened, whatever became of the reading (known false for
  // a caller's File, and when it could not be opened): the outputs of a run
  // are checked against it.
  FileIdentity identity;

  bool ok() const { return problem == OpenProblem::kNone; }
};

// The memory that all the inputs one run holds open at once may take
// together (stream copies, read-ahead windows, kept records): 260 MiB, so
// that a single stream is still read as far as it may go (256 MiB) with
// room for what the reader keeps besides.
constexpr std::uint64_t kRunMemoryBytes = kMaxStreamBytes + (std::uint64_t{4} << 20);
static_assert(kRunMemoryBytes - kMaxStreamBytes >= kImageOverheadBytes,
              "one stream and all that its image keeps fit the run's budget");

// Options for the inputs of one run: a MemoryBudget of kRunMemoryBytes that
// every image opened with these options shares. A program makes them once
// and opens every input with them.
OpenOptions runOpenOptions();

// Opens `path` (UTF-8; "-" is standard input) into *image; *image is open
// with at least one disk when the outcome is ok. With `file`, that file
// object is read in place of `path` (which then only names it), as a test
// or a caller reading from elsewhere supplies it.
OpenOutcome openImage(const std::string& path, Image* image, std::unique_ptr<File> file = nullptr,
                      const OpenOptions& options = OpenOptions());

// A writer's message for an open that failed, on standard error: "PROGRAM:
// cannot open NAME: REASON" when the system would not open the file,
// "Error: TEXT" for any other failure.
void reportOpenFailure(const char* program, const OpenOutcome& outcome);

// What becomes of another dump of the disk (d88cut's spare, a dump d88merge
// merges) that `outcome` opened: true when it is used; false with
// *unusable empty when the run must stop (it cannot be opened or read: the
// user counted on it; reportOpenFailure() says why); false with the reason
// that follows "Note: NAME is not used: " when it only is not used (no D88
// image, no disk, or more than the run's inputs may hold together, in which
// case the caller closes it so that its memory serves the others).
bool spareIsUsable(const OpenOutcome& outcome, std::string* unusable);

// The words for a read of `path`'s image that failed: "cannot read NAME: REASON".
std::string cannotReadText(const std::string& path, const Status& failure);

}  // namespace d88

#endif  // D88CUT_CONSOLE_OPEN_IMAGE_H_
