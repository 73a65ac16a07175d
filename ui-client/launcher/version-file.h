// Reading the INFO version files of the two bundles. QSettings would open the path itself, and an open
// of a named pipe put there waits forever (with the single-instance lock held, so the client could
// never start again); so the file is opened here without waiting, accepted only when it is a regular
// file, and its bytes are read the way QSettings' INI format reads them. Any thread; no shared state.
#ifndef CORVANE_LAUNCHER_VERSION_FILE_H_
#define CORVANE_LAUNCHER_VERSION_FILE_H_

#include <QByteArray>
#include <QMap>
#include <QString>

namespace version_file {

// Every key of INI text `bytes`, as "<section>/<key>" (no section, or [General]: "<key>"), mapped to
// what QSettings(path, QSettings::IniFormat).value(key).toString() gives for a file holding `bytes`:
// sections and keys as QSettings spells them (%XX and %UXXXX escapes, "\" as "/"), values unescaped
// and unquoted, a list ("a, b") or a non-text value ("@Rect(...)", "@Invalid()") as an empty text,
// "@ByteArray(...)" and "@@..." as their text, values in Latin-1 unless the file begins with a UTF-8
// byte order mark; comments (";") and lines without "=" are skipped, and a later key wins. The one
// difference: a value stored as "@Variant(...)" or "@DateTime(...)" (Qt's data stream) reads as an
// empty text.
QMap<QString, QString> ParseIni(const QByteArray& bytes);

// Reads the INI file at `path` (UTF-8) into `*values` as ParseIni does. 0; or -1 when it cannot be
// opened, is not a regular file, cannot be read or holds more than 1 MiB, with `*why` saying which
// (`*values` is then empty).
int ReadIniFile(const QString& path, QMap<QString, QString>* values, QString* why);

}  // namespace version_file

#endif  // CORVANE_LAUNCHER_VERSION_FILE_H_
