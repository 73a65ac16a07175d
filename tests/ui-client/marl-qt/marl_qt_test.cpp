// The UI support layer: the single-instance rule across processes, the path registry, the language
// code and the screen scale.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSet>
#include <QThread>
#include <memory>
#include <string>
#include <vector>

#include "DPIinfo.h"
#include "HalcLocale.h"
#include "UIPathManager.h"
#include "temp_dir.h"

namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

QProcessEnvironment ProbeEnv(const std::string& home, const std::string& tmp) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("HOME", QString::fromStdString(home));
  env.insert("TMPDIR", QString::fromStdString(tmp));  // The lock file goes there, and goes away with it.
  env.insert("QT_QPA_PLATFORM", "offscreen");
  return env;
}

std::unique_ptr<QProcess> StartProbe(const QString& mode, const QProcessEnvironment& env) {
  auto p = std::make_unique<QProcess>();
  p->setProcessEnvironment(env);
  p->start(QStringLiteral(MARL_QT_PROBE), {mode});
  return p;
}

// The first line the probe prints, without the line feed; empty when it printed nothing in time.
QString FirstLine(QProcess& p) {
  while (!p.canReadLine()) {
    if (!p.waitForReadyRead(30000)) break;
  }
  return QString::fromUtf8(p.readLine()).trimmed();
}

QString RunProbe(const QString& mode, const QProcessEnvironment& env) {
  auto p = StartProbe(mode, env);
  const QString line = FirstLine(*p);
  p->closeWriteChannel();
  p->waitForFinished(30000);
  return line;
}

class SingleInstanceTest : public testsupport::TempDirTest {
 protected:
  QProcessEnvironment Env(const std::string& home) { return ProbeEnv(home, tmp()); }
};

TEST_F(SingleInstanceTest, SimultaneousStartsLetExactlyOneRun) {
  const QProcessEnvironment env = Env(at("home"));
  std::vector<std::unique_ptr<QProcess>> probes;
  for (int i = 0; i < 6; ++i) probes.push_back(StartProbe("single", env));
  int first = 0, second = 0;
  QProcess* winner = nullptr;
  for (auto& p : probes) {
    const QString line = FirstLine(*p);
    if (line == "running=0") {
      ++first;
      winner = p.get();
    } else if (line == "running=1") {
      ++second;
    } else {
      ADD_FAILURE() << "unexpected probe output '" << line.toStdString() << "'";
    }
  }
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 5);
  for (auto& p : probes) {
    if (p.get() == winner) continue;
    ASSERT_TRUE(p->waitForFinished(30000)) << "a second launcher must not wait for the first";
    EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
  }
  // The five that left took nothing from the one that runs (no lock released, no file removed).
  EXPECT_EQ(RunProbe("single", env), "running=1");
  for (auto& p : probes) p->closeWriteChannel();
  for (auto& p : probes) p->waitForFinished(30000);
}

TEST_F(SingleInstanceTest, KilledInstanceLeavesNothingThatBlocksTheNext) {
  const QProcessEnvironment env = Env(at("home"));
  auto first = StartProbe("single", env);
  auto second = StartProbe("single", env);
  const QString a = FirstLine(*first), b = FirstLine(*second);
  ASSERT_TRUE((a == "running=0" && b == "running=1") || (a == "running=1" && b == "running=0"))
      << a.toStdString() << " / " << b.toStdString();
  QProcess& holder = a == "running=0" ? *first : *second;
  EXPECT_EQ(RunProbe("single", env), "running=1");  // Still held.

  holder.kill();  // SIGKILL: no destructor, no clean-up.
  ASSERT_TRUE(holder.waitForFinished(30000));
  EXPECT_EQ(holder.exitStatus(), QProcess::CrashExit);

  auto next = StartProbe("single", env);
  EXPECT_EQ(FirstLine(*next), "running=0");
  EXPECT_EQ(RunProbe("single", env), "running=1");  // And the new one holds it in turn.
  next->closeWriteChannel();
  EXPECT_TRUE(next->waitForFinished(30000));
  first->waitForFinished(30000);
  second->waitForFinished(30000);
}

