// The Qt glue: message boxes from a worker, the worker's finish, dialog units, drop targets.
#include <gtest/gtest.h>

#include <QDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include <thread>
#include <vector>

#include "ui/ui.h"

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

}  // namespace
}  // namespace vantor::ui
