// The files one run writes, named and checked together before any byte of
// them is written: no output may be an input of the run, another output of
// it, or anything but a file (a folder, a device, a FIFO, a socket).
#ifndef D88CUT_OUTPUT_OUTPUT_SET_H_
#define D88CUT_OUTPUT_OUTPUT_SET_H_

#include <cstddef>
#include <string>
#include <vector>

#include "file_system.h"

namespace d88 {

// Why an output of a set may not be written.
enum class OutputProblem {
  kNone,
  kIsInput,      // it is the same file as an input of the run
  kIsOutput,     // it is the same file as an earlier output of the run
  kNotAFile,     // something other than a regular file stands under its name
  kUnreachable,  // with foldersMustExist: its folder is missing, or its name
                 // cannot be looked up (too long, no permission)
};

struct OutputCheck {
  OutputProblem problem = OutputProblem::kNone;
  std::size_t output = 0;  // the output refused, by its index in the set
  std::size_t other = 0;   // the input (kIsInput) or the earlier output (kIsOutput)
  FileKind kind = FileKind::kNothing;  // what stands there (kNotAFile)
  // The reason in words, to follow "cannot write NAME: ": "it is ROLE" for
  // an input, "it is also OTHER" for an output (OTHER as given),
  // "it is a folder" and the like, the system's reason for kUnreachable.
  std::string reason;

  bool ok() const { return problem == OutputProblem::kNone; }
};

// Thread safety: one thread at a time.
class OutputSet {
 public:
  // With `foldersMustExist`, an output whose folder is missing, or whose
  // name cannot be looked up, is refused too (kUnreachable, with the
  // system's reason), for a program that makes no folder before it writes.
  explicit OutputSet(bool foldersMustExist = false) : foldersMustExist_(foldersMustExist) {}

  // Names an input of the run by the identity of the handle it is read
  // through; `role` finishes "it is ...", as "the image being cut". An
  // input of unknown identity (a caller's own File) is not checked.
  void addInput(const FileIdentity& identity, std::string role);
  // Names an output by its path (UTF-8), as it will be written; returns its
  // index in the set.
  std::size_t addOutput(std::string path);
  // The path of output `index`, as it was named.
  const std::string& path(std::size_t index) const { return outputs_[index]; }

  // Looks at every output, in the order named, and returns the first that
  // may not be written, and why. Two outputs are one file when their names
  // reach the same file through any links, or, where neither exists yet,
  // when they name one name in one folder (without regard to case where the
  // folder ignores it). A lookup that fails for another reason (a folder
  // that may not be searched) is left for the write to report, unless
  // folders must exist.
  OutputCheck check() const;

 private:
  struct Input {
    FileIdentity identity;
    std::string role;
  };
  bool foldersMustExist_ = false;
  std::vector<Input> inputs_;
  std::vector<std::string> outputs_;
};

}  // namespace d88

#endif  // D88CUT_OUTPUT_OUTPUT_SET_H_
