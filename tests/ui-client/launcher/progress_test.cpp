// The progress dialog as built, and the adapter's signals crossing from a worker thread.
#include "progress.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QIcon>
#include <QSignalSpy>
#include <QThread>
#include <QTranslator>
#include <atomic>
#include <vector>

#include "DPIinfo.h"
#include "UIPathManager.h"
#include "strtable.h"
#include "temp_dir.h"

namespace {

class ProgressDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    StrTable::InitStrTable();
    UIPathManager::getInstance()->setPath("root_resource_path", QStringLiteral(LAUNCHER_SOURCE_DIR));
    QApplication::setFont(QFont("Arial", 12, -1, false));
  }
  void TearDown() override { DPIinfo::getInstance()->setDPI(0.0); }
};

TEST_F(ProgressDialogTest, IsBuiltAsTheLauncherShowsIt) {
  ProcessingProgressDialog dialog;
  EXPECT_EQ(dialog.windowTitle().toStdString(), "Corvane Client");
  EXPECT_EQ(dialog.labelText().toStdString(), "Corvane Client is initializing...");
  EXPECT_EQ(dialog.windowFlags() & ~Qt::WindowType_Mask, Qt::WindowTitleHint | Qt::WindowSystemMenuHint);
  EXPECT_TRUE(dialog.isWindow());
  EXPECT_EQ(dialog.minimum(), 0);
  EXPECT_EQ(dialog.maximum(), 100);
  EXPECT_EQ(dialog.value(), 0);
  EXPECT_TRUE(dialog.isModal());
  EXPECT_EQ(dialog.windowModality(), Qt::WindowModal);
  EXPECT_EQ(dialog.font().family().toStdString(), "Arial");
  EXPECT_EQ(dialog.font().pointSize(), 12);
  EXPECT_EQ(dialog.styleSheet().toStdString(),
            "QProgressDialog { background-color: WhiteSmoke; vertical-align: middle; }");
  EXPECT_TRUE(dialog.windowIcon().availableSizes().contains(QSize(72, 72)));
  EXPECT_FALSE(dialog.isVisible());
}

TEST_F(ProgressDialogTest, SizeFollowsTheScreenScale) {
  const struct {
    double scale;
    QSize size;
  } cases[] = {{1.0, {400, 80}}, {1.5, {600, 120}}, {2.0, {800, 160}}, {1.333, {533, 106}}};
  for (const auto& c : cases) {
    DPIinfo::getInstance()->setDPI(c.scale);
    ProcessingProgressDialog dialog;
    EXPECT_EQ(dialog.minimumSize(), c.size) << c.scale;
    EXPECT_EQ(dialog.maximumSize(), c.size) << c.scale;
  }
}

TEST_F(ProgressDialogTest, TitleAndLabelAreTranslated) {
  QTranslator ger;
  ASSERT_TRUE(ger.load(":/ger.qm"));
  QCoreApplication::installTranslator(&ger);
  ProcessingProgressDialog dialog;
  QCoreApplication::removeTranslator(&ger);
  EXPECT_EQ(dialog.windowTitle().toStdString(), "Corvane-Client");
  EXPECT_EQ(dialog.labelText().toStdString(), "Corvane-Client wird initialisiert...");
}

TEST_F(ProgressDialogTest, MissingIconLeavesTheDialogWithoutIcon) {
  UIPathManager::getInstance()->setPath("root_resource_path", "/nonexistent/Resources");
  ProcessingProgressDialog dialog;
  EXPECT_TRUE(dialog.windowIcon().availableSizes().isEmpty());
  EXPECT_EQ(dialog.windowTitle().toStdString(), "Corvane Client");
}