TEST_F(SingleInstanceTest, NormalExitReleasesAndHomesAreIndependent) {
  const QProcessEnvironment env_a = Env(at("home-a"));
  auto holder = StartProbe("single", env_a);
  ASSERT_EQ(FirstLine(*holder), "running=0");
  // Another home folder of the same user is another launcher.
  EXPECT_EQ(RunProbe("single", Env(at("home-b"))), "running=0");
  EXPECT_EQ(RunProbe("single", env_a), "running=1");
  holder->closeWriteChannel();
  ASSERT_TRUE(holder->waitForFinished(30000));
  EXPECT_EQ(holder->exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(RunProbe("single", env_a), "running=0");
}

// One home, one launcher: the lock is in the home folder, so neither another TMPDIR nor another
// spelling of the same home (a link to it, a trailing slash) lets a second one run.
TEST_F(SingleInstanceTest, OneHomeIsOneLauncherWhateverItsTmpdirOrSpelling) {
  const std::string home = at("home");
  ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
  ASSERT_EQ(symlink(home.c_str(), at("home-link").c_str()), 0);
  for (const char* tmp : {"tmp-a", "tmp-b"}) ASSERT_EQ(mkdir(at(tmp).c_str(), 0755), 0);
  auto holder = StartProbe("single", ProbeEnv(home, at("tmp-a")));
  ASSERT_EQ(FirstLine(*holder), "running=0");
  EXPECT_EQ(RunProbe("single", ProbeEnv(home, at("tmp-b"))), "running=1");
  EXPECT_EQ(RunProbe("single", ProbeEnv(at("home-link"), at("tmp-b"))), "running=1");
  EXPECT_EQ(RunProbe("single", ProbeEnv(home + "/", at("tmp-a"))), "running=1");
  EXPECT_TRUE(Exists(home + "/.Corvane/launcher.lock"));
  holder->closeWriteChannel();
  ASSERT_TRUE(holder->waitForFinished(30000));
  EXPECT_EQ(RunProbe("single", ProbeEnv(at("home-link"), at("tmp-b"))), "running=0");
}

// The names in `folder` that begin with "launcher.lock_aside.": what the launcher set aside.
std::vector<std::string> SetAside(const std::string& folder) {
  std::vector<std::string> names;
  for (const QString& name :
       QDir(QString::fromStdString(folder)).entryList(QDir::AllEntries | QDir::System | QDir::Hidden)) {
    if (name.startsWith("launcher.lock_aside.")) names.push_back(folder + "/" + name.toStdString());
  }
  return names;
}

// Nothing in the lock's place stops the launcher for good. What no launcher can hold a lock through (a
// link, dangling or not, a folder, a pipe, a file this account cannot open) is set aside whole under a
// name of its own, nothing is created where a link points, and the fresh lock keeps a second launcher
// out. A file this account may only read is locked where it is. The setting aside happens only under
// the lock of ~/.Corvane, which another start could be holding for the same purpose.
TEST_F(SingleInstanceTest, SquattersInTheLocksPlaceAreSetAsideAndTheLockStillHolds) {
  const std::string home = at("home"), corvane = home + "/.Corvane", lock = corvane + "/launcher.lock";
  ASSERT_EQ(mkdir(home.c_str(), 0755), 0);
  const bool root = testsupport::IsRoot();  // root opens any file read-write
  for (const std::string what :
       {"dangling link", "folder", "named pipe", "unreadable file", "read-only file"}) {
    SCOPED_TRACE(what);
    testsupport::RemoveTree(corvane);
    ASSERT_EQ(mkdir(corvane.c_str(), 0755), 0);
    if (what == "dangling link") {
      ASSERT_EQ(symlink(at("elsewhere").c_str(), lock.c_str()), 0);
    } else if (what == "folder") {
      ASSERT_EQ(mkdir(lock.c_str(), 0755), 0);
    } else if (what == "named pipe") {
      testsupport::MakeFifo(lock);
    } else {
      testsupport::WriteFile(lock, "x");
      ASSERT_EQ(chmod(lock.c_str(), what == "read-only file" ? 0444 : 0), 0);
    }
    const bool set_aside = what != "read-only file" && !(root && what == "unreadable file");
    struct stat squatter, now;
    ASSERT_EQ(lstat(lock.c_str(), &squatter), 0);
    auto holder = StartProbe("single", Env(home));
    EXPECT_EQ(FirstLine(*holder), "running=0");
    EXPECT_EQ(RunProbe("single", Env(home)), "running=1");
    const std::vector<std::string> aside = SetAside(corvane);
    ASSERT_EQ(aside.size(), set_aside ? 1u : 0u);
    ASSERT_EQ(lstat(set_aside ? aside[0].c_str() : lock.c_str(), &now), 0);
    EXPECT_EQ(now.st_ino, squatter.st_ino);
    EXPECT_EQ(now.st_mode, squatter.st_mode);
    EXPECT_FALSE(Exists(at("elsewhere")));
    holder->closeWriteChannel();
    EXPECT_TRUE(holder->waitForFinished(30000));
  }

  testsupport::RemoveTree(corvane);
  ASSERT_EQ(mkdir(corvane.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(lock.c_str(), 0755), 0);
  const int folder = open(corvane.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(folder, 0);
  ASSERT_EQ(flock(folder, LOCK_EX), 0);
  EXPECT_EQ(RunProbe("single", Env(home)), "refused");
  EXPECT_TRUE(SetAside(corvane).empty());
  close(folder);
  EXPECT_EQ(RunProbe("single", Env(home)), "running=0");
}

TEST(UIPathManagerTest, StoresExactlyTheLastPathPerKey) {
  UIPathManager* registry = UIPathManager::getInstance();
  EXPECT_EQ(registry, UIPathManager::getInstance());
  EXPECT_TRUE(registry->getPath("user_skyhold_app_path").isEmpty());

  registry->setPath("user_corvane_path", "/Users/ann/.Corvane");
  registry->setPath("root_resource_path", "/Applications/Corvane.app/Contents/Resources/");
  EXPECT_EQ(registry->getPath("user_corvane_path"), "/Users/ann/.Corvane");
  // Stored as given: no normalisation, no trailing-slash handling.
  EXPECT_EQ(registry->getPath("root_resource_path"), "/Applications/Corvane.app/Contents/Resources/");
  EXPECT_TRUE(registry->getPath("USER_CORVANE_PATH").isEmpty());  // Keys are case-sensitive.

  registry->setPath("user_corvane_path", "/Users/bob/.Corvane");
  EXPECT_EQ(registry->getPath("user_corvane_path"), "/Users/bob/.Corvane");
}

// Writers replace a shared key and add keys of their own while readers read: every read sees one of
// the values stored (no torn or lost string), and each writer's last value stays. Run under TSan too.
TEST(UIPathManagerTest, ManyThreadsWriteAndReadSafely) {
  UIPathManager* registry = UIPathManager::getInstance();
  const QString values[] = {"/Users/ann/.Corvane/Corvane.app", "/Users/bob/.Corvane/Corvane.app"};
  registry->setPath("user_corvane_app_path", values[0]);
  std::vector<QThread*> threads;
  QAtomicInt mismatches = 0;
  for (int t = 0; t < 4; ++t) {
    const bool writer = t % 2 == 0;
    threads.push_back(QThread::create([&, t, writer] {
      for (int i = 0; i < 2000; ++i) {
        if (writer) {
          registry->setPath("user_corvane_app_path", values[i % 2]);
          registry->setPath(QStringLiteral("writer_%1_%2").arg(t).arg(i % 50), QString::number(i));
        } else {
          const QString v = registry->getPath("user_corvane_app_path");
          if (v != values[0] && v != values[1]) mismatches.fetchAndAddRelaxed(1);
        }
      }
    }));
    threads.back()->start();
  }
  for (QThread* t : threads) {
    t->wait();
    delete t;
  }
  EXPECT_EQ(mismatches.loadRelaxed(), 0);
  EXPECT_EQ(registry->getPath("user_corvane_app_path"), values[1]);  // Both writers ended on i = 1999.
  for (int t = 0; t < 4; t += 2)
    for (int k = 0; k < 50; ++k)
      EXPECT_EQ(registry->getPath(QStringLiteral("writer_%1_%2").arg(t).arg(k)), QString::number(1950 + k));
}

TEST(HalcLocaleTest, MapsLocalesOntoTheTranslationCodes) {
  const struct {
    const char* locale;
    const char* code;
  } cases[] = {
      {"zh_CN", "chs"}, {"zh_SG", "chs"}, {"zh_TW", "cht"}, {"zh_HK", "cht"}, {"zh_Hant_MO", "cht"},
      {"cs_CZ", "csy"}, {"da_DK", "dan"}, {"en_US", "enu"}, {"en_GB", "enu"}, {"fr_FR", "fre"},
      {"fr_CA", "fre"}, {"de_DE", "ger"}, {"de_AT", "ger"}, {"hu_HU", "hun"}, {"it_IT", "ita"},
      {"ja_JP", "jpn"}, {"ko_KR", "krn"}, {"nl_NL", "nld"}, {"nb_NO", "nor"}, {"nn_NO", "nor"},
      {"pl_PL", "plk"}, {"pt_BR", "ptb"}, {"pt_PT", "ptg"}, {"ru_RU", "rus"}, {"es_ES", "spn"},
      {"es_MX", "spn"}, {"sv_SE", "sve"}, {"th_TH", "tha"}, {"tr_TR", "trk"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HalcLocale::codeForLocale(QLocale(c.locale)).toStdString(), c.code) << c.locale;
  }
  EXPECT_TRUE(HalcLocale::codeForLocale(QLocale("fi_FI")).isEmpty());
  EXPECT_TRUE(HalcLocale::codeForLocale(QLocale::c()).isEmpty());
}

TEST(HalcLocaleTest, DefaultLanguageFollowsTheEnvironment) {
  const struct {
    const char* lc_all;
    const char* code;
  } cases[] = {{"th_TH.UTF-8", "tha"}, {"pt_BR.UTF-8", "ptb"}, {"zh_TW.UTF-8", "cht"},
               {"no_NO.UTF-8", "nor"}, {"fi_FI.UTF-8", "enu"}, {"C", "enu"}};
  for (const auto& c : cases) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("LANGUAGE");
    env.insert("LC_ALL", c.lc_all);
#ifdef __APPLE__
    // The toolkit takes a Mac's language from the user's settings, whatever LC_ALL says.
    const QString own = HalcLocale::codeForLocale(QLocale::system());
    EXPECT_EQ(RunProbe("language", env), own.isEmpty() ? QStringLiteral("enu") : own) << c.lc_all;
#else
    EXPECT_EQ(RunProbe("language", env).toStdString(), c.code) << c.lc_all;
#endif
  }
}

// Only the scale that the toolkit does not apply itself: 1 wherever it scales widgets on its own,
// otherwise the logical density over the platform's reference in quarter steps (the offscreen screen
// has 100 dots per inch). The probe's "dpi" modes measure against 96 on either platform, "dpi-mac"
// against 72.
TEST(DPIinfoTest, ScaleIsWhatTheToolkitDoesNotApply) {
  DPIinfo* dpi = DPIinfo::getInstance();
#ifdef __APPLE__
  EXPECT_DOUBLE_EQ(dpi->referenceDpi(), 72.0);
  const double offscreen = 1.5;  // 100 over Cocoa's 72, as the "dpi-mac" row without QT_FONT_DPI shows
#else
  EXPECT_DOUBLE_EQ(dpi->referenceDpi(), 96.0);
  const double offscreen = 1.0;
#endif
  EXPECT_DOUBLE_EQ(dpi->getDPI(), offscreen);
  dpi->setDPI(2.0);
  EXPECT_DOUBLE_EQ(dpi->getDPI(), 2.0);
  dpi->setDPI(0.0);
  EXPECT_DOUBLE_EQ(dpi->getDPI(), offscreen);

  const struct {
    const char* font_dpi;
    const char* scale_factor;
    const char* mode;
    const char* expected;
  } cases[] = {
      {"144", nullptr, "dpi", "1.5"},        // X11 at 144 dpi: the toolkit does not scale
      {"120", nullptr, "dpi", "1.25"},       //
      {nullptr, "2", "dpi", "1"},            // QT_SCALE_FACTOR: sizes are logical, already doubled
      {nullptr, "1.5", "dpi", "1"},          //
      {"144", "2", "dpi", "1"},              //
      {"144", nullptr, "dpi-scaled", "1"},   // the high-DPI scaling attribute
      {nullptr, nullptr, "dpi-mac", "1.5"},  // the offscreen screen on a Mac
      {"72", nullptr, "dpi-mac", "1"},       // a non-Retina Mac: 72 is its standard density
      {"144", nullptr, "dpi-mac", "2"},      //
      {"72", "2", "dpi-mac", "1"},           //
  };
  for (const auto& c : cases) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    for (const char* name : {"QT_FONT_DPI", "QT_SCALE_FACTOR", "QT_AUTO_SCREEN_SCALE_FACTOR",
                             "QT_SCREEN_SCALE_FACTORS", "QT_ENABLE_HIGHDPI_SCALING"})
      env.remove(name);
    if (c.font_dpi != nullptr) env.insert("QT_FONT_DPI", c.font_dpi);
    if (c.scale_factor != nullptr) env.insert("QT_SCALE_FACTOR", c.scale_factor);
    EXPECT_EQ(RunProbe(c.mode, env).toStdString(), c.expected)
        << (c.font_dpi ? c.font_dpi : "-") << " dpi, factor " << (c.scale_factor ? c.scale_factor : "-")
        << ", " << c.mode;
  }
}

TEST(DPIinfoTest, StyleSheetPixelSizesAreScaled) {
  DPIinfo* dpi = DPIinfo::getInstance();
  const QString dialog = "QProgressDialog { background-color: WhiteSmoke; vertical-align: middle; }";
  const QString sheet =
      "QLabel { font-size: 12px; border: 1px solid #a0a0a0; margin: 0px -4px; "
      "padding: 2.5px; width: 10pt; } #w12px { min-height: 20px; }";

  dpi->setDPI(1.0);
  EXPECT_EQ(dpi->getScaledStyleSheet(sheet).toStdString(), sheet.toStdString());

  dpi->setDPI(1.5);
  EXPECT_EQ(dpi->getScaledStyleSheet(sheet).toStdString(),
            "QLabel { font-size: 18px; border: 2px solid #a0a0a0; margin: 0px -6px; "
            "padding: 4px; width: 10pt; } #w12px { min-height: 30px; }");
  EXPECT_EQ(dpi->getScaledStyleSheet(dialog).toStdString(),
            dialog.toStdString());  // Nothing in pixels: unchanged.

  dpi->setDPI(0.4);
  EXPECT_EQ(dpi->getScaledStyleSheet("border: 1px; margin: 10px;").toStdString(),
            "border: 1px; margin: 4px;");
  dpi->setDPI(0.0);
}

}  // namespace
