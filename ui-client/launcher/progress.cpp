#include "progress.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <string>

#include "DPIinfo.h"
#include "UIPathManager.h"
#include "regular_file.h"
#include "strtable.h"

namespace {

// The dialog's icon is a small picture; anything far larger is not one.
constexpr size_t kMaxIconSize = 1 << 20;

// The picture at `path`, read as every file of the bundle is (regular_file.h): the toolkit would open
// the path itself, wait for ever on a named pipe there and follow a link. An empty icon when there is
// no picture to read.
QIcon ReadIcon(const QString& path) {
  std::string bytes;
  if (ReadRegularFile(QFile::encodeName(path).constData(), kMaxIconSize, &bytes, nullptr) != 0)
    return QIcon();
  QPixmap picture;
  if (!picture.loadFromData(reinterpret_cast<const uchar*>(bytes.data()), static_cast<uint>(bytes.size())))
    return QIcon();
  return QIcon(picture);
}

}  // namespace

ProcessingProgressDialog::ProcessingProgressDialog() : QProgressDialog(nullptr, Qt::WindowFlags()) {
  const QFont font = QApplication::font();
  const QString icon_path = UIPathManager::getInstance()->getPath(QStringLiteral("root_resource_path")) +
                            QStringLiteral("/images/ico_72_skyhold.png");
  setWindowTitle(StrTable::LoadStr(StrTable::kRowAppName));
  setWindowIcon(ReadIcon(icon_path));
  setWindowFlags(Qt::WindowTitleHint | Qt::WindowSystemMenuHint);
  setValue(0);
  setRange(0, 100);
  setLabelText(StrTable::LoadStr(StrTable::kRowEnvPreparing)
                   .arg(StrTable::LoadStr(StrTable::kRowAppName), 0, QLatin1Char(' ')));
  setFont(font);
  setModal(true);
  setWindowModality(Qt::WindowModal);
  setFixedSize(static_cast<int>(DPIinfo::getInstance()->getDPI() * 400.0),
               static_cast<int>(DPIinfo::getInstance()->getDPI() * 80.0));
  setStyleSheet(DPIinfo::getInstance()->getScaledStyleSheet(
      QStringLiteral("QProgressDialog { background-color: WhiteSmoke; vertical-align: middle; }")));
}

ProcessingProgressDialog::~ProcessingProgressDialog() = default;

Notify_Adapter* Notify_Adapter::GetInstance() {
  // Initialised once, under the lock the language provides for function-local statics; destroyed at exit.
  static Notify_Adapter instance;
  return &instance;
}

Notify_Adapter::Notify_Adapter() : QObject(nullptr) {}

Notify_Adapter::~Notify_Adapter() = default;

void Notify_Adapter::UpdateProgress(int total, int current) {
  emit sigUpdateProgress(total, current);
}

void Notify_Adapter::UpdateDialogText(QString text) {
  emit sigUpdateDialogText(text);
}
