// Feeds arbitrary bytes to the INFO reader (version_file::ParseIni) and compares what it finds for the
// four keys of the group "Version" with what QSettings finds in a file holding the same bytes, as the
// upgrade decision would have read it. Any difference aborts, except the two the reader's header names:
// a value QSettings decodes from its data stream ("@Variant(...)", "@DateTime(...)"), and a key that
// QSettings misses because a section named "Version/..." sorts between the group and the key.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <QByteArray>
#include <QSettings>
#include <QVariant>
#include <string>

#include "version-file.h"

namespace {

std::string scratch_dir;
unsigned long long serial = 0;

void Require(bool ok, const char* what, const QString& detail) {
  if (!ok) {
    fprintf(stderr, "version_file_fuzz: %s %s\n", what, detail.toUtf8().constData());
    abort();
  }
}

// Whether some section header of `bytes` names a group below "Version" (the lookup QSettings may miss).
bool HasVersionSubsection(const QByteArray& bytes) {
  for (QByteArray line : QByteArray(bytes).replace('\r', '\n').split('\n')) {
    line = line.trimmed();
    if (!line.startsWith('[')) continue;
    line.replace('\\', '/');
    if (line.mid(1).trimmed().startsWith("Version/")) return true;
  }
  return false;
}

bool IsText(const QVariant& value) {
  const int type = value.userType();
  return type == QMetaType::QString || type == QMetaType::QByteArray || type == QMetaType::QVariantList ||
         type == QMetaType::QStringList || type == QMetaType::UnknownType;
}

void RemoveScratch() {
  rmdir(scratch_dir.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* tmp = getenv("TMPDIR");
  scratch_dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/corvane-version-file-fuzz-XXXXXX";
  if (mkdtemp(&scratch_dir[0]) == nullptr) abort();
  atexit(RemoveScratch);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16 * 1024) return 0;
  const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
  // A new name each time: QSettings keeps what it read of a path while its size and time look the same.
  const QString path = QString::fromStdString(scratch_dir + "/INFO-" + std::to_string(serial++));
  FILE* f = fopen(path.toUtf8().constData(), "wb");
  Require(f != nullptr && fwrite(data, 1, size, f) == size && fclose(f) == 0, "cannot write", path);

  const QMap<QString, QString> values = version_file::ParseIni(bytes);
  {
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("Version"));
    const bool from_stream = bytes.contains("Variant(") || bytes.contains("DateTime(");
    for (const char* key : {"major_version", "minor_version", "build_version", "icon_overlay_version"}) {
      const QString name = QStringLiteral("Version/") + QLatin1String(key);
      const bool ours = values.contains(name), theirs = settings.contains(QLatin1String(key));
      if (ours && !theirs && HasVersionSubsection(bytes)) continue;
      Require(ours == theirs, theirs ? "missed" : "found a key QSettings does not:", name);
      const QVariant value = settings.value(QLatin1String(key));
      if (from_stream || !IsText(value)) continue;
      Require(values.value(name) == value.toString(), "differs:",
              name + QStringLiteral(": '") + values.value(name) + QStringLiteral("' against '") +
                  value.toString() + QStringLiteral("'"));
    }
  }
  unlink(path.toUtf8().constData());
  return 0;
}
