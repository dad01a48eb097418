// The Qt glue: message boxes from a worker and while closing, the worker's finish and its
// cancellation, dialog units, combos, drop targets, the application icon, the about box, texts
// and paths.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "ui/about_box.h"
#include "ui/closing.h"
#include "ui/combos.h"
#include "ui/dialog_units.h"
#include "ui/drops.h"
#include "ui/icon.h"
#include "ui/message_box.h"
#include "ui/paths.h"
#include "ui/texts.h"
#include "ui/wait_scale.h"
#include "ui/worker.h"

namespace vantor::ui {
namespace {

struct HookGuard {
  ~HookGuard() { SetMessageHook({}); }
};

TEST(UiMessages, BoxFromWorkerReachesHookOnUiThreadAndWorkerWaitsForIt) {
  HookGuard guard;
  QWidget owner;
  std::vector<QString> texts;
  QThread* hookThread = nullptr;
  SetMessageHook([&](const MessageRequest& request) {
    hookThread = QThread::currentThread();
    texts.push_back(request.caption + "|" + request.text);
    EXPECT_EQ(request.owner, &owner);
    EXPECT_EQ(request.icon, MessageIcon::kInformation);
  });
  bool afterBox = false;  // written by the worker after the box returned
  bool finished = false;
  QThread* finishThread = nullptr;
  Worker worker;
  worker.Start(
      &owner,
      [&] {
        ShowMessage({&owner, "Quorix", "통신에러 \n-9978", MessageIcon::kInformation});
        afterBox = true;
      },
      [&] {
        finished = true;
        finishThread = QThread::currentThread();
      });
  worker.WaitWhileProcessingEvents();
  EXPECT_FALSE(worker.running());
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], QString("Quorix|통신에러 \n-9978"));
  EXPECT_EQ(hookThread, owner.thread());
  EXPECT_TRUE(afterBox);
  EXPECT_TRUE(finished);
  EXPECT_EQ(finishThread, owner.thread());
}

TEST(UiThreads, RunOnUiThreadRunsAtOnceOnUiThreadAndWaitsFromWorker) {
  QObject context;
  int calls = 0;
  RunOnUiThread(&context, [&] { ++calls; });
  EXPECT_EQ(calls, 1);

  Worker worker;
  QThread* where = nullptr;
  worker.Start(&context,
               [&] { RunOnUiThread(&context, [&] { where = QThread::currentThread(); }); });
  worker.WaitWhileProcessingEvents();
  EXPECT_EQ(where, context.thread());
}

