// The screen scale factor and style sheets scaled by it. Main thread only (it asks the primary screen).
#ifndef CORVANE_UI_CLIENT_MARL_QT_DPIINFO_H_
#define CORVANE_UI_CLIENT_MARL_QT_DPIINFO_H_

#include <QString>

class DPIinfo {
 public:
  // The one instance of the process; never null, never deleted.
  static DPIinfo* getInstance();

  // The scale that the toolkit does not apply itself, by which the caller multiplies pixel sizes:
  // 1.0 where the toolkit already scales widgets (device pixel ratio other than 1, as on a Retina
  // screen; QT_SCALE_FACTOR; Qt::AA_EnableHighDpiScaling), since sizes are then in logical units;
  // otherwise the primary screen's logical density over the platform's reference density
  // (referenceDpi(): 96, or 72 on macOS, whose Cocoa reports 72 at standard density) in steps of 0.25
  // (1.5 at 144 dots per inch against 96, 1.0 from about 84 to 108). 1.0 when there is no application
  // object or no screen. An override set by setDPI wins.
  double getDPI() const;

  // `styleSheet` with every length in pixels ("12px", "1.5px") multiplied by getDPI() and rounded to
  // a whole number of pixels (at least 1 for a non-zero length); everything else unchanged. At a factor
  // of exactly 1.0 the sheet comes back as given.
  QString getScaledStyleSheet(const QString& styleSheet) const;

  // Makes getDPI() return `factor` instead of measuring; a factor of 0 or less returns to measuring.
  // For tests and for a user setting; not used by the launcher.
  void setDPI(double factor);

  // The logical density at which the factor is 1.0: 72 on macOS, 96 elsewhere, or what
  // setReferenceDpi set (for tests that show here what a Mac screen gives); 0 or less returns to the
  // platform's own.
  double referenceDpi() const;
  void setReferenceDpi(double dpi);

  DPIinfo(const DPIinfo&) = delete;
  DPIinfo& operator=(const DPIinfo&) = delete;

 private:
  DPIinfo() = default;

  double override_ = 0.0;
  double reference_override_ = 0.0;
};

#endif  // CORVANE_UI_CLIENT_MARL_QT_DPIINFO_H_
