#include "version-file.h"

#include <QHash>
#include <QVector>
#include <algorithm>
#include <functional>
#include <string>

#include "regular_file.h"

namespace version_file {

namespace {

// A version file holds a few short lines; anything far larger is not one.
constexpr int kMaxIniSize = 1 << 20;

// The blanks of QSettings' INI reader: not \v nor \f.
bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// One logical line of INI text from `*pos`: leading blanks and empty lines skipped, a ';' at its start
// makes the rest of that line a comment, a ';' later (outside quotes) ends the line, a line break inside
// quotes or after a backslash does not. `*equals` is the first '=' outside quotes, or -1. False at the
// end of the text.
bool NextLine(const QByteArray& data, int* pos, int* start, int* length, int* equals) {
  const int size = data.size();
  bool quoted = false;
  *equals = -1;
  int line = *pos;
  while (line < size && IsSpace(data[line])) ++line;
  int i = line;
  while (i < size) {
    const char c = data[i++];
    if (c == '=') {
      if (!quoted && *equals == -1) *equals = i - 1;
    } else if (c == '\n' || c == '\r') {
      if (i == line + 1) {
        ++line;
      } else if (!quoted) {
        --i;
        break;
      }
    } else if (c == '\\') {
      if (i < size) {
        const char escaped = data[i++];
        if (i < size) {
          const char next = data[i];
          if ((escaped == '\n' && next == '\r') || (escaped == '\r' && next == '\n')) ++i;
        }
      }
    } else if (c == '"') {
      quoted = !quoted;
    } else if (c == ';') {
      if (i == line + 1) {
        while (i < size && data[i] != '\n' && data[i] != '\r') ++i;
        while (i < size && IsSpace(data[i])) ++i;
        line = i;
      } else if (!quoted) {
        --i;
        break;
      }
    }
  }
  *pos = i;
  *start = line;
  *length = i - line;
  return *length > 0;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A section or key name: "\" stands for "/", "%XX" and "%UXXXX" for the character of that code,
// everything else for the Latin-1 character of its byte.
QString UnescapedKey(const QByteArray& data, int from, int to) {
  QString out;
  int i = from;
  while (i < to) {
    const char c = data[i];
    if (c == '\\') {
      out += QLatin1Char('/');
      ++i;
      continue;
    }
    if (c != '%' || i == to - 1) {
      out += QLatin1Char(c);
      ++i;
      continue;
    }
    int digits = 2, first = i + 1;
    if (data[i + 1] == 'U') {
      ++first;
      digits = 4;
    }
    // QSettings converts the digits as QByteArray::toUShort does, which also takes blanks around
    // them, a '+' and a "0x": so must this.
    bool ok = first + digits <= to;
    const ushort code = ok ? data.mid(first, digits).toUShort(&ok, 16) : 0;
    if (!ok) {
      out += QLatin1Char('%');
      ++i;
      continue;
    }
    out += QChar(code);
    i = first + digits;
  }
  return out;
}

// Removes the blanks at the end of `text` after position `limit`.
void ChopTrailingBlanks(QString* text, int limit) {
  int n = text->size();
  while (n > limit && (text->at(n - 1) == QLatin1Char(' ') || text->at(n - 1) == QLatin1Char('\t'))) --n;
  text->truncate(n);
}

// The value between `from` and `to`: blanks around it dropped, '"' quotes keep blanks and commas,
// C-style escapes (\n, \t, \x41, \101, ...), commas outside quotes make a list. True for a list (its
// items in `*items`), false for one text (in `*text`).
bool UnescapedValue(const QByteArray& data, int from, int to, bool utf8, QString* text, QStringList* items) {
  static const char kEscapes[][2] = {{'a', '\a'}, {'b', '\b'},  {'f', '\f'}, {'n', '\n'},
                                     {'r', '\r'}, {'t', '\t'},  {'v', '\v'}, {'"', '"'},
                                     {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
  bool list = false, in_quotes = false, quoted_item = false;
  // False when the value ends inside an escape: its last blanks are then kept.
  bool chop = true;
  int i = from;
  auto skip_blanks = [&] {
    while (i < to && (data[i] == ' ' || data[i] == '\t')) ++i;
  };
  // A numeric escape: the digits of base `base` from `i` on, as many as there are. The character is
  // the low 16 bits of the number, as QSettings gives it for any count of digits; kept in 16 bits
  // all along, a long escape cannot overflow.
  auto numeric = [&](int base, unsigned value) {
    while (i < to) {
      const int d = HexDigit(data[i]);
      if (d < 0 || d >= base) break;
      value = (value * static_cast<unsigned>(base) + static_cast<unsigned>(d)) & 0xffff;
      ++i;
    }
    *text += QChar(static_cast<ushort>(value));
    if (i >= to) chop = false;
  };
  skip_blanks();
  int chop_limit = text->size();
  while (i < to) {
    const char c = data[i];
    if (c == '\\') {
      if (++i >= to) {
        chop = false;
        break;
      }
      const char e = data[i++];
      const char* named = nullptr;
      for (const auto& escape : kEscapes)
        if (e == escape[0]) named = escape;
      if (named != nullptr) {
        *text += QLatin1Char(named[1]);
      } else if (e == 'x') {
        if (i >= to) {
          chop = false;
          break;
        }
        if (HexDigit(data[i]) >= 0) numeric(16, 0);
      } else if (e >= '0' && e <= '7') {
        numeric(8, static_cast<unsigned>(e - '0'));
      } else if (e == '\n' || e == '\r') {
        // A line continued: the break (one of \n, \r, \r\n, \n\r) is dropped.
        if (i < to && (data[i] == '\n' || data[i] == '\r') && data[i] != e) ++i;
      }  // Any other escaped character is dropped.
      chop_limit = text->size();
    } else if (c == '"') {
      ++i;
      quoted_item = true;
      in_quotes = !in_quotes;
      if (!in_quotes) {
        skip_blanks();
        chop_limit = text->size();
      }
    } else if (c == ',' && !in_quotes) {
      if (!quoted_item) ChopTrailingBlanks(text, chop_limit);
      list = true;
      items->append(*text);
      text->clear();
      quoted_item = false;
      ++i;
      skip_blanks();
      chop_limit = 0;
    } else {
      int j = i + 1;
      while (j < to && data[j] != '\\' && data[j] != '"' && data[j] != ',') ++j;
      *text += utf8 ? QString::fromUtf8(data.constData() + i, j - i)
                    : QString::fromLatin1(data.constData() + i, j - i);
      i = j;
    }
  }
  if (chop && !quoted_item) ChopTrailingBlanks(text, chop_limit);
  if (list) items->append(*text);
  return list;
}

// The count of arguments QSettings finds in "@Rect(...)", "@Size(...)" or "@Point(...)": one per blank
// and one per ')' after the '(' at `open`.
int ArgumentCount(const QString& text, int open) {
  return static_cast<int>(text.midRef(open + 1).count(QLatin1Char(' ')) +
                          text.midRef(open + 1).count(QLatin1Char(')')));
}

// What QVariant::toString() gives for the value QSettings makes of `text`: "@@x" is "@x",
// "@ByteArray(x)" and "@String(x)" are x; "@Invalid()", "@Variant(...)", "@DateTime(...)" and
// "@Rect(...)", "@Size(...)", "@Point(...)" with their count of arguments (none of them text) are
// empty; any other text is itself.
QString ValueText(const QString& text) {
  if (!text.startsWith(QLatin1Char('@'))) return text;
  if (text.endsWith(QLatin1Char(')'))) {
    if (text.startsWith(QLatin1String("@ByteArray(")))
      return QString::fromUtf8(text.mid(11, text.size() - 12).toLatin1());
    if (text.startsWith(QLatin1String("@String("))) return text.mid(8, text.size() - 9);
    if (text == QLatin1String("@Invalid()") || text.startsWith(QLatin1String("@Variant(")) ||
        text.startsWith(QLatin1String("@DateTime(")) ||
        (text.startsWith(QLatin1String("@Rect(")) && ArgumentCount(text, 5) == 4) ||
        (text.startsWith(QLatin1String("@Size(")) && ArgumentCount(text, 5) == 2) ||
        (text.startsWith(QLatin1String("@Point(")) && ArgumentCount(text, 6) == 2))
      return QString();
  }
  if (text.startsWith(QLatin1String("@@"))) return text.mid(1);
  return text;
}

// The section in which QSettings looks a whole key up (an index into `sections`, each name with its
// '/'): the one with the longest name that begins the key; for a key with a '/', never the section
// without a name. -1 when there is none. So "Version\build_version=" outside [Version] is no key of
// that group: QSettings finds only the keys written inside it. `lengths` holds the names' lengths,
// longest first, so that only those are tried.
int HomeSection(const QString& key, const QHash<QString, int>& sections, const QVector<int>& lengths) {
  if (!key.contains(QLatin1Char('/'))) return 0;
  for (const int end : lengths) {
    if (end > key.size() || key[end - 1] != QLatin1Char('/')) continue;
    const auto found = sections.constFind(key.left(end));
    if (found != sections.constEnd()) return found.value();
  }
  return -1;
}

}  // namespace

QMap<QString, QString> ParseIni(const QByteArray& bytes) {
  struct Entry {
    int section;  // in `sections`
    QString key;  // the whole key, the section's name in front
    QString value;
  };
  QVector<Entry> entries;
  // "<name>/" of each section in the text ("" for none or [General]) and its number.
  QHash<QString, int> sections{{QString(), 0}};
  int pos = 0;
  const bool utf8 = bytes.startsWith("\xef\xbb\xbf");
  if (utf8) pos = 3;
  int section = 0;
  QString prefix;
  int start, length, equals;
  while (NextLine(bytes, &pos, &start, &length, &equals)) {
    if (bytes[start] == '[') {
      int close = bytes.indexOf(']', start);
      if (close == -1 || close >= start + length) close = start + length;
      const QByteArray name = bytes.mid(start + 1, close - start - 1).trimmed();
      prefix.clear();
      if (name.compare("general", Qt::CaseInsensitive) != 0) {
        prefix = name.compare("%general", Qt::CaseInsensitive) == 0 ? QString::fromLatin1(name.mid(1))
                                                                    : UnescapedKey(name, 0, name.size());
        prefix += QLatin1Char('/');
      }
      section = sections.insert(prefix, sections.value(prefix, sections.size())).value();
      continue;
    }
    if (equals == -1) continue;
    int key_end = equals;
    while (key_end > start && (bytes[key_end - 1] == ' ' || bytes[key_end - 1] == '\t')) --key_end;
    QString text;
    QStringList items;
    const bool list = UnescapedValue(bytes, equals + 1, start + length, utf8, &text, &items);
    entries.append(
        {section, prefix + UnescapedKey(bytes, start, key_end), list ? QString() : ValueText(text)});
  }
  QVector<int> lengths;
  for (auto i = sections.constBegin(); i != sections.constEnd(); ++i) {
    if (!i.key().isEmpty() && !lengths.contains(i.key().size())) lengths.append(i.key().size());
  }
  std::sort(lengths.begin(), lengths.end(), std::greater<int>());
  QMap<QString, QString> values;
  for (const Entry& entry : entries) {
    if (HomeSection(entry.key, sections, lengths) == entry.section) values.insert(entry.key, entry.value);
  }
  return values;
}

int ReadIniFile(const QString& path, QMap<QString, QString>* values, QString* why) {
  values->clear();
  std::string bytes;
  int error = 0;
  if (ReadRegularFile(path.toUtf8().constData(), kMaxIniSize, &bytes, &error) != 0) {
    *why = error == kFileTooLarge ? QStringLiteral("larger than %1 bytes").arg(kMaxIniSize)
                                  : QString::fromStdString(RegularFileErrorText(error));
    return -1;
  }
  *values = ParseIni(QByteArray(bytes.data(), static_cast<int>(bytes.size())));
  return 0;
}

}  // namespace version_file
