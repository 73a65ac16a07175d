// The launcher's application object: a QApplication that knows whether another launcher already
// runs for the same user and the same home folder (HOME, or the account's home folder without it). Create it
// once, on the main thread, before anything else of Qt; ask isRunning() right after.
//
// The answer is decided in the constructor by taking an exclusive lock (flock) on the file
// ~/.Corvane/launcher.lock of the home folder (UserHomePath), created with its folder when missing.
// Kept in the home rather than in the temporary folder, every launcher for one home reaches the one
// file whatever its TMPDIR and however it spells the home (a link, a doubled slash), so two of them
// never upgrade one private copy together. The kernel decides who wins when several start at the same
// moment, and it releases the lock when its holder ends in any way, SIGKILL included, so an interrupted
// launcher never leaves anything that makes the next one believe another runs. The file itself stays
// behind on purpose: it is the lock's anchor, never a marker.
//
// The file is opened as every file of the home is (regular_file.h): never through a link, never
// waiting, regular files only; read-only where this account may only read it (a read-only file,
// another account's readable file), which flock needs no more than. Anything no launcher can hold a
// lock through (a link, dangling or not, a folder, a named pipe, a file this account cannot open) is
// set aside, renamed to "launcher.lock_aside.<random>" beside it (never removed, never followed), and
// a fresh lock file takes its place. That happens under an exclusive lock on ~/.Corvane itself, and
// each start looks at the lock's place again once it holds that folder, so of several starts that
// find the same squatter only the first sets it aside and the others meet the lock it took.
#ifndef CORVANE_UI_CLIENT_MARL_QT_QTSINGLEAPPLICATION_H_
#define CORVANE_UI_CLIENT_MARL_QT_QTSINGLEAPPLICATION_H_

#include <QApplication>
#include <QString>

class QtSingleApplication : public QApplication {
  Q_OBJECT

 public:
  // `argc` and `argv` go to QApplication. `GUIenabled` is accepted for the caller's sake; Qt 5's
  // QApplication is always graphical.
  QtSingleApplication(int& argc, char** argv, bool GUIenabled = true);
  // Releases the lock: the next launcher for this user and home folder sees isRunning() false.
  ~QtSingleApplication() override;

  // True when another launcher held the lock for this home folder when this object was created. Never
  // changes afterwards. False when the lock could not be taken at all (lockFailure).
  bool isRunning() const;

  // Why this launcher could not take the lock, with the path; empty when it holds it or another
  // launcher does, and when there is no home folder. Never changes after construction.
  QString lockFailure() const;
  // True when that failure must stop the launcher, because another launcher may hold the lock: a
  // regular file there cannot be opened for a reason other than its permissions (no descriptor left,
  // an I/O error), or another process kept ~/.Corvane locked for longer than setting a squatter aside
  // takes. False when the lock could not be created or locked at all (a read-only or full home, a file
  // system without locks) or a squatter could not be set aside, where no launcher can hold it.
  bool lockFailureIsFatal() const;
  // The WARNING to log when this launcher set a squatter aside (what it was and its new name); empty
  // otherwise. Never changes after construction.
  QString lockSetAside() const;

  // The lock file for the current home folder (for diagnostics and tests); empty without a home folder.
  static QString lockFilePath();

 private:
  int lock_fd_ = -1;
  bool running_ = false;
  QString lock_failure_;
  bool lock_failure_fatal_ = false;
  QString lock_set_aside_;
};

#endif  // CORVANE_UI_CLIENT_MARL_QT_QTSINGLEAPPLICATION_H_
