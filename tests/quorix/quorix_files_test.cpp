// Areas, taking files in (chooser path, drops) and the size rules of each area.
#include "device/memory_map.h"
#include "quorix_fixture.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QTimeZone>
#include <QTimer>

namespace vantor::quorix::testing {
namespace {

using vantor::testing::ReadFileBytes;

const QString kWrongFile = QString::fromUtf8("잘못된 파일입니다.");
const QString kWrongBlock = QString("Wrong Block Size");

TEST_F(QuorixTest, ChooserFiltersBinaryFilesFirstAndAllFilesIncludingThoseWithoutAnExtension) {
  for (const char* name : {"code.bin", "firmware", "notes.txt"})
    MakeFile(name, 10);
  const QStringList filters = OpenFileFilter().split(";;");
  ASSERT_EQ(filters.size(), 2);
  auto listed = [&](const QString& filter) {
    // The patterns between the filter's parentheses, as the chooser applies them.
    const QStringList patterns = filter.section('(', 1).chopped(1).split(' ');
    return QDir(QString::fromStdString(m_dir.path().string())).entryList(patterns, QDir::Files);
  };
  EXPECT_TRUE(filters[0].startsWith("Binary"));
  EXPECT_EQ(listed(filters[0]), QStringList({"code.bin"}));
  EXPECT_TRUE(filters[1].startsWith("All"));
#ifdef _WIN32
  // Windows' own chooser matches "*.*" to every name, with a dot or without; QDir does not.
  EXPECT_EQ(filters[1], QString("All (*.*)"));
#else
  EXPECT_EQ(listed(filters[1]), QStringList({"code.bin", "firmware", "notes.txt"}));
#endif
}

// "Load Binary File": the chooser offers the filters, "Binary" chosen; confirming a file takes it
// in, cancelling changes nothing.
TEST_F(QuorixTest, LoadBinaryFileChooserConfirmedTakesTheFileInAndCancelledDoesNothing) {
  OpenDialog();
  const auto file = MakeFile("chosen.bin", 300);
  for (const bool confirm : {false, true}) {
    SCOPED_TRACE(confirm ? "confirmed" : "cancelled");
    QStringList filters;
    QString selectedFilter;
    QTimer::singleShot(0, [&] {
      auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
      ASSERT_NE(chooser, nullptr);
      filters = chooser->nameFilters();
      selectedFilter = chooser->selectedNameFilter();
      if (confirm) {
        chooser->selectFile(QString::fromStdString(file.string()));
        static_cast<QDialog*>(chooser)->accept();  // QFileDialog's own is protected
      } else {
        chooser->reject();
      }
    });
    Click(m_dialog->loadButton());
    EXPECT_EQ(filters, OpenFileFilter().split(";;"));
    EXPECT_EQ(selectedFilter, filters.value(0));
    if (!confirm) {
      EXPECT_TRUE(m_dialog->pathField()->text().isEmpty());
      EXPECT_TRUE(m_dialog->infoPane()->text().isEmpty());
      EXPECT_TRUE(m_dialog->segments().empty());
      continue;
    }
    EXPECT_EQ(m_dialog->pathField()->text(),
              QDir::toNativeSeparators(QString::fromStdString(file.string())));
    EXPECT_TRUE(m_dialog->infoPane()->text().startsWith("file name : chosen.bin\r\n"));
    ASSERT_EQ(m_dialog->segments().size(), 1u);
    EXPECT_EQ(m_dialog->segments().begin()->address, 0x108000u);
    EXPECT_EQ(m_dialog->segments().begin()->length, 300);
  }
  EXPECT_TRUE(m_messages.empty());
}

// The path field shows the system's own separators, however the path was written (Qt's choosers
// and drops give '/' on Windows too).
TEST_F(QuorixTest, PathFieldShowsNativeSeparators) {
  OpenDialog();
  const auto file = MakeFile("native.bin", 16);
  const QString slashes = QDir::fromNativeSeparators(QString::fromStdString(file.string()));
  m_dialog->LoadBinaryFile(slashes);
  EXPECT_EQ(m_dialog->pathField()->text(), QDir::toNativeSeparators(slashes));
#ifdef _WIN32
  EXPECT_FALSE(m_dialog->pathField()->text().contains('/'));
  EXPECT_TRUE(m_dialog->pathField()->text().contains('\\'));
#endif
  EXPECT_EQ(m_dialog->segments().size(), 1u);
}

TEST_F(QuorixTest, AreaFieldAndFlagsFollowTheSelectedArea) {
  OpenDialog();
  struct Row {
    const char* name;
    const char* field;
    std::uint32_t flags;
  };
  for (const Row& row :
       {Row{"OEM", "0x03cc00(13312)", 0}, Row{"BOOT", "0x000000(32768)", 0},
        Row{"PARAMETER", "0x03c000(3072)", 0}, Row{"CODE", "0x008000(98304)", 0x3C690000}}) {
    SelectArea(row.name);
    EXPECT_EQ(m_dialog->areaField()->text(), QString(row.field)) << row.name;
    EXPECT_EQ(m_dialog->downloadFlags(), row.flags) << row.name;
    EXPECT_FALSE(m_dialog->areaField()->isEnabled());
  }
}

struct SizeCase {
  const char* area;
  std::size_t size;
  const char* message;  // null: accepted
  std::uint32_t address;
};

TEST_F(QuorixTest, EachAreaAppliesItsSizeRule) {
  const SizeCase cases[] = {
      {"CODE", 98304, nullptr, 0x108000},
      {"CODE", 98305, "잘못된 파일입니다.", 0},
      {"CODE", 1, nullptr, 0x108000},
      {"OEM", 13312, nullptr, 0x13CC00},
      {"OEM", 13311, "Wrong Block Size", 0},
      {"PARAMETER", 3072, nullptr, 0x13C000},
      {"PARAMETER", 3073, "Wrong Block Size", 0},
      {"BOOT", 40000, nullptr, 0x100000},
  };
  for (const SizeCase& c : cases) {
    SCOPED_TRACE(std::string(c.area) + " " + std::to_string(c.size));
    OpenDialog();
    m_messages.clear();
    SelectArea(c.area);
    const auto file = MakeFile("image.bin", c.size);
    m_dialog->LoadBinaryFile(QString::fromStdString(file.string()));
    // Path field and pane show the file in every case.
    EXPECT_EQ(m_dialog->pathField()->text().toStdString(), file.string());
    EXPECT_EQ(m_dialog->fileSize(), static_cast<std::int32_t>(c.size));
    EXPECT_TRUE(m_dialog->infoPane()->text().startsWith(
        "file name : image.bin\r\nfile size : " + QString::number(c.size) + "\r\n"));
    if (c.message == nullptr) {
      EXPECT_TRUE(m_messages.empty());
      ASSERT_EQ(m_dialog->segments().size(), 1u);
      const protocol::Segment& s = *m_dialog->segments().begin();
      EXPECT_EQ(s.address, c.address);
      EXPECT_EQ(s.length, static_cast<std::int32_t>(c.size));
      EXPECT_EQ(s.data, ReadFileBytes(file));
    } else {
      ASSERT_EQ(m_messages.size(), 1u);
      EXPECT_EQ(m_messages[0], QString::fromUtf8(c.message));
      EXPECT_TRUE(m_dialog->segments().empty());
    }
    m_dialog.reset();
  }
}

TEST_F(QuorixTest, FileInformationShowsNameSizeAndUtcDate) {
  OpenDialog();
  const auto file = MakeFile("dated.bin", 10);
  {
    QFile f(QString::fromStdString(file.string()));
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(QDateTime(QDate(2021, 3, 4), QTime(5, 6, 7), QTimeZone::utc()),
                              QFileDevice::FileModificationTime));
  }
  m_dialog->LoadBinaryFile(QString::fromStdString(file.string()));
  EXPECT_EQ(m_dialog->infoPane()->text(), QString("file name : dated.bin\r\nfile size : 10\r\n"
                                                  "file date : 2021.03.04 05:06:07\r\n"));
  // A second file adds its lines below.
  m_dialog->LoadBinaryFile(QString::fromStdString(MakeFile("second", 3).string()));
  EXPECT_TRUE(m_dialog->infoPane()->text().contains("file name : second\r\nfile size : 3\r\n"));
}

TEST_F(QuorixTest, MissingFileShowsNothingAndAddsNoSegment) {
  OpenDialog();
  m_dialog->LoadBinaryFile(QString::fromStdString((m_dir / "gone.bin").string()));
  EXPECT_TRUE(m_messages.empty());
  EXPECT_EQ(m_dialog->fileSize(), -1);
  EXPECT_TRUE(m_dialog->infoPane()->text().isEmpty());
  EXPECT_TRUE(m_dialog->segments().empty());
}

// A file that cannot be read after a good one for the same area: the path field names the new
// file, so the earlier CODE image must not stay to be downloaded in its name. Other areas keep
// theirs.
TEST_F(QuorixTest, UnreadableFileLeavesNoEarlierImageOfItsArea) {
  OpenDialog();
  SelectArea("OEM");
  m_dialog->LoadBinaryFile(QString::fromStdString(MakeFile("oem.bin", 13312).string()));
  SelectArea("CODE");
  m_dialog->LoadBinaryFile(QString::fromStdString(MakeFile("code.bin", 100).string()));
  ASSERT_EQ(m_dialog->segments().size(), 2u);
  const std::string gone = (m_dir / "gone.bin").string();
  m_dialog->LoadBinaryFile(QString::fromStdString(gone));
  EXPECT_EQ(m_dialog->pathField()->text(), QDir::toNativeSeparators(QString::fromStdString(gone)));
  ASSERT_EQ(m_dialog->segments().size(), 1u);
  EXPECT_EQ(m_dialog->segments().begin()->address, 0x13CC00u);
  EXPECT_TRUE(m_messages.empty());
}

TEST_F(QuorixTest, TwoAreasGiveTwoSegmentsInOrderAndASecondCodeFileReplacesTheFirst) {
  OpenDialog();
  m_dialog->LoadBinaryFile(QString::fromStdString(MakeFile("code1.bin", 100).string()));
  SelectArea("OEM");
  m_dialog->LoadBinaryFile(QString::fromStdString(MakeFile("oem.bin", 13312).string()));
  EXPECT_EQ(m_dialog->downloadFlags(), 0u);  // OEM is selected
  ASSERT_EQ(m_dialog->segments().size(), 2u);
  EXPECT_EQ(m_dialog->segments().begin()->address, 0x108000u);
  EXPECT_EQ(std::next(m_dialog->segments().begin())->address, 0x13CC00u);

  SelectArea("CODE");
  m_dialog->LoadBinaryFile(QString::fromStdString(MakeFile("code2.bin", 200).string()));
  ASSERT_EQ(m_dialog->segments().size(), 2u);
  const protocol::Segment* code = m_dialog->segments().Find(0x108000);
  ASSERT_NE(code, nullptr);
  EXPECT_EQ(code->length, 200);
}

TEST_F(QuorixTest, OnlyTheTwoFileFieldsTakeDrops) {
  OpenDialog();
  const auto file = MakeFile("dropped.bin", 64);
  CQuorixDlg& d = *m_dialog;
  for (QWidget* other : std::initializer_list<QWidget*>{d.areaField(), d.logPane(),
                                                        d.downloadButton(), d.statusLine()}) {
    Drop({file}, CentreOf(other));
  }
  Drop({file}, QPoint(d.width() - 2, d.height() - 2));  // the background
  EXPECT_TRUE(d.segments().empty());
  EXPECT_TRUE(d.pathField()->text().isEmpty());

  Drop({file}, CentreOf(d.infoPane()));
  ASSERT_EQ(d.segments().size(), 1u);
  EXPECT_EQ(d.segments().begin()->length, 64);
}

TEST_F(QuorixTest, DropOfSeveralFilesTakesTheFirstOnly) {
  OpenDialog();
  const auto first = MakeFile("first.bin", 10);
  const auto second = MakeFile("second.bin", 20);
  const auto third = MakeFile("third.bin", 30);
  Drop({first, second, third}, CentreOf(m_dialog->pathField()));
  EXPECT_EQ(m_dialog->pathField()->text().toStdString(), first.string());
  ASSERT_EQ(m_dialog->segments().size(), 1u);
  EXPECT_EQ(m_dialog->segments().begin()->length, 10);
  EXPECT_EQ(m_dialog->infoPane()->text().count("file name : "), 1);
}

}  // namespace
}  // namespace vantor::quorix::testing
