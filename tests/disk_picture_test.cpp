// d88ls --svg and the picture under it, read back by its cells' attributes:
// one damaged 2HD disk with every state a cell can have, the cut plan's
// sectors and holes, the precedence of states, escaping, bounds and errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "disk_picture.h"
#include "listing_command.h"
#include "test_files.h"
#include "test_support.h"
#include "xml_reader.h"

namespace {

using d88build::Bytes;
using d88build::Disk;
using d88build::Record;
using d88test::elementsNamed;
using d88test::parseXml;
using d88test::RunResult;
using d88test::TempDir;
using d88test::XmlElement;

Record& sector(Disk& disk, int track, int r) {
  return disk.tracks.at(track).at(static_cast<std::size_t>(r - 1));
}

// A 2HD disk of the cut plan's layout with one sector of each kind of damage.
Disk damagedDisk() {
  Disk disk = d88build::standardDisk();
  sector(disk, 40, 3).status = 0xB0;  // MA001's first sector: data CRC error
  sector(disk, 43, 6).status = 0xA0;  // VD001: ID CRC error
  sector(disk, 10, 5).status = 0xF0;
  sector(disk, 12, 7).status = 0xE0;
  sector(disk, 14, 1).status = 0x80;
  sector(disk, 42, 5).data.resize(300);  // MA006: short
  sector(disk, 60, 4).c = 31;            // PROG: the sector it seeks is another track's
  sector(disk, 61, 2).status = 0x10;     // PROG: deleted data, sound
  std::vector<Record>& twins = disk.tracks.at(45);  // MA008 reads the first R 1
  twins.push_back(twins.front());
  std::vector<Record>& gap = disk.tracks.at(41);  // MA002 lacks R 2
  gap.erase(gap.begin() + 1);
  disk.tracks.erase(20);
  return disk;
}

class DiskPictureTest : public ::testing::Test {
 protected:
  RunResult ls(const std::vector<std::string>& args) {
    std::vector<std::string> argv{D88LS_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    return d88test::run(argv, {dir_.path(), -1});
  }
  // The picture d88ls draws of `disks`, parsed; fails the test when d88ls
  // fails or the document is not well-formed.
  XmlElement picture(const std::vector<Disk>& disks, const std::vector<std::string>& args = {},
                     const std::string& name = "image.d88") {
    const std::string path = dir_.write(name, d88build::build(disks).bytes);
    std::vector<std::string> argv{"--svg", path};
    argv.insert(argv.end(), args.begin(), args.end());
    const RunResult r = ls(argv);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    try {
      return parseXml(r.out);
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
      return XmlElement();
    }
  }

  TempDir dir_;
};

// The cells drawn for sector R of `track`, records and missing slots alike.
std::vector<const XmlElement*> cellsAt(const XmlElement& svg, int track, int r) {
  std::vector<const XmlElement*> out;
  for (const XmlElement* e : elementsNamed(svg, "rect")) {
    if (e->attribute("data-track") == std::to_string(track) &&
        e->attribute("data-r") == std::to_string(r)) {
      out.push_back(e);
    }
  }
  return out;
}

std::string titleOf(const XmlElement& e) {
  for (const XmlElement& child : e.children) {
    if (child.name == "title") return child.text;
  }
  return "";
}

TEST_F(DiskPictureTest, EachCellCarriesItsStateAndFile) {
  const XmlElement svg = picture({damagedDisk()});
  ASSERT_EQ(svg.name, "svg");
  struct Case {
    int track, r;
    const char* state;  // "" for a missing plan sector
    const char* file;   // "" off the plan
  };
  // Where two cells share a place, the table lists them in drawing order.
  const std::vector<std::vector<Case>> cases = {
      {{0, 1, "sound", ""}},
      {{40, 1, "sound", "MA000"}},
      {{40, 3, "data-crc", "MA001"}},
      {{43, 6, "id-crc", "VD001"}},
      {{10, 5, "no-data-mark", ""}},
      {{12, 7, "no-address-mark", ""}},
      {{14, 1, "unknown-status", ""}},
      {{42, 5, "short", "MA006"}},
      {{61, 2, "deleted", "PROG"}},
      // The record the plan reads is the first of the twins.
      {{45, 1, "twin", "MA008"}, {45, 1, "twin", ""}},
      // The record recorded as C 31, then the slot of the sector PROG seeks.
      {{60, 4, "foreign", ""}, {60, 4, "", "PROG"}},
      {{41, 2, "", "MA002"}},
  };
  for (const std::vector<Case>& place : cases) {
    const std::vector<const XmlElement*> cells = cellsAt(svg, place[0].track, place[0].r);
    ASSERT_EQ(cells.size(), place.size()) << "track " << place[0].track << " R " << place[0].r;
    for (std::size_t i = 0; i < place.size(); ++i) {
      const Case& c = place[i];
      const XmlElement& cell = *cells[i];
      SCOPED_TRACE("track " + std::to_string(c.track) + " R " + std::to_string(c.r));
      if (*c.state != '\0') {
        EXPECT_EQ(cell.attribute("data-state"), c.state);
        EXPECT_FALSE(cell.has("data-missing"));
      } else {
        EXPECT_FALSE(cell.has("data-state"));
        EXPECT_EQ(cell.attribute("data-missing"), "1");
      }
      EXPECT_EQ(cell.attribute("data-file"), c.file);
      EXPECT_GT(std::stod(cell.attribute("width")), 0.0);
    }
  }
  // Hover text: the fields in words.
  const std::string crc = titleOf(*cellsAt(svg, 40, 3)[0]);
  EXPECT_NE(crc.find("C 20, H 0, R 3, N 3"), std::string::npos) << crc;
  EXPECT_NE(crc.find("status: data CRC error"), std::string::npos) << crc;
  EXPECT_NE(crc.find("density: double"), std::string::npos) << crc;
  EXPECT_NE(crc.find("size: 1024 bytes"), std::string::npos) << crc;
  EXPECT_NE(crc.find("offset: "), std::string::npos) << crc;
  EXPECT_NE(titleOf(*cellsAt(svg, 41, 2)[0]).find("MA002"), std::string::npos);

  // One cell per record: 77 x 2 tracks of 8, less track 20 and 41's R 2,
  // plus the twin; and the plan's two holes.
  int records = 0;
  int missing = 0;
  for (const XmlElement* e : elementsNamed(svg, "rect")) {
    records += e->has("data-state") ? 1 : 0;
    missing += e->has("data-missing") ? 1 : 0;
  }
  EXPECT_EQ(records, 154 * 8 - 8 - 1 + 1);
  EXPECT_EQ(missing, 2);

  // The absent track is a labelled row without cells.
  bool absentRow = false;
  for (const XmlElement* g : elementsNamed(svg, "g")) {
    if (g->attribute("data-row") != "20") continue;
    absentRow = true;
    EXPECT_TRUE(std::none_of(g->children.begin(), g->children.end(),
                             [](const XmlElement& e) { return e.has("data-r"); }));
  }
  EXPECT_TRUE(absentRow);

  // Each file is named once, at its first sector.
  int prog = 0;
  for (const XmlElement* text : elementsNamed(svg, "text")) prog += text->text == "PROG" ? 1 : 0;
  EXPECT_EQ(prog, 1);
}

// The rects of row `track` that stand for another track's records.
std::vector<const XmlElement*> sharedMarks(const XmlElement& svg, int track) {
  std::vector<const XmlElement*> out;
  for (const XmlElement* e : elementsNamed(svg, "rect")) {
    if (e->has("data-same-as") && e->attribute("data-track") == std::to_string(track)) {
      out.push_back(e);
    }
  }
  return out;
}

// A track whose table entry points where an earlier one's does is drawn as
// one marked slot that names that track, as wide as its records, and not
// with the records again; the sectors d88cut reads there and does not find
// still follow as holes, and the legend counts the marked rows.
TEST_F(DiskPictureTest, ASharedTrackIsAMarkedSlotNotItsRecordsAgain) {
  Disk disk = damagedDisk();
  disk.sameAs = {{61, 60}, {155, 40}};
  const XmlElement svg = picture({disk});
  struct Case {
    int track, same;
    int holes;  // sectors d88cut reads on the track that the disk now lacks
  };
  // PROG reads R 1 to 8 of track 61: track 60's records carry H 0.
  const Case cases[] = {{61, 60, 8}, {155, 40, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE("track " + std::to_string(c.track));
    const std::vector<const XmlElement*> marks = sharedMarks(svg, c.track);
    ASSERT_EQ(marks.size(), 1u);
    const XmlElement& mark = *marks[0];
    EXPECT_EQ(mark.attribute("data-same-as"), std::to_string(c.same));
    EXPECT_FALSE(mark.has("data-state"));
    EXPECT_NE(titleOf(mark).find("the same records as track " + std::to_string(c.same)),
              std::string::npos)
        << titleOf(mark);
    const double markStart = std::stod(mark.attribute("x"));
    const double markEnd = markStart + std::stod(mark.attribute("width"));
    double start = 1e9;
    double end = 0;
    for (const XmlElement* e : elementsNamed(svg, "rect")) {
      if (e->attribute("data-track") != std::to_string(c.same) || !e->has("data-state")) continue;
      start = std::min(start, std::stod(e->attribute("x")));
      end = std::max(end, std::stod(e->attribute("x")) + std::stod(e->attribute("width")));
    }
    int holes = 0;
    double rowEnd = markEnd;
    for (const XmlElement* e : elementsNamed(svg, "rect")) {
      if (e->attribute("data-track") != std::to_string(c.track)) continue;
      EXPECT_FALSE(e->has("data-state")) << "a record drawn again on track " << c.track;
      if (!e->has("data-missing")) continue;
      ++holes;
      EXPECT_GE(std::stod(e->attribute("x")), markEnd);
      rowEnd = std::max(rowEnd, std::stod(e->attribute("x")) + std::stod(e->attribute("width")));
    }
    EXPECT_EQ(holes, c.holes);
    // As wide as the records it stands for are drawn, unless holes after it
    // squeeze the row into its bound.
    if (holes == 0) {
      EXPECT_NEAR(markEnd - markStart, end - start, 1.5);
    } else {
      EXPECT_LE(rowEnd - markStart, 720.0);
      EXPECT_LT(markEnd - markStart, end - start);
    }
  }
  // Every record once: those of the damaged disk less track 61's own, which
  // no entry points at now.
  int records = 0;
  for (const XmlElement* e : elementsNamed(svg, "rect")) records += e->has("data-state") ? 1 : 0;
  EXPECT_EQ(records, 154 * 8 - 8 - 1 + 1 - 8);
  bool legend = false;
  for (const XmlElement* text : elementsNamed(svg, "text")) {
    legend = legend || text->text == "shared track (2)";
  }
  EXPECT_TRUE(legend);
}

// A record that is several things at once is drawn as the first that holds:
// a bad status, short, twin, foreign, deleted, sound.
TEST(RecordStateTest, PrecedenceIsBadStatusShortTwinForeignDeleted) {
  struct Case {
    std::uint8_t status;
    bool isShort, twin, foreign, deletedMark;
    d88::CellState expected;
  };
  using S = d88::CellState;
  const Case cases[] = {
      {0x00, false, false, false, false, S::kSound},
      {0x10, false, false, false, false, S::kDeleted},
      {0x00, false, false, false, true, S::kDeleted},
      {0x10, false, false, true, false, S::kForeign},
      {0x10, false, true, true, false, S::kTwin},
      {0x10, true, true, true, true, S::kShort},
      {0xB0, true, true, true, true, S::kDataCrc},
      {0xA0, true, false, false, false, S::kIdCrc},
      {0xE0, false, true, false, false, S::kNoAddressMark},
      {0xF0, false, false, true, false, S::kNoDataMark},
      {0x01, false, false, false, true, S::kUnknownStatus},
  };
  for (const Case& c : cases) {
    d88::SectorRecord record{};
    record.id = {c.foreign ? std::uint8_t{7} : std::uint8_t{20}, 1, 3, 3};
    record.status = c.status;
    record.deletedMark = c.deletedMark ? d88::kDeletedDataMark : 0;
    record.dataSize = 1024;
    record.dataAvailable = c.isShort ? 1000 : 1024;
    EXPECT_EQ(d88::recordState(record, 20, 1, c.twin), c.expected)
        << "status " << int{c.status} << " expected " << d88::cellStateName(c.expected);
  }
}

// A name and a path full of XML's own characters stay text.
TEST_F(DiskPictureTest, NameAndPathAreEscaped) {
  Disk disk = d88build::standardDisk(0, 1, 2, 8, 3);
  disk.name = std::string("<a&b>\"'\x01\x7f]]>");
#ifdef _WIN32
  const std::string name = "x&y'.d88";  // < > " are no characters of a Windows name
#else
  const std::string name = "x&y<'\">.d88";
#endif
  const XmlElement svg = picture({disk}, {}, name);
  bool named = false;
  for (const XmlElement* text : elementsNamed(svg, "text")) {
    if (text->text.find("name \"<a&b>\"'\\x01\\x7F]]>\"") != std::string::npos) named = true;
  }
  EXPECT_TRUE(named);
  bool pathShown = false;
  for (const XmlElement* title : elementsNamed(svg, "title")) {
    if (title->text.find(name) != std::string::npos) pathShown = true;
  }
  EXPECT_TRUE(pathShown);
}

// A disk other than 0 is not the one d88cut cuts: no plan, no holes.
TEST_F(DiskPictureTest, OtherDisksShowNoPlan) {
  const XmlElement svg = picture({d88build::standardDisk(0, 1, 2, 8, 3), damagedDisk()}, {"1"});
  ASSERT_FALSE(cellsAt(svg, 40, 3).empty());
  EXPECT_EQ(cellsAt(svg, 40, 3)[0]->attribute("data-state"), "data-crc");
  for (const XmlElement* e : elementsNamed(svg, "rect")) {
    EXPECT_FALSE(e->has("data-file"));
    EXPECT_FALSE(e->has("data-missing"));
  }
}

// The plan is drawn only on a disk that holds at least one of its sectors:
// over a disk of another layout, or one that lost every track it reads, its
// sectors would be nothing but holes. The heading says so instead.
TEST_F(DiskPictureTest, ThePlanIsDrawnOnlyWhereTheDiskHoldsSectorsOfItsKind) {
  Disk lostPlanTracks = d88build::standardDisk();
  for (int track = 36; track <= 70; ++track) lostPlanTracks.tracks.erase(track);
  Disk lostOneTrack = d88build::standardDisk();
  lostOneTrack.tracks.erase(60);
  struct Case {
    const char* what;
    Disk disk;
    int files;    // cells that carry data-file
    int missing;  // cells that carry data-missing
  };
  const Case cases[] = {
      {"a 2D disk", d88build::standardDisk(0, 40, 2, 16, 1), 0, 0},
      // Holes, as the listing counts them: "incomplete", not "none".
      {"a 2HD disk that lost every track the plan reads", lostPlanTracks, 115, 115},
      {"a 2HD disk that lost track 60", lostOneTrack, 115, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const XmlElement svg = picture({c.disk});
    int files = 0;
    int missing = 0;
    for (const XmlElement* e : elementsNamed(svg, "rect")) {
      files += e->has("data-file") ? 1 : 0;
      missing += e->has("data-missing") ? 1 : 0;
    }
    EXPECT_EQ(files, c.files);
    EXPECT_EQ(missing, c.missing);
    bool saysNone = false;
    for (const XmlElement* text : elementsNamed(svg, "text")) {
      saysNone = saysNone || text->text.find("none of the sectors d88cut reads") != std::string::npos;
    }
    EXPECT_EQ(saysNone, c.files == 0);
    // The listing's word for the same disk: "none" exactly where nothing is drawn.
    const RunResult json = ls({"--json", dir_.file("image.d88")});
    EXPECT_EQ(json.out.find("\"kind\":\"none\"") != std::string::npos, c.files == 0) << json.out;
  }
}

// The rows a picture draws, by the index of each.
std::vector<int> rowsOf(const XmlElement& svg) {
  std::vector<int> rows;
  for (const XmlElement* g : elementsNamed(svg, "g")) {
    if (g->has("data-row")) rows.push_back(std::stoi(g->attribute("data-row")));
  }
  return rows;
}

// A disk without records is drawn as far as its media byte or its track
// table names, whichever goes further, and not cut short where the plan ends.
TEST_F(DiskPictureTest, AnUnformattedDiskIsDrawnToTheLastTrackItsMediaOrTableNames) {
  struct Case {
    const char* what;
    std::uint8_t media;
    int tableTrack;  // an entry of a track without records; -1 for none
    int lastRow;
    std::size_t rows;  // one per track; a one-sided disk draws head 0's alone
  };
  const Case cases[] = {
      {"2HD", 0x20, -1, 153, 154},
      {"2D", 0x00, -1, 79, 80},
      {"2DD", 0x10, -1, 159, 160},
      {"1D, head 0 of 40 cylinders, one panel", 0x30, -1, 78, 40},
      {"2D with an entry of track 100", 0x00, 100, 100, 101},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Disk disk;
    disk.mediaType = c.media;
    if (c.tableTrack >= 0) disk.tracks[c.tableTrack] = {};
    const std::vector<int> rows = rowsOf(picture({disk}));
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.front(), 0);
    EXPECT_EQ(rows.back(), c.lastRow);
    EXPECT_EQ(rows.size(), c.rows);
  }
}

// The fill of a rect, as the legend would show it.
std::string fillOf(const XmlElement& e) { return e.attribute("fill"); }

// Whatever the picture marks, its legend shows: the colour of every state
// drawn, the hatch of a short record and of a sector d88cut lacks, the slot
// of a shared track, and the red ! of a walk that ended early.
TEST_F(DiskPictureTest, TheLegendExplainsEveryMarkThePictureShows) {
  Disk disk = damagedDisk();
  sector(disk, 8, 5).sectorCount = 0;  // the walk of track 8 ends there
  disk.sameAs = {{155, 40}};
  const XmlElement svg = picture({disk});
  const XmlElement* legend = nullptr;
  for (const XmlElement* g : elementsNamed(svg, "g")) {
    if (g->attribute("class") == "legend") legend = g;
  }
  ASSERT_NE(legend, nullptr);
  std::vector<std::string> legendFills;
  std::vector<std::string> legendTexts;
  for (const XmlElement* e : elementsNamed(*legend, "rect")) legendFills.push_back(fillOf(*e));
  for (const XmlElement* e : elementsNamed(*legend, "text")) legendTexts.push_back(e->text);
  const auto shown = [](const std::vector<std::string>& all, const std::string& one) {
    return std::find(all.begin(), all.end(), one) != all.end();
  };
  int drawn = 0;
  for (const XmlElement* g : elementsNamed(svg, "g")) {
    if (!g->has("data-row")) continue;
    for (const XmlElement* e : elementsNamed(*g, "rect")) {
      if (!e->has("data-track")) continue;  // the row's own background
      ++drawn;
      EXPECT_TRUE(shown(legendFills, fillOf(*e)))
          << "track " << e->attribute("data-track") << " R " << e->attribute("data-r") << ": "
          << fillOf(*e);
    }
  }
  EXPECT_GT(drawn, 1000);
  // The hatch of a sector d88cut lacks, and over the lacking part of a short
  // record's swatch as over its cell.
  EXPECT_EQ(std::count(legendFills.begin(), legendFills.end(), "url(#hatch)"), 2);
  int marks = 0;
  for (const XmlElement* g : elementsNamed(svg, "g")) {
    if (!g->has("data-row")) continue;
    for (const XmlElement* e : elementsNamed(*g, "text")) marks += e->text == "!" ? 1 : 0;
  }
  EXPECT_EQ(marks, 1);
  EXPECT_TRUE(shown(legendTexts, "!"));
  EXPECT_TRUE(shown(legendTexts, "walk ended early (1)"));
}

// A track that walks to the cap draws 256 cells, squeezed into a bounded
// row; layouts of 2D and 2HD keep every cell at least a pixel wide.
TEST_F(DiskPictureTest, LongTracksStayWithinTheRow) {
  Disk disk = d88build::standardDisk(0, 77, 2, 26, 1);
  disk.tracks[3].clear();
  for (int i = 0; i < d88::kMaxTrackRecords + 40; ++i) {
    Record rec;
    rec.c = 1;
    rec.h = 1;
    rec.r = static_cast<std::uint8_t>(i % 26 + 1);
    rec.n = 1;
    rec.data.assign(256, 0);
    rec.sectorCount = 0xFFFF;
    disk.tracks[3].push_back(rec);
  }
  const XmlElement svg = picture({disk}, {"0"});
  double rowStart = 1e9;
  double rowEnd = 0;
  int cells = 0;
  double svgWidth = std::stod(svg.attribute("width"));
  for (const XmlElement* e : elementsNamed(svg, "rect")) {
    if (e->attribute("data-track") != "3") continue;
    ++cells;
    const double x = std::stod(e->attribute("x"));
    const double width = std::stod(e->attribute("width"));
    EXPECT_GT(width, 1.0);
    rowStart = std::min(rowStart, x);
    rowEnd = std::max(rowEnd, x + width);
  }
  EXPECT_EQ(cells, d88::kMaxTrackRecords);
  EXPECT_LE(rowEnd - rowStart, 720.0);
  EXPECT_LE(rowEnd, svgWidth);
  // The 26 sectors of an ordinary track of the other head share its panel width.
  const std::vector<const XmlElement*> first = cellsAt(svg, 5, 1);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_GT(std::stod(first[0]->attribute("width")), 10.0);
}

TEST_F(DiskPictureTest, ErrorsAsTheListingHasThem) {
  const std::string path = dir_.write("image.d88", d88build::build({damagedDisk()}).bytes);
  struct Case {
    std::vector<std::string> args;
    std::string message;
  };
  const Case cases[] = {
      {{"--svg", "--json", path}, "d88ls: --svg and --json cannot be given together"},
      {{"--svg", path, path}, "d88ls: --svg draws one image"},
      {{"--svg", path, "0", "1"}, "d88ls: --svg draws one image"},
      {{"--svg", dir_.file("none.d88")}, "d88ls: cannot open "},
      {{"--svg", path, "3"}, "d88ls: " + path + " has no disk 3 (it holds 1)"},
  };
  for (const Case& c : cases) {
    const RunResult r = ls(c.args);
    SCOPED_TRACE(c.message);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind(c.message, 0), 0u) << r.err;
  }
}

// A picture that missed data to a failed read would show holes the disk does
// not have: whichever read fails, there is no picture, only why.
TEST_F(DiskPictureTest, AFailedReadGivesNoPicture) {
  const Bytes bytes = d88build::build({damagedDisk()}).bytes;
  const std::string path = dir_.write("image.d88", bytes);
  d88::Image image;
  auto counted = d88test::TestFile::over(bytes);
  const std::shared_ptr<d88test::FileLog> log = counted->log();
  const d88::ImageListing whole = d88::pictureImageDisk(image, path.c_str(), "0", std::move(counted));
  ASSERT_EQ(whole.error, "");
  ASSERT_NE(whole.out.find("</svg>"), std::string::npos);
  for (std::uint64_t k = 1; k <= log->reads; ++k) {
    SCOPED_TRACE(k);
    auto failing = d88test::TestFile::over(bytes);
    failing->log()->failAt(k, k % 2 == 0);
    const d88::ImageListing picture =
        d88::pictureImageDisk(image, path.c_str(), "0", std::move(failing));
    EXPECT_EQ(picture.error, "cannot read " + path + ": Input/output error");
    EXPECT_EQ(picture.out, "");
  }
}

}  // namespace

namespace {

// A 1D disk of 40 cylinders, head 0 only, cylinder c in slot c.
Disk oneSidedInEverySlot() {
  Disk disk;
  disk.mediaType = 0x30;
  for (int c = 0; c < 40; ++c) {
    for (int r = 1; r <= 16; ++r) {
      disk.tracks[c].push_back(d88build::record(c, 0, r, 1, d88build::sectorPattern(1, c, r, 256)));
    }
  }
  return disk;
}

TEST_F(DiskPictureTest, AOneSidedDiskIsOnePanelOfARowPerCylinder) {
  for (const bool everySlot : {true, false}) {
    SCOPED_TRACE(everySlot ? "every slot" : "every other slot");
    Disk disk = oneSidedInEverySlot();
    if (!everySlot) {
      Disk spread = disk;
      spread.tracks.clear();
      for (const auto& [slot, records] : disk.tracks) spread.tracks[2 * slot] = records;
      disk = spread;
    }
    // Disk 1: no cut plan to draw beside the disk's own tracks.
    const XmlElement svg = picture({Disk(), disk}, {"1"});
    std::vector<std::string> rows;
    std::vector<std::string> rowX;
    for (const XmlElement* g : elementsNamed(svg, "g")) {
      if (!g->has("data-row")) continue;
      rows.push_back(g->attribute("data-row"));
      rowX.push_back(g->children.at(0).attribute("x"));
    }
    ASSERT_EQ(rows.size(), 40u);
    EXPECT_EQ(rows.back(), everySlot ? "39" : "78");
    // Every row stands in the one panel, one below the other.
    EXPECT_EQ(std::count(rowX.begin(), rowX.end(), rowX.front()), 40);
    for (const XmlElement* text : elementsNamed(svg, "text")) {
      EXPECT_EQ(text->text.find("head 1"), std::string::npos) << text->text;
    }
  }
}

}  // namespace
