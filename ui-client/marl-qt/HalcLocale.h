// The user's language as one of the 21 three-letter codes of the translations resource (chs, cht, csy,
// dan, enu, fre, ger, hun, ita, jpn, krn, nld, nor, plk, ptb, ptg, rus, spn, sve, tha, trk). Any thread.
#ifndef CORVANE_UI_CLIENT_MARL_QT_HALCLOCALE_H_
#define CORVANE_UI_CLIENT_MARL_QT_HALCLOCALE_H_

#include <QLocale>
#include <QString>

class HalcLocale {
 public:
  // The one instance of the process; never null, never deleted.
  static HalcLocale* getInstance();

  // The code for the system's preferred user-interface languages (QLocale::system().uiLanguages(), in
  // order of preference, then the system locale itself): the first that maps to a code; "enu" when none
  // does.
  QString getDefaultLanguage() const;

  // The code for one locale: zh_CN chs; zh_TW, zh_HK (and other Traditional-script Chinese) cht; other
  // Chinese chs; cs csy; da dan; en enu; fr fre; de ger; hu hun; it ita; ja jpn; ko krn; nl nld; nb, nn,
  // no nor; pl plk; pt_BR ptb; other Portuguese ptg; ru rus; es spn; sv sve; th tha; tr trk. An empty
  // string for any other language.
  static QString codeForLocale(const QLocale& locale);

  HalcLocale(const HalcLocale&) = delete;
  HalcLocale& operator=(const HalcLocale&) = delete;

 private:
  HalcLocale() = default;
};

#endif  // CORVANE_UI_CLIENT_MARL_QT_HALCLOCALE_H_
