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

// Every key of INI text `bytes` that QSettings(path, QSettings::IniFormat) finds for a file holding
// `bytes`, as "<section>/<key>" (no section, or [General]: "<key>"), mapped to what .value(key).toString()
// gives: sections and keys as QSettings spells them (%XX and %UXXXX escapes with QSettings' lenient
// digits, "\" as "/"), values unescaped and unquoted (a numeric escape gives the low 16 bits of its
// number, however many digits it has), a list ("a, b") or a non-text value ("@Rect(1 2 3 4)",
// "@Invalid()") as an empty text, "@ByteArray(...)", "@String(...)" and "@@..." as their text, values in
// Latin-1 unless the file begins with a UTF-8 byte order mark; comments (";") and lines without "=" are
// skipped, only space, tab, CR and LF are blanks, and a later key wins. A key belongs to the section it
// is written in: "Version\build_version=" outside [Version] is no key of the group "Version", as
// QSettings finds a key only in the section whose name is the longest that begins it.
// Two differences, both on purpose: a value stored as "@Variant(...)" or "@DateTime(...)" (Qt's data
// stream) reads as an empty text; and a key of [Version] stays found when a section such as
// [Version/Extras] sorts between the group and the key, where QSettings' lookup misses it.
QMap<QString, QString> ParseIni(const QByteArray& bytes);

// Reads the INI file at `path` (UTF-8) into `*values` as ParseIni does. 0; or -1 when it cannot be
// opened, is not a regular file, cannot be read or holds more than 1 MiB (told by its size before it is
// read, and never read further), with `*why` saying which (`*values` is then empty).
int ReadIniFile(const QString& path, QMap<QString, QString>* values, QString* why);

}  // namespace version_file

#endif  // CORVANE_LAUNCHER_VERSION_FILE_H_
