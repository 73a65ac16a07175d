#include "HalcLocale.h"

#include <QStringList>

HalcLocale* HalcLocale::getInstance() {
  static HalcLocale instance;
  return &instance;
}

QString HalcLocale::codeForLocale(const QLocale& locale) {
  const QLocale::Country country = locale.country();
  switch (locale.language()) {
    case QLocale::Chinese:
      if (locale.script() == QLocale::TraditionalChineseScript || country == QLocale::Taiwan ||
          country == QLocale::HongKong || country == QLocale::Macau)
        return QStringLiteral("cht");
      return QStringLiteral("chs");
    case QLocale::Czech:
      return QStringLiteral("csy");
    case QLocale::Danish:
      return QStringLiteral("dan");
    case QLocale::English:
      return QStringLiteral("enu");
    case QLocale::French:
      return QStringLiteral("fre");
    case QLocale::German:
      return QStringLiteral("ger");
    case QLocale::Hungarian:
      return QStringLiteral("hun");
    case QLocale::Italian:
      return QStringLiteral("ita");
    case QLocale::Japanese:
      return QStringLiteral("jpn");
    case QLocale::Korean:
      return QStringLiteral("krn");
    case QLocale::Dutch:
      return QStringLiteral("nld");
    case QLocale::NorwegianBokmal:
    case QLocale::NorwegianNynorsk:
      return QStringLiteral("nor");
    case QLocale::Polish:
      return QStringLiteral("plk");
    case QLocale::Portuguese:
      return country == QLocale::Brazil ? QStringLiteral("ptb") : QStringLiteral("ptg");
    case QLocale::Russian:
      return QStringLiteral("rus");
    case QLocale::Spanish:
      return QStringLiteral("spn");
    case QLocale::Swedish:
      return QStringLiteral("sve");
    case QLocale::Thai:
      return QStringLiteral("tha");
    case QLocale::Turkish:
      return QStringLiteral("trk");
    default:
      return QString();
  }
}

QString HalcLocale::getDefaultLanguage() const {
  const QLocale system = QLocale::system();
  QStringList candidates = system.uiLanguages();
  candidates << system.name();
  for (const QString& name : candidates) {
    // "no" (Norwegian without a written standard) is not a language of its own in QLocale.
    const QString lang = name.section(QLatin1Char('-'), 0, 0).section(QLatin1Char('_'), 0, 0);
    if (lang == QLatin1String("no")) return QStringLiteral("nor");
    const QString code = codeForLocale(QLocale(name));
    if (!code.isEmpty()) return code;
  }
  return QStringLiteral("enu");
}
