// The temporary files this process is writing, for the interrupt cleanup to
// remove. Private to output/.
#ifndef D88CUT_OUTPUT_TEMPORARY_FILES_H_
#define D88CUT_OUTPUT_TEMPORARY_FILES_H_

#include "file_system.h"

namespace d88 {

// One temporary's place in the list; nullptr is none.
struct TemporaryEntry;

// Creates the file `path` (UTF-8) as `file` and lists it, in one step as an
// interrupt sees it; *entry receives its place. Returns NewFile::create's
// result; nothing is listed on failure. Grows the list as needed: any number
// may be listed at once.
int createListedTemporary(const char* path, NewFile* file, TemporaryEntry** entry);

// Renames the listed temporary `from` to `to` (replaceFile) and, when it
// succeeds, forgets it, in one step as an interrupt sees it. Returns 0 or
// the errno of the failure; on failure it stays listed.
int renameListedTemporary(TemporaryEntry* entry, const char* from, const char* to);

// Removes the listed temporary `path` and forgets it.
void removeListedTemporary(TemporaryEntry* entry, const char* path);

}  // namespace d88

#endif  // D88CUT_OUTPUT_TEMPORARY_FILES_H_
