#include "launcher.h"

#include <QCoreApplication>
#include <QLatin1Char>

#include "cloud-service.h"
#include "log.h"
#include "mac/mac-service.h"
#include "progress.h"
#include "strtable.h"

namespace {

const char kComponent[] = "launcher_debug";

}  // namespace

void HandlerThread::run() {
  exec();
}

Worker::Worker() : Worker(new MacService()) {}

Worker::Worker(Service* service) : service_(service) {
  thread_ = new HandlerThread();
  moveToThread(thread_);
}

Worker::~Worker() {
  if (thread_->isRunning()) {
    thread_->quit();
    thread_->wait();
  }
  delete thread_;
  delete service_;
}

void Worker::HandleServicce() {
  LOG_DEBUG(kComponent, "running");
  service_->PreUpgrade();
  if (service_->IsNeedUpgrade()) {
    emit sigShowMsg();
    if (service_->HandlePackageUpgrade() != 0) {
      LOG_ERROR(kComponent, "Failed to upgrade package");
    } else {
      emit sigUpdateProgress(100, 100);
      emit sigSetLabelText(StrTable::LoadStr(StrTable::kRowEnvPreparationDone)
                               .arg(StrTable::LoadStr(StrTable::kRowAppName), 0, QLatin1Char(' ')));
    }
  } else {
    LOG_DEBUG(kComponent, "no need to upgrade");
  }
  service_->ResumeMigration();
  service_->RemoveAgedFolders();
  service_->PostUpgrade();
  LOG_DEBUG(kComponent, "done");
  emit sigServiceDone();
}

Launcher::Launcher() : Launcher(new Worker()) {}

Launcher::Launcher(Worker* worker) : worker_(worker) {
  connect(this, &Launcher::sigStart, worker_, &Worker::HandleServicce);
  connect(worker_, &Worker::sigShowMsg, this, &Launcher::ShowMsgBox);
  connect(worker_, &Worker::sigServiceDone, this, &Launcher::LaunchDone);
  connect(worker_, &Worker::sigUpdateProgress, this, &Launcher::UpdateProgress);
  connect(worker_, &Worker::sigSetLabelText, this, &Launcher::SetLabelText);
  Notify_Adapter* adapter = Notify_Adapter::GetInstance();
  connect(adapter, &Notify_Adapter::sigUpdateProgress, this, &Launcher::UpdateProgress);
  connect(adapter, &Notify_Adapter::sigUpdateDialogText, this, &Launcher::SetLabelText);
}

Launcher::~Launcher() {
  delete worker_;
  delete dialog_;
}

void Launcher::Run() {
  worker_->thread_object()->start(QThread::InheritPriority);
}

void Launcher::Start() {
  emit sigStart();
}

void Launcher::LaunchDone() {
  if (dialog_ != nullptr) {
    dialog_->setValue(100);
    dialog_->hide();
  }
  QThread* thread = worker_->thread_object();
  thread->quit();
  thread->wait();
  QCoreApplication::quit();
}

void Launcher::UpdateProgress(int total, int steps) {
  if (total <= 0) {
    LOG_WARNING(kComponent, "progress of %d steps out of %d ignored", steps, total);
    return;
  }
  // 64-bit so that a package of more than 21 million entries cannot overflow the product.
  const int value = static_cast<int>(static_cast<qint64>(steps) * 100 / total);
  if (dialog_ != nullptr) {
    dialog_->setValue(value);
  } else {
    pending_value_ = value;
  }
}

void Launcher::SetLabelText(const QString& text) {
  if (dialog_ != nullptr) {
    dialog_->setLabelText(text);
  } else {
    pending_label_ = text;
  }
}

void Launcher::ShowMsgBox() {
  if (dialog_ == nullptr) {
    dialog_ = new ProcessingProgressDialog();
    dialog_->setCancelButton(nullptr);
    dialog_->setAutoReset(false);
    if (pending_value_ >= 0) dialog_->setValue(pending_value_);
    if (!pending_label_.isNull()) dialog_->setLabelText(pending_label_);
  }
  dialog_->show();
}
