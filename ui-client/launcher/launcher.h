// The launcher's running core: the Launcher owns the progress dialog and a Worker that runs the
// upgrade job once, on a HandlerThread of its own, by calling the upgrade service in a fixed order.
// The worker never touches a widget; every change of the dialog travels as a queued signal to the
// Launcher on the main thread, in emission order. Create, run and delete the Launcher on the main
// thread, after the path registry and the string table have been filled.
#ifndef CORVANE_UI_CLIENT_LAUNCHER_LAUNCHER_H_
#define CORVANE_UI_CLIENT_LAUNCHER_LAUNCHER_H_

#include <QObject>
#include <QString>
#include <QThread>

class ProcessingProgressDialog;
class Service;

// The worker's thread: runs nothing but its event loop, so the worker's slot runs there as a queued
// call.
class HandlerThread : public QThread {
  Q_OBJECT

 protected:
  void run() override;
};

// Runs the upgrade job on its own thread. Owns its thread object and its service.
class Worker : public QObject {
  Q_OBJECT

 public:
  // Creates a MacService, then the thread, and moves itself onto that thread (not started).
  Worker();
  // The same with a service of the caller's choosing; takes ownership of `service`.
  explicit Worker(Service* service);
  // Deletes the thread object first, then the service. A thread still running is stopped and joined
  // first, so a Launcher deleted without LaunchDone() does not destroy a running thread.
  ~Worker() override;

  HandlerThread* thread_object() const { return thread_; }

 signals:
  void sigServiceDone();
  void sigShowMsg();
  void sigUpdateProgress(int total, int steps);
  void sigSetLabelText(const QString& text);

 public slots:
  // The upgrade job, run once on the worker thread: PreUpgrade, IsNeedUpgrade, and when needed the
  // dialog and HandlePackageUpgrade; then always ResumeMigration, RemoveAgedFolders, PostUpgrade and
  // sigServiceDone.
  void HandleServicce();

 private:
  HandlerThread* thread_ = nullptr;
  Service* service_ = nullptr;
};

// Owns the worker and the progress dialog and reflects the job in the dialog; quits the application
// when the job is done.
//
// The dialog is built by the first ShowMsgBox(), not before: a run with nothing to upgrade never
// creates it, so it neither pays for laying out its text nor starts the toolkit's minimum-duration
// timer that would show it on its own after a few seconds. Until then the bar's value and the label
// are kept here and given to the dialog when it is built.
class Launcher : public QObject {
  Q_OBJECT

 public:
  // Builds a Worker (with its MacService) and makes the seven connections.
  Launcher();
  // The same with a worker of the caller's choosing (not yet started); takes ownership of `worker`.
  explicit Launcher(Worker* worker);
  // Deletes the worker first, then the dialog if it was built.
  ~Launcher() override;

  // The progress dialog; null until ShowMsgBox() has built it.
  ProcessingProgressDialog* dialog() const { return dialog_; }

  // Starts the worker's thread.
  void Run();
  // Queues the job on the worker thread.
  void Start();

 signals:
  void sigStart();

 public slots:
  // Sets the bar to 100 and hides the dialog (when built), quits the worker thread, joins it, and ends
  // the application's event loop.
  void LaunchDone();
  // Sets the bar to steps * 100 / total. A total of 0 or less leaves the bar as it is.
  void UpdateProgress(int total, int steps);
  void SetLabelText(const QString& text);
  // Builds the progress dialog on the first call (no cancel button, auto-reset off) and shows it.
  void ShowMsgBox();

 private:
  Worker* worker_ = nullptr;
  ProcessingProgressDialog* dialog_ = nullptr;
  // What the slots were asked before the dialog existed: -1 and a null string for nothing.
  int pending_value_ = -1;
  QString pending_label_;
};

#endif  // CORVANE_UI_CLIENT_LAUNCHER_LAUNCHER_H_