TEST(UiThreads, StartingAgainJoinsThePreviousWorkerAndItsFinishRuns) {
  QObject context;
  std::vector<int> order;
  Worker worker;
  worker.Start(
      &context, [] {}, [&] { order.push_back(1); });
  worker.Start(
      &context, [] {}, [&] { order.push_back(2); });
  worker.WaitWhileProcessingEvents();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST(UiThreads, DestroyedWorkerSkipsItsFinish) {
  QObject context;
  bool finished = false;
  {
    Worker worker;
    worker.Start(
        &context, [] {}, [&] { finished = true; });
  }  // the owner is gone before the finish could run
  EXPECT_FALSE(finished);
}

TEST(UiThreads, AbandonEndsTheWorksWaitsAtOnceAndDropsItsFinish) {
  QObject context;
  bool finished = false;
  std::int32_t slept = 0;
  Worker worker;
  worker.Start(
      &context, [&] { slept = worker.cancelToken()->SleepFor(std::chrono::seconds(30)); },
      [&] { finished = true; });
  const auto start = std::chrono::steady_clock::now();
  worker.Abandon();
  worker.Abandon();  // twice is harmless
  worker.WaitWhileProcessingEvents();
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(slept, serial::kErrorCancelled);
  EXPECT_FALSE(finished);
  EXPECT_TRUE(worker.cancelled());

  // An abandoned worker starts nothing more.
  bool ran = false;
  worker.Start(&context, [&] { ran = true; });
  worker.WaitWhileProcessingEvents();
  EXPECT_FALSE(ran);
  EXPECT_FALSE(worker.running());
}

TEST(UiThreads, WaitReenteredFromTheEventsItServesJoinsOnce) {
  // A second close (Escape twice) arrives while the first waits for the worker: the inner wait
  // must not leave the outer one a thread to join again.
  QObject context;
  Worker worker;
  bool innerReturned = false;
  worker.Start(&context, [] { std::this_thread::sleep_for(std::chrono::milliseconds(100)); });
  QTimer::singleShot(10, &context, [&] {
    worker.WaitWhileProcessingEvents();
    innerReturned = true;
  });
  worker.WaitWhileProcessingEvents();
  QCoreApplication::processEvents();
  EXPECT_TRUE(innerReturned);
  EXPECT_FALSE(worker.running());
}

TEST(UiMessages, NoBoxOnceTheOwnerOrAWindowAboveItBeganClosing) {
  HookGuard guard;
  QDialog dialog;
  auto* child = new QWidget(&dialog);
  int shown = 0;
  SetMessageHook([&](const MessageRequest&) { ++shown; });
  ShowMessage({child, "Quorix", "before", MessageIcon::kInformation});
  EXPECT_EQ(shown, 1);

  EXPECT_TRUE(BeginClosing(&dialog));
  EXPECT_FALSE(BeginClosing(&dialog));  // a second close finds the first under way
  EXPECT_TRUE(IsClosing(child));
  // From the UI thread and from a worker: nothing shown, nothing waits.
  ShowMessage({&dialog, "Quorix", "after", MessageIcon::kInformation});
  Worker worker;
  worker.Start(&dialog, [&] { ShowMessage({child, "Quorix", "after", MessageIcon::kNone}); });
  worker.WaitWhileProcessingEvents();
  EXPECT_EQ(shown, 1);
}

TEST(UiMessages, BoxIsWideEnoughForItsWholeCaption) {
  for (const QString& caption : {QString("Quorix"), QString("Pelion")}) {
    auto box = CreateMessageBox({nullptr, caption, "Saved", MessageIcon::kInformation});
    box->show();
    QCoreApplication::processEvents();
    QFont title = QApplication::font("QMdiSubWindowTitleBar");
    title.setBold(true);
    EXPECT_GE(box->width(), QFontMetrics(title).horizontalAdvance(caption) + 100)
        << caption.toStdString();
    EXPECT_GE(box->width(), MessageBoxMinimumWidth(caption));
    box->close();
  }
}

// A dialog in the dialog font for the combos under test.
struct ComboDialog {
  ComboDialog() {
    dialog.setFont(font);
    dialog.resize(400, 300);
  }
  QDialog dialog;
  const QFont font = DialogFont();
};

TEST(UiCombos, OpenedListShowsTheWholeItemsThatFitItsTemplateHeight) {
  ComboDialog host;
  QDialog& dialog = host.dialog;
  const QFont& font = host.font;
  auto* areas = new DropDownList(&dialog);
  for (const char* name : {"CODE", "OEM", "BOOT", "PARAMETER", "FIFTH", "SIXTH", "SEVENTH"})
    areas->addItem(name);
  areas->Place(font, 158, 59, 77, 54);
  dialog.show();
  const QRect templ = DialogUnitsToPixels(font, 158, 59, 77, 54);
  EXPECT_EQ(areas->geometry().topLeft(), templ.topLeft());
  EXPECT_EQ(areas->height(), areas->sizeHint().height());
  EXPECT_EQ(areas->listHeight(), templ.height() - areas->height());

  areas->showPopup();
  QWidget* popup = areas->view()->window();
  ASSERT_TRUE(popup->isVisible());
  const int row = areas->view()->sizeHintForRow(0);
  EXPECT_LE(areas->view()->viewport()->height(), areas->listHeight());
  EXPECT_GE(areas->view()->viewport()->height(), row);  // at least one whole item
  EXPECT_LT(areas->maxVisibleItems(), areas->count());
  areas->hidePopup();
}

TEST(UiCombos, PortNamesAreWholeInTheListAndTheirEndShowsWhenClosed) {
  ComboDialog host;
  QDialog& dialog = host.dialog;
  const QFont& font = host.font;
  auto* ports = new PortCombo(&dialog);
  int dropDowns = 0;
  QObject::connect(ports, &PortCombo::aboutToDropDown, [&] { ++dropDowns; });
  for (const char* name : {"COM2", "/dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0", "COM10",
                           "/dev/ttyUSB8", "/dev/ttyUSB7"})
    ports->AddSorted(name);
  ports->Place(font, 7, 7, 40, 30);
  dialog.show();
  // Sorted as text: COM10 before COM2.
  std::vector<QString> order;
  for (int i = 0; i < ports->count(); ++i)
    order.push_back(ports->itemText(i));
  EXPECT_EQ(order, (std::vector<QString>{"/dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0",
                                         "/dev/ttyUSB7", "/dev/ttyUSB8", "COM10", "COM2"}));

  ports->setCurrentIndex(ports->findText("/dev/ttyUSB7"));
  const QString shown = ports->shownText();
  EXPECT_TRUE(shown.endsWith("USB7") || shown == "/dev/ttyUSB7") << shown.toStdString();

  ports->showPopup();
  EXPECT_EQ(dropDowns, 1);
  const QFontMetrics metrics = ports->view()->fontMetrics();
  const int longest =
      metrics.horizontalAdvance("/dev/serial/by-id/usb-FTDI_FT232R_A1B2C3-if00-port0");
  EXPECT_GE(ports->view()->viewport()->width(), longest);
  ports->hidePopup();
}

TEST(UiIcon, RendersTheProgramsSvgAtTheDesktopsSizes) {
  const QIcon icon = ApplicationIcon(VANTOR_ICON_DIR "/quorix.svg");
  ASSERT_FALSE(icon.isNull());
  for (const int size : {16, 32, 128}) {
    const QImage image = icon.pixmap(size, size).toImage();
    EXPECT_EQ(image.size(), QSize(size, size));
    EXPECT_GT(qAlpha(image.pixel(size / 2, size / 2)), 0);  // drawn, not empty
  }
  EXPECT_TRUE(ApplicationIcon(":/no/such.svg").isNull());
}

TEST(UiLayout, DialogUnitsUseTheFontsBaseUnitsWithWindowsRounding) {
  QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  font.setPixelSize(13);
  const QFontMetrics metrics(font);
  // The base width is the average of the 52 letters rounded to the nearest pixel.
  const double letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  const int baseX = static_cast<int>(letters / 52.0 + 0.5);
  const int baseY = metrics.height();
  ASSERT_GT(baseX, 0);

  EXPECT_EQ(DialogUnitsToPixels(font, 4, 8, 4, 8), QRect(baseX, baseY, baseX, baseY));
  // 242 x 138 units: x by baseX / 4, y by baseY / 8, each rounded to the nearest pixel.
  const QRect dialog = DialogUnitsToPixels(font, 0, 0, 242, 138);
  EXPECT_EQ(dialog.width(), (242 * baseX + 2) / 4);
  EXPECT_EQ(dialog.height(), (138 * baseY + 4) / 8);
  const QRect one = DialogUnitsToPixels(font, 1, 1, 0, 0);
  EXPECT_EQ(one.x(), (baseX + 2) / 4);
  EXPECT_EQ(one.y(), (baseY + 4) / 8);
}

TEST(UiLayout, DialogFontIsNinePoints) {
  EXPECT_EQ(DialogFont().pointSize(), 9);
}

TEST(UiDrops, ChildAtDropPointFindsDisabledControlsAndTheirDirectChild) {
  QDialog dialog;
  dialog.resize(300, 200);
  auto* field = new QLineEdit(&dialog);
  field->setGeometry(10, 10, 100, 20);
  field->setEnabled(false);
  auto* group = new QWidget(&dialog);
  group->setGeometry(10, 50, 100, 50);
  auto* inner = new QPushButton(group);
  inner->setGeometry(0, 0, 50, 20);
  dialog.show();

  EXPECT_EQ(ChildAtDropPoint(&dialog, QPoint(20, 15)), field);
  EXPECT_EQ(ChildAtDropPoint(&dialog, QPoint(15, 55)), group);
  EXPECT_EQ(ChildAtDropPoint(&dialog, QPoint(250, 150)), nullptr);
}

// Template 100 for both programs: fixed size, the icon at its place in 32 pixels, each text line
// 12 dialog units below the one before, and 확인 ends the box.
TEST(UiAboutBox, KeepsTheTemplatesPlacesForEveryLine) {
  QPixmap picture(32, 32);
  picture.fill(Qt::red);
  AboutBox box({QStringLiteral("Title 정보"),
                QIcon(picture),
                {QStringLiteral("Name, 버전 1.0"), QStringLiteral("Copyright (C) 2024")}});
  const QFont font = DialogFont();
  EXPECT_EQ(box.windowTitle(), QStringLiteral("Title 정보"));
  EXPECT_EQ(box.minimumSize(), DialogUnitsToPixels(font, 0, 0, 170, 62).size());
  EXPECT_EQ(box.maximumSize(), box.minimumSize());

  QList<QRect> lines;
  QRect icon;
  for (QLabel* label : box.findChildren<QLabel*>()) {
    if (label->pixmap().isNull())
      lines << label->geometry();
    else
      icon = label->geometry();
  }
  EXPECT_EQ(icon.topLeft(), DialogUnitsToPixels(font, 14, 14, 0, 0).topLeft());
  EXPECT_EQ(icon.size(), QSize(32, 32));
  EXPECT_EQ(lines, (QList<QRect>{DialogUnitsToPixels(font, 42, 14, 114, 8),
                                 DialogUnitsToPixels(font, 42, 26, 114, 8)}));

  const QList<QPushButton*> buttons = box.findChildren<QPushButton*>();
  ASSERT_EQ(buttons.size(), 1);
  EXPECT_EQ(buttons[0]->text(), QStringLiteral("확인"));
  EXPECT_TRUE(buttons[0]->isDefault());
  box.show();
  buttons[0]->click();
  EXPECT_EQ(box.result(), QDialog::Accepted);
  EXPECT_FALSE(box.isVisible());
}

TEST(UiWaits, ScaleShortensFixedWaits) {
  SetWaitScaleForTests(0.01);
  EXPECT_EQ(ScaledWait(std::chrono::milliseconds(3000)), std::chrono::milliseconds(30));
  SetWaitScaleForTests(1.0);
  EXPECT_EQ(ScaledWait(std::chrono::milliseconds(7000)), std::chrono::milliseconds(7000));
}

TEST(UiText, LineTextRoundTripsAscii) {
  EXPECT_EQ(FromLineText("1.2\r\n"), QString("1.2\r\n"));
  EXPECT_EQ(ToLineText("~rv"), std::string("~rv"));
}

// The core's texts are UTF-8: the Korean messages arrive whole, not as Latin-1 bytes.
TEST(UiText, CoreTextIsUtf8) {
  EXPECT_EQ(FromCoreText("통신에러 \n-8540"), QString::fromUtf8("통신에러 \n-8540"));
  EXPECT_EQ(FromCoreText(std::string("a\0b", 3)).size(), 3);  // an embedded NUL stays
}

// A path goes to the core and comes back unchanged, Korean and spaces included; the text a path
// field shows uses the platform's separators.
TEST(UiPaths, PathsRoundTripAndShowNativeSeparators) {
  const QString paths[] = {
      QStringLiteral("/tmp/image.bin"),
      QString::fromUtf8("/tmp/펌웨어 이미지/fw.bin"),
      QStringLiteral("relative/dir/x.bin"),
  };
  for (const QString& path : paths) {
    SCOPED_TRACE(path.toStdString());
    const std::filesystem::path native = ToPath(path);
    EXPECT_EQ(native.filename().u16string(), QFileInfo(path).fileName().toStdU16String());
    EXPECT_EQ(FromPath(native), path);
    EXPECT_EQ(NativePathText(path), QString(path).replace(u'/', QDir::separator()));
  }
}

}  // namespace
}  // namespace vantor::ui