// The icon is read as every file of the bundle is: a link in its place, even to the right picture, is
// not followed, and a named pipe gives no icon at once instead of stopping the launcher.
TEST_F(ProgressDialogTest, IconIsReadOnlyFromARegularFileAndNeverWaits) {
  testsupport::TempDir resources;
  const std::string icon = resources / "images/ico_72_skyhold.png";
  ASSERT_EQ(mkdir((resources / "images").c_str(), 0755), 0);
  ASSERT_EQ(symlink(LAUNCHER_SOURCE_DIR "/images/ico_72_skyhold.png", icon.c_str()), 0);
  UIPathManager::getInstance()->setPath("root_resource_path", QString::fromStdString(resources.path()));
  EXPECT_TRUE(ProcessingProgressDialog().windowIcon().availableSizes().isEmpty());
  ASSERT_EQ(unlink(icon.c_str()), 0);
  testsupport::MakeFifo(icon);
  EXPECT_TRUE(testsupport::ReturnsWithoutWaitingOnThisThread(
      icon, [] { EXPECT_TRUE(ProcessingProgressDialog().windowIcon().availableSizes().isEmpty()); }));
}

TEST(NotifyAdapterTest, EveryThreadGetsTheSameInstance) {
  std::vector<QThread*> threads;
  std::vector<Notify_Adapter*> seen(8, nullptr);
  for (size_t i = 0; i < seen.size(); ++i) {
    threads.push_back(QThread::create([&seen, i] { seen[i] = Notify_Adapter::GetInstance(); }));
  }
  for (QThread* t : threads) t->start();
  for (QThread* t : threads) {
    t->wait();
    delete t;
  }
  for (Notify_Adapter* a : seen) EXPECT_EQ(a, Notify_Adapter::GetInstance());
  EXPECT_NE(seen[0], nullptr);
}

// Lives on the main thread and logs what the adapter's signals deliver, in arrival order.
class Receiver : public QObject {
 public:
  QStringList log;
  bool all_on_main = true;
  void Progress(int total, int current) { Note(QStringLiteral("progress %1/%2").arg(current).arg(total)); }
  void Text(const QString& text) { Note(QStringLiteral("text ") + text); }

 private:
  void Note(const QString& entry) {
    all_on_main = all_on_main && QThread::currentThread() == qApp->thread();
    log << entry;
  }
};

TEST(NotifyAdapterTest, SignalsCrossThreadsInEmissionOrder) {
  Notify_Adapter* adapter = Notify_Adapter::GetInstance();
  Receiver receiver;
  QObject::connect(adapter, &Notify_Adapter::sigUpdateProgress, &receiver, &Receiver::Progress);
  QObject::connect(adapter, &Notify_Adapter::sigUpdateDialogText, &receiver, &Receiver::Text);
  QSignalSpy progress(adapter, &Notify_Adapter::sigUpdateProgress);
  QSignalSpy text(adapter, &Notify_Adapter::sigUpdateDialogText);
  // Where the signals are emitted: on the calling thread, at once.
  std::atomic<int> emitted_off_main{0};
  QObject::connect(
      adapter, &Notify_Adapter::sigUpdateProgress, adapter,
      [&emitted_off_main] {
        if (QThread::currentThread() != qApp->thread()) ++emitted_off_main;
      },
      Qt::DirectConnection);

  QThread* worker = QThread::create([adapter] {
    adapter->UpdateDialogText("Corvane Client is initializing...");
    for (int n = 1; n <= 3; ++n) adapter->UpdateProgress(3, n);
    adapter->UpdateDialogText("Corvane Client is ready.");
  });
  worker->start();
  ASSERT_TRUE(worker->wait(30000));
  delete worker;

  // The worker has emitted everything; the spies count at emission, the receiver not yet.
  EXPECT_EQ(progress.count(), 3);
  EXPECT_EQ(text.count(), 2);
  EXPECT_EQ(emitted_off_main.load(), 3);
  EXPECT_TRUE(receiver.log.isEmpty());
  EXPECT_EQ(progress.at(2).at(0).toInt(), 3);
  EXPECT_EQ(progress.at(2).at(1).toInt(), 3);

  QCoreApplication::processEvents();
  EXPECT_EQ(receiver.log, QStringList({"text Corvane Client is initializing...", "progress 1/3",
                                       "progress 2/3", "progress 3/3", "text Corvane Client is ready."}));
  EXPECT_TRUE(receiver.all_on_main);
}

}  // namespace
