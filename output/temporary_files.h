// The temporary files this process is writing, for the interrupt cleanup to
// remove. Private to output/.
#ifndef D88CUT_OUTPUT_TEMPORARY_FILES_H_
#define D88CUT_OUTPUT_TEMPORARY_FILES_H_

#include <cstddef>
#include <string>

#include "file_system.h"

namespace d88 {

// One temporary's place in the list; nullptr is none.
struct TemporaryEntry;

// Creates a temporary file beside `name` (UTF-8), under a SiblingName that
// no file holds, as `file`, and lists it, in one step as an interrupt sees
// it: *temporary receives its name, *entry its place in the list. Returns
// NewFile::create's result (ENAMETOOLONG for a name too long to list);
// nothing is listed on failure. Grows the list as needed: any number may be
// listed at once.
int createListedTemporary(const char* name, std::string* temporary, NewFile* file,
                          TemporaryEntry** entry);

// A name for a file of this run's own beside `name` (UTF-8): NAME +
// kTemporaryMarker + random letters and digits, which next() draws again
// for each try. NAME's last part is shortened in it, at a
// character's edge, when the whole last part would pass the file system's
// limit of 255 bytes, so that any name the user may give has one.
class SiblingName {
 public:
  explicit SiblingName(const std::string& name);
  // Draws new random characters; the name to try.
  const std::string& next();

 private:
  std::string name_;
  std::size_t randomAt_ = 0;
};

// One listed temporary and the final name it is to take.
struct ListedRename {
  TemporaryEntry* entry;
  const char* from;
  const char* to;
};

// Renames every listed temporary `renames[i].from` to its final name `to`
// (replaceFile), in order, as one step as an interrupt sees it, and forgets
// each. With several, what stands under each final name is kept (a second
// name for it) until all are renamed, so that after a failure every final
// name gets back what it held, or is removed again when it held nothing.
// Returns 0, or the errno of the failure with *failed its index and
// *renamed the number of temporaries gone (renamed, and taken back); the
// rest stay listed. A final name that holds a folder fails with EISDIR;
// one that holds anything else but a file with EEXIST, and *standing says
// what it is. Should an earlier file not go back under its final name,
// *keptFor is that name and *keptAs the one that holds it now.
int renameListedTogether(const ListedRename* renames, std::size_t count, std::size_t* failed,
                         std::size_t* renamed, FileKind* standing, std::string* keptFor,
                         std::string* keptAs);

// Removes the listed temporary `path` and forgets it.
void removeListedTemporary(TemporaryEntry* entry, const char* path);

}  // namespace d88

#endif  // D88CUT_OUTPUT_TEMPORARY_FILES_H_
