// The files on one disk of a D88 image: the file systems of MS-DOS (FAT12)
// and of three Disk BASICs (N88-BASIC, F-BASIC, Hu-BASIC), found on the
// selected disk with the reason each was taken or refused, every file with
// its size, type, attributes, date and health (whole, incomplete, marked
// bad, or a broken chain), and a file's bytes read for salvage.
//
// Everything is read through the reader's sector lookup, so a missing or
// damaged sector is seen as the image has it. The layer never prints. Every
// chain, directory walk and allocation is bounded by what the disk's
// geometry can hold, whatever its tables claim: a loop or a table that
// claims more than the disk holds is a broken chain, never a hang.
#ifndef D88_FILESYSTEM_H_
#define D88_FILESYSTEM_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <d88/format.h>
#include <d88/image.h>
#include <d88/status.h>

namespace d88 {

// The file systems this layer reads.
enum class FileSystemKind { kFat12, kN88, kFBasic, kHuBasic };

// Every kind, in the order detection tries them.
constexpr FileSystemKind kFileSystemKinds[] = {FileSystemKind::kFat12, FileSystemKind::kN88,
                                               FileSystemKind::kFBasic, FileSystemKind::kHuBasic};

// The kind's name as --fs takes it: "fat12", "n88", "fbasic", "hubasic".
const char* fileSystemName(FileSystemKind kind);
// The kind named `name` (exactly one of the names above) into *kind; false for any other.
bool parseFileSystemName(const std::string& name, FileSystemKind* kind);

// How sound a file's bytes are on the disk, worst first.
enum class FileHealth {
  kWhole,        // every sector is there, whole and not marked bad
  kMarked,       // every sector is there, some marked bad (their bytes are the dump's)
  kIncomplete,   // some sectors are missing from the image, or shorter than their size
  kBrokenChain,  // its allocation chain loops, leaves the disk, or disagrees with its size
};

// What became of one sector of a file.
enum class SectorState { kSound, kMissing, kShort, kMarked };

// One sector that holds bytes of a file, in file order.
struct FileSector {
  SectorAddress address;
  SectorState state = SectorState::kSound;
  std::uint8_t status = 0;  // the record's status byte, for kMarked
};

// A date as the file system keeps it, in its own local time.
struct FileDate {
  bool known = false;
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// One entry of a directory.
struct FileEntry {
  // Its folders and name as stored, joined by '/': raw bytes (Shift_JIS on
  // FAT, JIS X 0201 on the Disk BASICs), to be converted for showing.
  std::string path;
  std::string name;  // its name alone: NAME.EXT without the padding
  bool folder = false;
  bool deleted = false;     // listed only on request
  std::uint64_t size = 0;   // bytes, as the directory says or the chain gives
  // "file", "folder", "BASIC (tokenized)", "BASIC (ASCII)", "binary",
  // "data (ASCII)", "data (binary)", ...
  std::string type;
  std::string attributes;   // letters, one per attribute set; empty for none
  FileDate date;

  FileHealth health = FileHealth::kWhole;
  // kBrokenChain: why, in words. It ends with sharedWith, raw, when the
  // chain meets a cluster that file owns.
  std::string chainProblem;
  std::string sharedWith;
  std::vector<FileSector> sectors;  // every sector of its bytes, in file order
  std::uint32_t missingSectors = 0;  // kMissing and kShort among them
  std::uint32_t markedSectors = 0;   // kMarked among them
};

// A sector of a directory or of a cluster table that the image lacks, or
// holds marked bad (in every copy, for a table); or a copy of a table sector
// that was passed over for a sound copy at `usedCopy` because it differs
// from it (`differs`) or is marked bad.
struct DamagedSector {
  std::string what;  // "root folder", "folder SUB", "directory", "FAT", "cluster table"
  SectorAddress address;
  SectorState state = SectorState::kMissing;  // kMissing, kShort or kMarked
  std::uint8_t status = 0;                    // the record's status byte, for kMarked
  bool copyUsed = false;  // a sound copy at usedCopy was read in place of this sector
  bool differs = false;   // with copyUsed: this copy is sound but holds other bytes
  SectorAddress usedCopy;
};

// What a disk holds as a whole.
struct Volume {
  FileSystemKind kind = FileSystemKind::kFat12;
  std::string layout;  // "PC-98/FM Towns 1.2 MB 2HD, no BPB", "PC-8801 2D", ...
  std::string reason;  // why it was taken: what was found where
  std::string label;   // raw bytes; empty when none
  std::uint64_t freeBytes = 0;
  std::uint64_t totalBytes = 0;  // of the data area
  std::uint32_t clusterBytes = 0;
  // Directory and table sectors missing or marked bad, in the order met: a
  // missing directory sector's entries are not listed, a marked one's are
  // read as they stand; a table sector missing from every copy reads as free.
  std::vector<DamagedSector> damage;
  // Why files may be left out: "listing stopped at 8,192 entries", "folder
  // SUB/X not walked: ...", "12 clusters in use belong to no listed file".
  // Empty when every entry was read and every cluster in use is a listed file's.
  std::vector<std::string> limits;
};

// Limits that keep every walk bounded.
constexpr std::size_t kMaxFileEntries = 8192;  // entries kept of all folders together
constexpr int kMaxFolderDepth = 16;            // folders within folders

// A file system found on the selected disk of an image. It reads through the
// image it was opened on, which must stay open, on the same disk, while it is used.
// Thread safety: one thread at a time, with its image.
class FileSystem {
 public:
  FileSystem();
  ~FileSystem();
  FileSystem(FileSystem&&) noexcept;
  FileSystem& operator=(FileSystem&&) noexcept;
  FileSystem(const FileSystem&) = delete;
  FileSystem& operator=(const FileSystem&) = delete;

  // Finds the file system of the selected disk of `image`: each kind in
  // turn, or only `*only` when it is given. With `withDeleted`, deleted
  // entries are listed too. kNotFound when none is found, with
  // *refusals holding "NAME: what it expected" for each kind tried; a read
  // of the image that failed is returned as it is.
  [[nodiscard]] static Status open(Image& image, const FileSystemKind* only, bool withDeleted,
                                   FileSystem* fileSystem, std::vector<std::string>* refusals);

  const Volume& volume() const;
  // Every entry of every folder, folders before what they hold, in directory order.
  const std::vector<FileEntry>& files() const;

  // Reads `entry`'s bytes into *bytes (resized to entry.size): a sector that
  // is missing gives zeros, a short one its bytes and zeros, a marked one its
  // bytes as they stand; a broken chain only as far as the chain goes (the
  // bytes may then be fewer than its size). Fails only when a read of the
  // image fails.
  [[nodiscard]] Status readFile(const FileEntry& entry, std::vector<std::uint8_t>* bytes);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace d88

#endif  // D88_FILESYSTEM_H_
