// The hex listings of Pelion: the line formats, a model that holds one state per line (placeholder
// or up to 16 data bytes) and makes each line's text when the view asks for it, and the list view
// over it. A segment is written into the model in one update, and the caret follows the last line
// written.
#pragma once

#include <QAbstractListModel>
#include <QFont>
#include <QListView>
#include <QString>

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "device/memory_map.h"
#include "protocol/segments.h"

namespace vantor::pelion {

// The device's memory window that the main listing maps: one line per 16 bytes.
inline constexpr int kBytesPerLine = 16;
inline constexpr int kWindowLines = device::kWindowSize / kBytesPerLine;  // 16384

// "%05x: " followed by "-- " sixteen times.
QString PlaceholderLine(std::uint32_t address);
// "%05x: " followed by "%02x " for each byte (at most 16).
QString DataLine(std::uint32_t address, std::span<const std::uint8_t> bytes);

// The line index of `address` in the main listing: (address - 0x100000) / 16, truncated toward 0.
std::int64_t LineIndexOf(std::uint32_t address);
// The number of lines a segment of `length` bytes takes: (length + 15) / 16.
int LineCountOf(std::int32_t length);

class HexListingModel : public QAbstractListModel {
 public:
  // A line written at the index just past the end is appended, so a listing grows from there
  // (the upload log window starts empty; a firmware image longer than the window runs on past
  // 13fff0:). Lines before the start or further past the end are not shown.
  explicit HexListingModel(QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

  // Every line a placeholder, `lines` lines from `base` on (one model reset).
  void ResetToPlaceholders(std::uint32_t base, int lines);
  // Writes the data lines of `segment` from line `first` on: replaced lines in one dataChanged,
  // appended ones in one insert. Returns the last line written, or -1 when none was.
  int WriteSegment(const protocol::Segment& segment, std::int64_t first);

  QString LineText(int row) const;

 private:
  struct Line {
    std::uint32_t address = 0;
    std::uint8_t count = 0;  // data bytes; 0 with `data` false is a placeholder
    bool data = false;
    std::array<std::uint8_t, kBytesPerLine> bytes{};
  };
  static Line MakeDataLine(const protocol::Segment& segment, int j);

  std::vector<Line> m_lines;
};

// A list box of hex lines: fixed-pitch text, unsorted, uniform rows.
class HexListView : public QListView {
 public:
  explicit HexListView(QWidget* parent = nullptr);

  HexListingModel& listing() { return m_model; }
  const HexListingModel& listing() const { return m_model; }
  int lineCount() const { return m_model.rowCount(); }
  QString lineText(int row) const { return m_model.LineText(row); }

  // The 16384 placeholder lines of the window (dropping any lines it grew past them).
  void ResetToPlaceholders();
  // Writes `segment` from line `first` on and moves the caret to its last line, scrolled into view.
  void ListSegment(const protocol::Segment& segment, std::int64_t first);
  // Lists the segments one after the other from line 0.
  void ListSegmentsFromTop(const protocol::SegmentList& segments);
  // The caret's line, -1 for none.
  int caretLine() const;

  // Sets `font` on the view at the largest pixel size, up to its own, at which the widest line
  // (address and 16 bytes) fits the view's width beside the vertical scroll bar, so no line is
  // ever cut or needs sideways scrolling. Returns the font set.
  QFont SetFontToFit(QFont font);
  // The pixel width a line of `text` takes in this view: its glyphs plus the item's margins.
  int LineWidth(const QString& text) const;
  // The width lines may take: the view's inside less the vertical scroll bar.
  int AvailableLineWidth() const;

 private:
  HexListingModel m_model;
};

}  // namespace vantor::pelion
