// What the user sees while an upgrade runs, and how progress reaches it.
//
// ProcessingProgressDialog: the launcher's modal, fixed-size progress dialog, titled with the client's
// name. Create, change and destroy it on the main thread only; the Launcher (launcher.h) owns it,
// removes its cancel button and turns auto-reset off.
//
// Notify_Adapter: the process-wide bridge from code that knows nothing of the user interface (the
// extractor on the worker thread) to the Launcher's slots: its two methods emit a signal at once on the
// calling thread, and Qt queues the call to the receiver's thread in emission order.
#ifndef CORVANE_UI_CLIENT_LAUNCHER_PROGRESS_H_
#define CORVANE_UI_CLIENT_LAUNCHER_PROGRESS_H_

#include <QObject>
#include <QProgressDialog>
#include <QString>

class ProcessingProgressDialog : public QProgressDialog {
  Q_OBJECT

 public:
  // Needs StrTable::InitStrTable() to have run and root_resource_path to be registered (the icon is
  // read from root_resource_path + "/images/ico_72_skyhold.png" as a regular file only, never through a
  // link and never waiting; a missing file, or anything else there, gives an empty icon).
  // Range 0 to 100, value 0, label "<row 536>" with %1 = "<row 839>", window-modal, fixed size of
  // 400 x 80 times DPIinfo::getDPI(), in the toolkit's logical pixels (a toolkit that scales doubles
  // them itself on a screen of device pixel ratio 2). Building it starts the toolkit's timer that
  // shows it after the minimum duration: build it only when it is to be shown.
  ProcessingProgressDialog();
  ~ProcessingProgressDialog() override;
};

class Notify_Adapter : public QObject {
  Q_OBJECT

 public:
  // The one adapter of the process, created on the first call from whichever thread (thread-safe) and
  // destroyed at exit. Every call returns the same object.
  static Notify_Adapter* GetInstance();

  // Emit sigUpdateProgress(total, current) / sigUpdateDialogText(text) on the calling thread.
  void UpdateProgress(int total, int current);
  void UpdateDialogText(QString text);

 signals:
  void sigUpdateProgress(int total, int current);
  void sigUpdateDialogText(QString text);

 private:
  Notify_Adapter();
  ~Notify_Adapter() override;
  Q_DISABLE_COPY(Notify_Adapter)
};

#endif  // CORVANE_UI_CLIENT_LAUNCHER_PROGRESS_H_
