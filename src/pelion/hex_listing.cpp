// Hex listing lines, their model and the list view (see hex_listing.h).
#include "pelion/hex_listing.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QItemSelectionModel>
#include <QScrollBar>
#include <QStyle>

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace vantor::pelion {
namespace {

// "%05x: " into `out`; returns the characters written.
int FormatAddress(char* out, std::size_t room, std::uint32_t address) {
  return std::snprintf(out, room, "%05x: ", address);
}

constexpr char kHexDigits[] = "0123456789abcdef";

// The smallest pixel size a listing font is shrunk to; below it the text is not readable anyway.
constexpr int kSmallestListPixelSize = 6;

}  // namespace

QString PlaceholderLine(std::uint32_t address) {
  char text[64];
  int n = FormatAddress(text, sizeof text, address);
  for (int i = 0; i < kBytesPerLine; ++i) {
    text[n++] = '-';
    text[n++] = '-';
    text[n++] = ' ';
  }
  return QString::fromLatin1(text, n);
}

QString DataLine(std::uint32_t address, std::span<const std::uint8_t> bytes) {
  char text[64];
  int n = FormatAddress(text, sizeof text, address);
  const std::size_t count = std::min<std::size_t>(bytes.size(), kBytesPerLine);
  for (std::size_t i = 0; i < count; ++i) {
    text[n++] = kHexDigits[bytes[i] >> 4];
    text[n++] = kHexDigits[bytes[i] & 0xF];
    text[n++] = ' ';
  }
  return QString::fromLatin1(text, n);
}

std::int64_t LineIndexOf(std::uint32_t address) {
  return (static_cast<std::int64_t>(address) - static_cast<std::int64_t>(device::kWindowBase)) /
         kBytesPerLine;
}

int LineCountOf(std::int32_t length) {
  return length > 0 ? (length + 15) / kBytesPerLine : 0;
}

HexListingModel::HexListingModel(QObject* parent) : QAbstractListModel(parent) {}

int HexListingModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(m_lines.size());
}

QVariant HexListingModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount()) {
    return {};
  }
  return LineText(index.row());
}

QString HexListingModel::LineText(int row) const {
  if (row < 0 || row >= rowCount()) {
    return {};
  }
  const Line& line = m_lines[static_cast<std::size_t>(row)];
  if (!line.data) {
    return PlaceholderLine(line.address);
  }
  return DataLine(line.address, std::span(line.bytes.data(), line.count));
}

void HexListingModel::ResetToPlaceholders(std::uint32_t base, int lines) {
  beginResetModel();
  m_lines.assign(static_cast<std::size_t>(lines), Line{});
  for (int i = 0; i < lines; ++i) {
    m_lines[static_cast<std::size_t>(i)].address = base + static_cast<std::uint32_t>(i) * 16;
  }
  endResetModel();
}

HexListingModel::Line HexListingModel::MakeDataLine(const protocol::Segment& segment, int j) {
  // The segment's bytes are its first `length` bytes of data (never more than data holds).
  const auto length = std::min<std::int64_t>(segment.length, std::ssize(segment.data));
  const std::int64_t offset = static_cast<std::int64_t>(j) * kBytesPerLine;
  Line line;
  line.address = segment.address + static_cast<std::uint32_t>(offset);
  line.data = true;
  const auto count = std::clamp<std::int64_t>(length - offset, 0, kBytesPerLine);
  line.count = static_cast<std::uint8_t>(count);
  std::copy_n(segment.data.begin() + offset, count, line.bytes.begin());
  return line;
}

