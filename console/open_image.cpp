#include "open_image.h"

#include <utility>

#include "console.h"
#include "system_image_file.h"

namespace d88 {

std::string cannotReadText(const std::string& path, const Status& failure) {
  return "cannot read " + safeUtf8(path) + ": " + safeUtf8(failure.reason());
}

void reportOpenFailure(const char* program, const OpenOutcome& outcome) {
  if (outcome.problem == OpenProblem::kCannotOpen) {
    print(stderr, "%s: %s\n", program, outcome.text.c_str());
  } else {
    print(stderr, "Error: %s\n", outcome.text.c_str());
  }
}

bool spareIsUsable(const OpenOutcome& outcome, std::string* unusable) {
  unusable->clear();
  switch (outcome.problem) {
    case OpenProblem::kNone:
      return true;
    case OpenProblem::kCannotRead:
      if (outcome.status.code() == Status::Code::kTooLarge) *unusable = outcome.reason;
      return false;
    case OpenProblem::kCannotOpen:
      return false;
    case OpenProblem::kNotD88:
      *unusable = "it is not a D88 image: " + outcome.reason;
      return false;
    case OpenProblem::kNoDisk:
      *unusable = "it holds no D88 disk";
      return false;
  }
  return false;
}

OpenOptions runOpenOptions() {
  OpenOptions options;
  options.budget = std::make_shared<MemoryBudget>(kRunMemoryBytes);
  return options;
}

OpenOutcome openImage(const std::string& path, Image* image, std::unique_ptr<File> file,
                      const OpenOptions& options) {
  OpenOutcome outcome;
  if (file == nullptr) {
    // Opened here rather than by Image::open, so that the outcome keeps the
    // identity of the handle the reader reads: a program tells its outputs
    // from it by that handle, not by its name again.
    auto input = std::make_unique<SystemImageFile>();
    if (const int error = input->file.open(path.c_str())) {
      outcome.status = Status::cannotOpen(error, "cannot open the image");
    } else {
      outcome.identity = input->file.identity();
      file = std::move(input);
    }
  }
  if (file != nullptr) outcome.status = Image::openFile(std::move(file), image, options);
  const std::string name = safeUtf8(path);
  const Status& s = outcome.status;
  if (s.ok()) {
    if (!image->disks().empty()) return outcome;
    outcome.problem = OpenProblem::kNoDisk;
    outcome.reason = "no complete 688-byte disk header";
    outcome.text = name + " holds no D88 disk (" + outcome.reason + ")";
    return outcome;
  }
  outcome.reason = safeUtf8(s.reason());
  switch (s.code()) {
    case Status::Code::kCannotOpen:
      outcome.problem = OpenProblem::kCannotOpen;
      outcome.text = "cannot open " + name + ": " + outcome.reason;
      break;
    case Status::Code::kNotD88Image:
      outcome.problem = OpenProblem::kNotD88;
      outcome.text = name + " is not a D88 image: " + outcome.reason;
      break;
    default:
      outcome.problem = OpenProblem::kCannotRead;
      outcome.text = "cannot read " + name + ": " + outcome.reason;
      break;
  }
  return outcome;
}

}  // namespace d88
