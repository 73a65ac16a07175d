#include "DPIinfo.h"

#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <cmath>

DPIinfo* DPIinfo::getInstance() {
  static DPIinfo instance;
  return &instance;
}

namespace {

// True when the toolkit already scales widget sizes itself, so that they are given in logical units:
// the high-DPI scaling attribute, a global QT_SCALE_FACTOR other than 1, or any device pixel ratio
// other than 1 (a Retina screen, per-screen factors).
bool ToolkitScales(const QScreen& screen) {
  if (QCoreApplication::testAttribute(Qt::AA_EnableHighDpiScaling)) return true;
  bool ok = false;
  const double global = qEnvironmentVariable("QT_SCALE_FACTOR").toDouble(&ok);
  if (ok && global > 0.0 && !qFuzzyCompare(global, 1.0)) return true;
  return !qFuzzyCompare(screen.devicePixelRatio(), 1.0);
}

}  // namespace

double DPIinfo::getDPI() const {
  if (override_ > 0.0) return override_;
  if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) return 1.0;
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr || ToolkitScales(*screen)) return 1.0;
  // In quarter steps, so that a screen of about 100 dots per inch (X11's and Qt's usual guess) stays at
  // 1.0 and 144 gives exactly 1.5 rather than a size a pixel short.
  const double quarters = std::round(screen->logicalDotsPerInch() / referenceDpi() * 4.0);
  return quarters > 0.0 ? quarters / 4.0 : 1.0;
}

void DPIinfo::setDPI(double factor) {
  override_ = factor > 0.0 ? factor : 0.0;
}

double DPIinfo::referenceDpi() const {
  if (reference_override_ > 0.0) return reference_override_;
#ifdef __APPLE__
  return 72.0;  // Cocoa's logical density at a device pixel ratio of 1
#else
  return 96.0;
#endif
}

void DPIinfo::setReferenceDpi(double dpi) {
  reference_override_ = dpi > 0.0 ? dpi : 0.0;
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