int HexListingModel::WriteSegment(const protocol::Segment& segment, std::int64_t first) {
  const std::int64_t lines = LineCountOf(segment.length);
  const auto count = static_cast<std::int64_t>(m_lines.size());
  int last = -1;

  // Lines that replace existing ones: [max(first, 0), min(first + lines, count)).
  const std::int64_t replaceBegin = std::max<std::int64_t>(first, 0);
  const std::int64_t replaceEnd = std::min(first + lines, count);
  if (replaceBegin < replaceEnd) {
    for (std::int64_t row = replaceBegin; row < replaceEnd; ++row) {
      m_lines[static_cast<std::size_t>(row)] = MakeDataLine(segment, static_cast<int>(row - first));
    }
    emit dataChanged(index(static_cast<int>(replaceBegin)),
                     index(static_cast<int>(replaceEnd - 1)));
    last = static_cast<int>(replaceEnd - 1);
  }

  // Lines from exactly the end on are appended one after the other.
  if (first <= count && first + lines > count) {
    const std::int64_t appendBegin = std::max(first, count);
    const std::int64_t appendEnd = first + lines;
    beginInsertRows({}, static_cast<int>(appendBegin), static_cast<int>(appendEnd - 1));
    for (std::int64_t row = appendBegin; row < appendEnd; ++row) {
      m_lines.push_back(MakeDataLine(segment, static_cast<int>(row - first)));
    }
    endInsertRows();
    last = static_cast<int>(appendEnd - 1);
  }
  return last;
}

HexListView::HexListView(QWidget* parent) : QListView(parent), m_model(this) {
  setModel(&m_model);
  setUniformItemSizes(true);  // rows of one height: the view never measures 16384 lines
  setSelectionMode(QAbstractItemView::SingleSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setFrameShape(QFrame::Box);
}

void HexListView::ResetToPlaceholders() {
  m_model.ResetToPlaceholders(device::kWindowBase, kWindowLines);
}

void HexListView::ListSegment(const protocol::Segment& segment, std::int64_t first) {
  const int last = m_model.WriteSegment(segment, first);
  if (last >= 0) {
    const QModelIndex caret = m_model.index(last);
    selectionModel()->setCurrentIndex(caret, QItemSelectionModel::NoUpdate);
    scrollTo(caret);
  }
}

void HexListView::ListSegmentsFromTop(const protocol::SegmentList& segments) {
  std::int64_t first = 0;
  for (const protocol::Segment& segment : segments) {
    ListSegment(segment, first);
    first += LineCountOf(segment.length);
  }
}

int HexListView::caretLine() const {
  const QModelIndex current = currentIndex();
  return current.isValid() ? current.row() : -1;
}

int HexListView::LineWidth(const QString& text) const {
  // The item delegate pads the text by the focus frame's margin plus one on either side.
  const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
  return fontMetrics().horizontalAdvance(text) + 2 * margin;
}

int HexListView::AvailableLineWidth() const {
  const int scrollBar =
      style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, verticalScrollBar());
  return contentsRect().width() - scrollBar;
}

QFont HexListView::SetFontToFit(QFont font) {
  // The widest line: the highest address, then every byte in the widest hex digit.
  char widest = '0';
  const QFontMetrics start(font);
  for (char digit : std::string_view(kHexDigits, 16)) {
    if (start.horizontalAdvance(QLatin1Char(digit)) >
        start.horizontalAdvance(QLatin1Char(widest))) {
      widest = digit;
    }
  }
  const std::uint8_t widestByte =
      static_cast<std::uint8_t>((widest <= '9' ? widest - '0' : widest - 'a' + 10) * 0x11);
  std::array<std::uint8_t, kBytesPerLine> bytes{};
  bytes.fill(widestByte);
  const std::uint32_t lastLine =
      device::kWindowBase + static_cast<std::uint32_t>(device::kWindowSize - kBytesPerLine);
  const QString lines[] = {PlaceholderLine(lastLine), DataLine(lastLine, bytes)};

  int size = font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize();
  for (;; --size) {
    font.setPixelSize(size);
    setFont(font);
    int needed = 0;
    for (const QString& line : lines) {
      needed = std::max(needed, LineWidth(line));
    }
    if (needed <= AvailableLineWidth() || size <= kSmallestListPixelSize) {
      return font;
    }
  }
}

}  // namespace vantor::pelion
