#include "DPIinfo.h"

#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <cmath>

DPIinfo* DPIinfo::getInstance() {
  static DPIinfo instance;
  return &instance;
}

double DPIinfo::getDPI() const {
  if (override_ > 0.0) return override_;
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return 1.0;
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return 1.0;
  const double ratio = screen->devicePixelRatio();
  return ratio > 0.0 ? ratio : 1.0;
}

void DPIinfo::setDPI(double factor) {
  override_ = factor > 0.0 ? factor : 0.0;
}

QString DPIinfo::getScaledStyleSheet(const QString& styleSheet) const {
  // A number directly followed by "px", not part of a longer word or number ("a12px", "1.5px" as a
  // whole, "12pxx" is left alone).
  static const QRegularExpression length(QStringLiteral("(?<![\\w.])(\\d+(?:\\.\\d+)?|\\.\\d+)px(?![\\w-])"));
  const double factor = getDPI();
  if (factor == 1.0) return styleSheet;  // Standard density: the sheet as written, fractions included.
  QString out;
  out.reserve(styleSheet.size());
  int last = 0;
  QRegularExpressionMatchIterator it = length.globalMatch(styleSheet);
  while (it.hasNext()) {
    const QRegularExpressionMatch m = it.next();
    const double value = m.captured(1).toDouble();
    long long scaled = std::llround(value * factor);
    if (scaled == 0 && value > 0.0) scaled = 1;  // A hairline stays visible.
    out += styleSheet.midRef(last, m.capturedStart() - last);
    out += QString::number(scaled) + QStringLiteral("px");
    last = m.capturedEnd();
  }
  out += styleSheet.midRef(last);
  return out;
}
