#include "picture_svg.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <utility>

#include "console.h"
#include "text_format.h"
#include "xml_text.h"

namespace d88 {
namespace {

constexpr int kStateCount = 10;
static_assert(static_cast<int>(CellState::kTwin) + 1 == kStateCount, "every state is counted");

// Fill colours, told apart on screen and in print: bad statuses in reds and
// browns, short in yellow, twin teal, foreign purple, deleted light blue.
const char* stateColour(CellState state) {
  switch (state) {
    case CellState::kSound:
      return "#6abf69";
    case CellState::kDeleted:
      return "#8fb8de";
    case CellState::kIdCrc:
      return "#8e0c24";
    case CellState::kDataCrc:
      return "#e5322d";
    case CellState::kNoAddressMark:
      return "#f07c1e";
    case CellState::kNoDataMark:
      return "#a0522d";
    case CellState::kUnknownStatus:
      return "#d6409f";
    case CellState::kShort:
      return "#f5d33b";
    case CellState::kForeign:
      return "#7e57c2";
    case CellState::kTwin:
      return "#26a6a6";
  }
  return "#000000";
}

// What a legend entry says beside the state's name: for a status, the
// reader's words for it.
std::string stateWords(CellState state) {
  switch (state) {
    case CellState::kSound:
      return "sound";
    case CellState::kDeleted:
      return statusMeaning(kStatusDeletedData);
    case CellState::kIdCrc:
      return statusMeaning(kStatusIdCrcError);
    case CellState::kDataCrc:
      return statusMeaning(kStatusDataCrcError);
    case CellState::kNoAddressMark:
      return statusMeaning(kStatusNoAddressMark);
    case CellState::kNoDataMark:
      return statusMeaning(kStatusNoDataMark);
    case CellState::kUnknownStatus:
      return "unknown status";
    case CellState::kShort:
      return "short data";
    case CellState::kForeign:
      return "C/H not the track's";
    case CellState::kTwin:
      return "identity seen twice";
  }
  return "";
}

// ---- Geometry, in SVG user units (pixels at 100 %) ----

constexpr double kMargin = 16;
constexpr double kLabelWidth = 34;   // the track numbers before each panel
constexpr double kPanelGap = 20;
constexpr double kPanelWidth = 480;  // a track of the disk's usual layout fills this
constexpr double kMaxRowWidth = 720;  // a longer track is squeezed into this
constexpr double kMinCellWidth = 2;
constexpr double kRowPitch = 14;
constexpr double kCellHeight = 12;
constexpr double kLegendItemWidth = 172;
constexpr int kLegendColumns = 6;
constexpr double kLegendPitch = 18;
// Bytes that fill a panel when the disk has no usual layout: 8 x 1,024.
constexpr double kDefaultTrackBytes = 8192;
// The mark of a track whose records are an earlier track's: as wide as that
// track's records, and never too narrow for its words.
constexpr double kMinSharedWidth = 64;
constexpr const char* kSharedFill = "#cfd8dc";
constexpr const char* kSharedStroke = " stroke=\"#546e7a\" stroke-width=\"1\"";

// A number as an attribute value: one decimal, no locale.
std::string num(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::string hex(std::int64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

// One cell of a track's row: a record, or a plan sector the track lacks.
struct Cell {
  const SectorRecord* record = nullptr;  // nullptr: a missing plan sector
  const PlanSlot* slot = nullptr;        // the plan sector it is, if any
  CellState state = CellState::kSound;
  bool twin = false;
  double bytes = 0;  // what its width stands for
};

std::string recordTitle(const TrackListing& t, const Cell& cell) {
  const SectorRecord& r = *cell.record;
  const SectorId& id = r.id;
  std::string title = "track " + std::to_string(t.track) + ": C " + std::to_string(id.c) +
                      ", H " + std::to_string(id.h) + ", R " + std::to_string(id.r) + ", N " +
                      std::to_string(id.n);
  title += "\nstatus: " + statusMeaning(r.status);
  if (r.deletedMark == kDeletedDataMark) title += ", deleted-data mark";
  title += std::string("\ndensity: ") + (r.density == kDensitySingle ? "single" : "double");
  title += "\nsize: " + std::to_string(r.dataSize) + " bytes";
  if (r.dataAvailable < r.dataSize) {
    title += ", " + std::to_string(r.dataAvailable) + " in the image";
  }
  const std::int32_t nominal = sectorBytes(id.n);
  if (nominal != static_cast<std::int32_t>(r.dataSize)) {
    title += nominal > 0 ? " (N " + std::to_string(id.n) + " is " + std::to_string(nominal) + ")"
                         : " (N out of range)";
  }
  title += "\noffset: " + std::to_string(r.headerOffset) + " (" + hex(r.headerOffset) +
           "), the record header";
  title += std::string("\nstate: ") + cellStateName(cell.state);
  if (cell.twin) title += "\nanother record of the track has the same C, H, R, N";
  if (id.c != t.c || id.h != t.h) {
    title += "\nthe track's own C, H are " + std::to_string(t.c) + ", " + std::to_string(t.h);
  }
  if (cell.slot != nullptr) title += std::string("\nread by d88cut for ") + cell.slot->file;
  return title;
}

std::string missingTitle(const PlanSlot& slot) {
  const SectorOutcome& o = slot.outcome;
  std::string title = sectorAddressText(o.address) + ": not on the disk";
  title += std::string("\nd88cut reads it for ") + slot.file;
  if (!o.status.ok()) title += "\n" + safeUtf8(o.status.toString());
  return title;
}

// Where the rows and panels stand: a panel per head, a row per cylinder, as
// the disk's layout places each track.
struct Frame {
  DiskLayout layout;
  double panelWidth = kPanelWidth;
  double rowsTop = 0;
  double width = 0;
  double height = 0;
  double panelX(int head) const {
    return kMargin + kLabelWidth + head * (panelWidth + kPanelGap + kLabelWidth);
  }
  double rowY(int track) const { return rowsTop + layout.cylinderOf(track) * kRowPitch; }
};

class SvgWriter {
 public:
  explicit SvgWriter(const DiskPicture& picture) : p_(picture) {}

  std::string write() {
    placeCells();
    layOut();
    out_.reserve(256 * 1024);
    header();
    legend();
    for (int track = 0; track <= p_.lastTrack; ++track) {
      // A one-sided disk kept in every other slot has one panel: the slots
      // of head 1 between its tracks hold nothing to draw.
      if (frame_.layout.heads == 1 && frame_.layout.headOf(track) != 0) continue;
      row(track);
    }
    out_ += "</svg>\n";
    return std::move(out_);
  }

 private:
  // The cells of every track, records first in record order, then the plan
  // sectors the track lacks in plan order.
  void placeCells() {
    for (const TrackListing& t : p_.tracks) {
      if (t.track >= 0 && t.track < kTrackCount) listings_[static_cast<std::size_t>(t.track)] = &t;
    }
    // The plan's cuts share no sector; a record read by two would show the first.
    std::map<std::int64_t, const PlanSlot*> planRecords;
    for (const PlanSlot& slot : p_.plan) {
      if (slot.outcome.found) planRecords.emplace(slot.outcome.record.headerOffset, &slot);
    }
    for (const TrackListing& t : p_.tracks) {
      if (t.track < 0 || t.track >= kTrackCount) continue;
      if (t.sameAs >= 0) ++sharedRows_;
      std::vector<Cell>& cells = cells_[static_cast<std::size_t>(t.track)];
      const std::vector<bool> twins = twinRecords(t);
      for (std::size_t i = 0; i < t.records.size(); ++i) {
        Cell cell;
        cell.record = &t.records[i];
        cell.twin = twins[i];
        cell.state = recordState(t.records[i], t.c, t.h, cell.twin);
        // A short record keeps the width its size code gives, so that the
        // slot shows where the sector should be and what of it is lacking.
        cell.bytes = t.records[i].dataSize;
        if (cell.state == CellState::kShort) {
          cell.bytes = std::max<double>(cell.bytes, sectorBytes(t.records[i].id.n));
        }
        const auto plan = planRecords.find(t.records[i].headerOffset);
        if (plan != planRecords.end()) cell.slot = plan->second;
        ++counts_[static_cast<std::size_t>(cell.state)];
        cells.push_back(cell);
      }
    }
    for (const PlanSlot& slot : p_.plan) {
      const int track = slot.outcome.address.track;
      if (slot.outcome.found || track < 0 || track >= kTrackCount) continue;
      Cell cell;
      cell.slot = &slot;
      cell.bytes = sectorBytes(slot.outcome.address.n);
      cells_[static_cast<std::size_t>(track)].push_back(cell);
      ++missing_;
    }
    for (int track = 0; track < kTrackCount; ++track) {
      if (endMarked(track)) ++endMarks_;
    }
  }

  // Whether row `track` ends with the red mark of a walk that ended early:
  // a row drawn with cells whose walk did not end at its record count.
  bool endMarked(int track) const {
    const TrackListing* t = listings_[static_cast<std::size_t>(track)];
    return t != nullptr && t->end != TrackEnd::kRecordCount &&
           (!cells_[static_cast<std::size_t>(track)].empty() || t->sameAs >= 0);
  }

  void layOut() {
    const TrackCounts& counts = p_.disk.counts;
    const double usual =
        static_cast<double>(counts.usualRecords) * sectorBytes(counts.usualSizeCode);
    scale_ = kPanelWidth / (usual > 0 ? usual : kDefaultTrackBytes);
    double widest = kPanelWidth;
    for (int track = 0; track < kTrackCount; ++track) widest = std::max(widest, rowWidth(track));
    frame_.panelWidth = std::min(widest, kMaxRowWidth);
    const int items = legendItems();
    const int legendRows = (items + kLegendColumns - 1) / kLegendColumns;
    legendTop_ = 58;
    frame_.rowsTop = legendTop_ + legendRows * kLegendPitch + 26;
    frame_.layout = p_.disk.counts.layout;
    // A disk without records has only its media byte to say its sides.
    if (!frame_.layout.hasRecords &&
        (p_.disk.mediaType == kMedia1D || p_.disk.mediaType == kMedia1DD)) {
      frame_.layout.heads = 1;
    }
    const int rows = p_.lastTrack >= 0 ? frame_.layout.cylinderOf(p_.lastTrack) + 1 : 1;
    frame_.width = std::max(frame_.panelX(frame_.layout.heads - 1) + frame_.panelWidth + kMargin,
                            2 * kMargin + kLegendColumns * kLegendItemWidth);
    frame_.height = frame_.rowsTop + rows * kRowPitch + kMargin;
  }

  double naturalWidth(const std::vector<Cell>& cells) const {
    double width = 0;
    for (const Cell& cell : cells) width += std::max(kMinCellWidth, cell.bytes * scale_);
    return width;
  }

  // The track whose records `track` shares; -1 when it is drawn with its own.
  int sharedWith(int track) const {
    const TrackListing* t = listings_[static_cast<std::size_t>(track)];
    return t != nullptr ? t->sameAs : -1;
  }

  // How wide a row draws its records, as squeezed into the row.
  double recordsWidth(int track) const {
    const std::vector<Cell>& cells = cells_[static_cast<std::size_t>(track)];
    const double natural = naturalWidth(cells);
    const double squeeze = natural > kMaxRowWidth ? kMaxRowWidth / natural : 1.0;
    double width = 0;
    for (const Cell& cell : cells) {
      if (cell.record != nullptr) width += std::max(kMinCellWidth, cell.bytes * scale_) * squeeze;
    }
    return width;
  }

  // The width of a shared track's mark: that of the records it stands for.
  double sharedWidth(int track) const {
    const int same = sharedWith(track);
    return same < 0 ? 0 : std::max(kMinSharedWidth, recordsWidth(same));
  }

  // A row's natural width: its mark, if it shares, and its cells.
  double rowWidth(int track) const {
    return sharedWidth(track) + naturalWidth(cells_[static_cast<std::size_t>(track)]);
  }

  int legendItems() const {
    int items = 0;
    for (int count : counts_) items += count > 0 ? 1 : 0;
    if (sharedRows_ > 0) ++items;
    if (endMarks_ > 0) ++items;
    if (!p_.plan.empty()) items += missing_ > 0 ? 2 : 1;
    return std::max(items, 1);
  }

  void header() {
    const DiskSummary& d = p_.disk;
    out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out_ += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + num(frame_.width) +
            "\" height=\"" + num(frame_.height) + "\" viewBox=\"0 0 " + num(frame_.width) + " " +
            num(frame_.height) +
            "\" font-family=\"DejaVu Sans, Verdana, Arial, sans-serif\">\n";
    const std::string heading = "disk " + std::to_string(d.index) + " of " +
                                safeUtf8(p_.imagePath);
    out_ += "<title>" + xmlText(heading) + "</title>\n";
    out_ +=
        "<defs><pattern id=\"hatch\" patternUnits=\"userSpaceOnUse\" width=\"4\" height=\"4\">"
        "<rect width=\"4\" height=\"4\" fill=\"#ffffff\"/>"
        "<path d=\"M0,4 L4,0\" stroke=\"#777777\" stroke-width=\"0.9\"/></pattern></defs>\n";
    out_ += "<rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n";
    out_ += "<text x=\"" + num(kMargin) + "\" y=\"26\" font-size=\"15\" font-weight=\"bold\">d88ls: " +
            xmlText(heading) + "</text>\n";
    const char* media = mediaName(d.mediaType);
    std::string facts = "name \"" + displayName(d.name) + "\", media " +
                        (media != nullptr ? std::string(media) : hex(d.mediaType)) + ", " +
                        trackCountsText(d.counts);
    if (!p_.plan.empty()) facts += ", outlined: the sectors d88cut reads";
    if (p_.planNotHeld) facts += ", holds none of the sectors d88cut reads";
    out_ += "<text x=\"" + num(kMargin) + "\" y=\"44\" font-size=\"11\">" + xmlText(facts) +
            "</text>\n";
    const DiskLayout& layout = frame_.layout;
    for (int head = 0; head < layout.heads; ++head) {
      const char* which = layout.everySlot ? " (every track: one-sided)"
                          : layout.heads == 1 ? " (even tracks: one-sided)"
                          : head == 0         ? " (even tracks)"
                                              : " (odd tracks)";
      out_ += "<text x=\"" + num(frame_.panelX(head)) + "\" y=\"" + num(frame_.rowsTop - 6) +
              "\" font-size=\"11\" font-weight=\"bold\">head " + std::to_string(head) + which +
              "</text>\n";
    }
  }

  double legendX(int index) const { return kMargin + (index % kLegendColumns) * kLegendItemWidth; }
  double legendY(int index) const { return legendTop_ + (index / kLegendColumns) * kLegendPitch; }

  void legendText(int index, const std::string& text) {
    out_ += "<text x=\"" + num(legendX(index) + 25) + "\" y=\"" + num(legendY(index) + 10) +
            "\" font-size=\"10\">" + xmlText(text) + "</text>\n";
  }

  void legendItem(int index, const std::string& fill, const std::string& stroke,
                  const std::string& text) {
    out_ += "<rect x=\"" + num(legendX(index)) + "\" y=\"" + num(legendY(index)) +
            "\" width=\"20\" height=\"12\" fill=\"" + fill + "\"" + stroke + "/>";
    legendText(index, text);
  }

  // Only the states the disk shows, with their counts.
  void legend() {
    out_ += "<g class=\"legend\">\n";
    int index = 0;
    for (int s = 0; s < kStateCount; ++s) {
      const int count = counts_[static_cast<std::size_t>(s)];
      if (count == 0) continue;
      const auto state = static_cast<CellState>(s);
      legendItem(index, stateColour(state), "",
                 stateWords(state) + " (" + std::to_string(count) + ")");
      // A short record's cell hatches the part the image lacks: so does its swatch.
      if (state == CellState::kShort) {
        out_ += "<rect x=\"" + num(legendX(index) + 12) + "\" y=\"" + num(legendY(index)) +
                "\" width=\"8\" height=\"12\" fill=\"url(#hatch)\"/>\n";
      }
      ++index;
    }
    if (sharedRows_ > 0) {
      legendItem(index++, kSharedFill, kSharedStroke,
                 "shared track (" + std::to_string(sharedRows_) + ")");
    }
    if (endMarks_ > 0) {
      out_ += "<text x=\"" + num(legendX(index) + 6) + "\" y=\"" + num(legendY(index) + 11) +
              "\" font-size=\"11\" font-weight=\"bold\" fill=\"#c00000\">!</text>";
      legendText(index++, "walk ended early (" + std::to_string(endMarks_) + ")");
    }
    if (!p_.plan.empty()) {
      legendItem(index++, "#ffffff", " stroke=\"#111111\" stroke-width=\"1.5\"",
                 "read by d88cut (" + std::to_string(p_.plan.size() - missing_) + ")");
      if (missing_ > 0) {
        legendItem(index++, "url(#hatch)",
                   " stroke=\"#111111\" stroke-width=\"1\" stroke-dasharray=\"2,1.5\"",
                   "d88cut's, missing (" + std::to_string(missing_) + ")");
      }
    }
    if (index == 0) legendItem(index++, "#f2f2f2", "", "no records");
    out_ += "</g>\n";
  }

  void row(int track) {
    const int head = frame_.layout.headOf(track);
    const double x0 = frame_.panelX(head);
    const double y = frame_.rowY(track);
    const TrackListing* t = listings_[static_cast<std::size_t>(track)];
    const std::vector<Cell>& cells = cells_[static_cast<std::size_t>(track)];

    const int same = sharedWith(track);
    std::string about = "track " + std::to_string(track) + " (C " +
                        std::to_string(frame_.layout.cylinderOf(track)) +
                        ", H " + std::to_string(head) + "): ";
    if (same >= 0) {
      about += sameRecordsText(same);
    } else if (t == nullptr || t->records.empty()) {
      about += t != nullptr && t->end == TrackEnd::kReadError ? trackEndText(*t) : "absent";
    } else {
      about += std::to_string(t->records.size()) +
               (t->records.size() == 1 ? " record" : " records");
      const std::string ending = trackEndText(*t);
      if (!ending.empty()) about += "; " + ending;
    }
    out_ += "<g data-row=\"" + std::to_string(track) + "\"><rect x=\"" + num(x0) + "\" y=\"" +
            num(y) + "\" width=\"" + num(frame_.panelWidth) + "\" height=\"" + num(kCellHeight) +
            "\" fill=\"#f2f2f2\"/><text x=\"" + num(x0 - 4) + "\" y=\"" + num(y + 9.5) +
            "\" font-size=\"9\" text-anchor=\"end\"><title>" + xmlText(about) + "</title>" +
            std::to_string(track) + "</text>\n";
    if (cells.empty() && same < 0) {
      out_ += "<text x=\"" + num(x0 + 4) + "\" y=\"" + num(y + 9.5) +
              "\" font-size=\"8.5\" fill=\"#888888\">" +
              (t != nullptr && t->end == TrackEnd::kReadError ? "read error" : "no track") +
              "</text></g>\n";
      return;
    }
    const double natural = rowWidth(track);
    const double squeeze = natural > kMaxRowWidth ? kMaxRowWidth / natural : 1.0;
    double x = x0;
    std::string labels;
    if (same >= 0) {
      const double width = sharedWidth(track) * squeeze;
      sharedMark(track, same, x, y, width - 1, about);
      x += width;
    }
    for (const Cell& cell : cells) {
      const double width = std::max(kMinCellWidth, cell.bytes * scale_) * squeeze;
      const double drawn = width > 2 ? width - 1 : width * 0.6;
      cellElement(t, track, cell, x, y, drawn);
      if (cell.slot != nullptr && cell.slot->first) {
        labels += "<text x=\"" + num(x + 2) + "\" y=\"" + num(y + 9) +
                  "\" font-size=\"8.5\" font-weight=\"bold\" stroke=\"#ffffff\" "
                  "stroke-width=\"2.2\" paint-order=\"stroke\" pointer-events=\"none\">" +
                  cell.slot->file + "</text>\n";
      }
      x += width;
    }
    if (endMarked(track)) {
      labels += "<text x=\"" + num(x + 2) + "\" y=\"" + num(y + 10) +
                "\" font-size=\"11\" font-weight=\"bold\" fill=\"#c00000\"><title>" +
                xmlText(trackEndText(*t)) + "</title>!</text>\n";
    }
    out_ += labels + "</g>\n";
  }

  static std::string sameRecordsText(int same) {
    return "the same records as track " + std::to_string(same);
  }

  // In place of the records of a track that shares them: one slot that names
  // the track they are drawn in.
  void sharedMark(int track, int same, double x, double y, double width,
                  const std::string& about) {
    out_ += "<rect x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"" + num(width) +
            "\" height=\"" + num(kCellHeight) + "\" fill=\"" + kSharedFill + "\"" + kSharedStroke +
            " data-track=\"" + std::to_string(track) + "\" data-same-as=\"" +
            std::to_string(same) + "\"><title>" + xmlText(about) + "</title></rect>\n";
    out_ += "<text x=\"" + num(x + 3) + "\" y=\"" + num(y + 9) +
            "\" font-size=\"8.5\" fill=\"#263238\" pointer-events=\"none\">= track " +
            std::to_string(same) + "</text>\n";
  }

  void cellElement(const TrackListing* t, int track, const Cell& cell, double x, double y,
                   double width) {
    const int r = cell.record != nullptr ? cell.record->id.r : cell.slot->outcome.address.r;
    out_ += "<rect x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"" + num(width) +
            "\" height=\"" + num(kCellHeight) + "\"";
    if (cell.record == nullptr) {
      out_ += " fill=\"url(#hatch)\" stroke=\"#111111\" stroke-width=\"1\" "
              "stroke-dasharray=\"2,1.5\" data-missing=\"1\"";
    } else {
      out_ += std::string(" fill=\"") + stateColour(cell.state) + "\"";
      if (cell.slot != nullptr) out_ += " stroke=\"#111111\" stroke-width=\"1.2\"";
    }
    out_ += " data-track=\"" + std::to_string(track) + "\" data-r=\"" + std::to_string(r) + "\"";
    if (cell.record != nullptr) {
      out_ += std::string(" data-state=\"") + cellStateName(cell.state) + "\"";
    }
    if (cell.slot != nullptr) out_ += std::string(" data-file=\"") + cell.slot->file + "\"";
    const std::string title =
        cell.record != nullptr ? recordTitle(*t, cell) : missingTitle(*cell.slot);
    out_ += "><title>" + xmlText(title) + "</title></rect>\n";
    // The part of a short record the image lacks, hatched over its slot.
    if (cell.record != nullptr && cell.state == CellState::kShort && cell.bytes > 0) {
      const double held =
          std::clamp(static_cast<double>(cell.record->dataAvailable) / cell.bytes, 0.0, 1.0);
      if (held < 1) {
        out_ += "<rect x=\"" + num(x + width * held) + "\" y=\"" + num(y) + "\" width=\"" +
                num(width * (1 - held)) + "\" height=\"" + num(kCellHeight) +
                "\" fill=\"url(#hatch)\" pointer-events=\"none\"/>\n";
      }
    }
  }

  const DiskPicture& p_;
  std::array<const TrackListing*, kTrackCount> listings_{};
  std::array<std::vector<Cell>, kTrackCount> cells_;
  std::array<int, kStateCount> counts_{};
  std::size_t missing_ = 0;  // plan sectors the disk lacks
  int sharedRows_ = 0;       // tracks drawn as another's records
  int endMarks_ = 0;         // rows that end with the mark of a walk that ended early
  double scale_ = 1;
  double legendTop_ = 0;
  Frame frame_;
  std::string out_;
};

}  // namespace

std::string diskPictureSvg(const DiskPicture& picture) { return SvgWriter(picture).write(); }

}  // namespace d88
