#include "output_set.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "output_file.h"

namespace d88 {
namespace {

// Where an output stands: what is there, and which file it is; for a name
// that holds nothing yet, its folder (by identity, or by its path while the
// folder is missing too) and its name there.
struct Place {
  bool looked = false;  // false when the lookup failed: nothing is known
  int error = 0;        // why the lookup failed
  // Nothing is there, and its folder is not one: ENOENT when it is
  // missing, ENOTDIR when something else stands there; 0 otherwise.
  int folderError = 0;
  FileKind kind = FileKind::kNothing;
  FileIdentity identity;
  FileIdentity folder;
  std::string folderPath;
  std::string name;
  bool ignoresCase = false;
};

Place placeOf(const std::string& path) {
  Place place;
  if ((place.error = lookUpFile(path.c_str(), &place.kind, &place.identity)) != 0) return place;
  place.looked = true;
  if (place.kind != FileKind::kNothing) return place;
  place.folderPath = folderOfPath(path);
  place.name = path.substr(nameOffset(path));
  FileKind folderKind = FileKind::kNothing;
  if (lookUpFile(place.folderPath.c_str(), &folderKind, &place.folder) == 0 &&
      folderKind == FileKind::kFolder) {
    place.ignoresCase = folderIgnoresCase(place.folderPath.c_str());
  } else {
    place.folderError = folderKind == FileKind::kNothing ? ENOENT : ENOTDIR;
  }
  return place;
}

char foldedCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// True when `a` and `b` are one name in a folder that ignores case or not.
// Only ASCII letters are folded: names that differ in other letters are
// taken as two, which at worst lets the second write replace the first.
bool sameName(const std::string& a, const std::string& b, bool ignoresCase) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && (!ignoresCase || foldedCase(a[i]) != foldedCase(b[i]))) return false;
  }
  return true;
}

// True when the places of two outputs are one file, or will be.
bool samePlace(const Place& a, const Place& b) {
  if (!a.looked || !b.looked) return false;
  if (a.kind != FileKind::kNothing || b.kind != FileKind::kNothing) return a.identity == b.identity;
  const bool sameFolder = a.folder.known || b.folder.known ? a.folder == b.folder
                                                           : a.folderPath == b.folderPath;
  return sameFolder && sameName(a.name, b.name, a.ignoresCase);
}

}  // namespace

void OutputSet::addInput(const FileIdentity& identity, std::string role) {
  inputs_.push_back({identity, std::move(role)});
}

std::size_t OutputSet::addOutput(std::string path) {
  outputs_.push_back(std::move(path));
  return outputs_.size() - 1;
}

OutputCheck OutputSet::check() const {
  std::vector<Place> places;
  places.reserve(outputs_.size());
  OutputCheck check;
  for (std::size_t i = 0; i < outputs_.size(); ++i) {
    places.push_back(placeOf(outputs_[i]));
    const Place& place = places.back();
    check.output = i;
    for (std::size_t k = 0; k < inputs_.size() && place.looked; ++k) {
      if (place.identity == inputs_[k].identity) {
        check.problem = OutputProblem::kIsInput;
        check.other = k;
        check.reason = "it is " + inputs_[k].role;
        return check;
      }
    }
    if (foldersMustExist_ && (!place.looked || place.folderError != 0)) {
      check.problem = OutputProblem::kUnreachable;
      check.reason = std::strerror(place.looked ? place.folderError : place.error);
      return check;
    }
    if (place.looked && place.kind != FileKind::kNothing && place.kind != FileKind::kRegular) {
      check.problem = OutputProblem::kNotAFile;
      check.kind = place.kind;
      check.reason = "it is " + fileKindText(place.kind);
      return check;
    }
    for (std::size_t k = 0; k < i; ++k) {
      if (samePlace(places[k], place)) {
        check.problem = OutputProblem::kIsOutput;
        check.other = k;
        check.reason = "it is also " + outputs_[k];
        return check;
      }
    }
  }
  return OutputCheck();
}

}  // namespace d88
