// What d88dir and d88get say of the files on a disk: names converted for
// showing, each file's health in words, the listing as text and as JSON
// Lines, and names made safe for the host's file system.
#ifndef D88CUT_FILETOOLS_FILE_TEXT_H_
#define D88CUT_FILETOOLS_FILE_TEXT_H_

#include <initializer_list>
#include <string>
#include <vector>

#include <d88/filesystem.h>

namespace d88 {

// A stored name (or path) as UTF-8 that is safe on a terminal: Shift_JIS on
// FAT, JIS X 0201 (ASCII and half-width kana) on the Disk BASICs; a byte
// that does not convert, and a control character, as \xNN.
std::string fileNameText(FileSystemKind kind, const std::string& raw);

// True when the stored name needs its bytes beside its text: any byte
// outside printable ASCII.
bool nameNeedsHex(const std::string& raw);

// Bytes as lower-case hex digits.
std::string hexText(const std::string& raw);

// ASCII letters in lower case, other bytes as they are.
std::string lowerAscii(std::string s);

// The first of `entry`'s sectors whose state is one of `states`; null when none is.
const FileSector* firstSectorIn(const FileEntry& entry, std::initializer_list<SectorState> states);

// A damaged directory or table sector in words: "damaged: the root folder's
// sector at track T (C, H, R, N) is missing; its entries are not listed", ...
std::string damageText(const DamagedSector& damage);
// The lines a listing gives after its first: each damaged sector, then each
// limit met ("not listed: ..."). Empty for a volume read whole.
std::string volumeNotesText(const Volume& volume);
// True when the volume's directory or table is damaged, or a limit left entries out.
bool volumeHasNotes(const Volume& volume);

// The health in words: "whole", "incomplete: K of M sectors missing, the
// first at track T (C, H, R, N)", "marked: K sectors marked bad (data CRC
// error), the first at ...", "broken chain: REASON"; for a deleted entry
// whose chain is gone, "deleted: REASON". `kind` decodes a name the reason
// holds.
std::string healthText(FileSystemKind kind, const FileEntry& entry);
// Why a chain broke, safe to show: a file it names (sharedWith) shown as
// fileNameText shows it.
std::string chainProblemText(FileSystemKind kind, const FileEntry& entry);
// "whole", "incomplete", "marked" or "broken chain".
const char* healthWord(FileHealth health);

// The first line of a listing: the file system, its layout, why it was
// taken, its label and its free space.
std::string volumeText(const Volume& volume);
// The listing's lines for `files`, one per file, names `width` wide.
std::string filesText(FileSystemKind kind, const std::vector<const FileEntry*>& files);

// {"image":...,"error":REASON}: the JSON line for an image whose files cannot be listed.
std::string filesErrorJson(const std::string& image, const std::string& reason);
// JSON Lines: the volume's, then one per file.
std::string volumeJson(const std::string& image, int disk, const Volume& volume);
std::string fileJson(FileSystemKind kind, const FileEntry& entry);

// True when `path` names `entry` or a folder that holds it: exactly, or on
// FAT without regard to ASCII case. `path` is matched against the stored
// bytes and against their text.
bool pathMatches(FileSystemKind kind, const FileEntry& entry, const std::string& path, bool orWithin);

// One part of a path (a name, no '/') made safe for the host: no '/', '\',
// control character or character Windows refuses, no "." or "..", no
// trailing dot or space, no Windows device name. *changed is set when it differs.
std::string safeHostName(const std::string& utf8, bool* changed);

}  // namespace d88

#endif  // D88CUT_FILETOOLS_FILE_TEXT_H_
