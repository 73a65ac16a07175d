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
  // changes afterwards. When the lock file cannot be created at all (for example, the home folder is not
  // writable, or there is no home folder), false: nothing can be changed there, by this launcher or
  // another.
  bool isRunning() const;

  // Why this launcher cannot know that it runs alone, for the caller to stop with: something other
  // than a regular file stands at the lock's path (a link, dangling or not, a folder, a named pipe).
  // Empty otherwise. Never changes after construction.
  QString lockFailure() const;

  // The lock file for the current home folder (for diagnostics and tests); empty without a home folder.
  static QString lockFilePath();

 private:
  int lock_fd_ = -1;
  bool running_ = false;
  QString lock_failure_;
};

#endif  // CORVANE_UI_CLIENT_MARL_QT_QTSINGLEAPPLICATION_H_
