// Our stand-in for the macOS Launch Services tools that start the per-user client: `lsregister -u`
// (forget a bundle in the Launch Services database) and `/usr/bin/open -n -a` (open a new instance of
// a bundle). On macOS the two calls run exactly those tools, and open's exit status tells whether the
// application could be launched. Elsewhere, and in a macOS test build (CORVANE_START_UI_DIRECTLY, set
// by CMake when the tests are built), there is no Launch Services database to use: unregistering
// succeeds without running anything, and opening starts the bundle's user-interface executable (the
// path registry's user_corvane_ui_path) detached, in its own folder and session, without copying the
// caller's process.
//
// Every request is first shown to the observer, if one is set, so that tests can see what the layer
// was asked to do, and then to the gate, if one is set, which may refuse it: tests refuse the real
// macOS tools, which would start the client through launchd with the user's real home folder. Call
// from any one thread at a time (the worker thread in the launcher); the observer and the gate may
// be set from any thread.
#ifndef CORVANE_UI_CLIENT_LAUNCHER_LAUNCH_SERVICES_H_
#define CORVANE_UI_CLIENT_LAUNCHER_LAUNCH_SERVICES_H_

#include <QString>
#include <QStringList>
#include <functional>

namespace launch_services {

// What the layer was asked to do and what it is about to run. `program` is empty when nothing is run
// (unregistering where there is no Launch Services database).
struct Request {
  enum Kind { kUnregister, kOpenNewInstance };
  Kind kind;
  QString bundle;             // the application bundle the caller named
  QString program;            // the tool or executable started
  QStringList arguments;      // its arguments, in order
  QString working_directory;  // empty: the launcher's own
};

// Receives every request before it is carried out; an empty function removes the observer.
void SetObserver(std::function<void(const Request&)> observer);

// Asked about every request after the observer; it returns true to let the request be carried out.
// A refused request runs nothing and fails: UnregisterBundle returns -1 (as for a tool that cannot
// start), OpenNewInstance false. An empty function removes the gate (everything is allowed).
void SetGate(std::function<bool(const Request&)> gate);

// How long OpenNewInstance waits for the opener (open exits as soon as Launch Services took the launch).
constexpr int kOpenTimeoutMs = 10000;

// Tests: run `program` in place of /usr/bin/open, with open's arguments, on every platform, and judge
// its exit status as open's, waiting at most `timeout_ms`. An empty program restores the platform's way.
void SetOpenerForTests(const QString& program, int timeout_ms = kOpenTimeoutMs);

// Removes `bundle` from the Launch Services database, waiting for the tool without a time limit.
// 0 on success; otherwise the tool's exit code, -2 when it crashed or -1 when it could not start
// (QProcess::execute's codes) or the gate refused it.
int UnregisterBundle(const QString& bundle);

// Opens a new instance of `bundle`, even when one already runs, without tracking it. Through open:
// true when open exited with 0, or still ran after kOpenTimeoutMs (logged as a WARNING and left
// running); false (logged as an ERROR) when it could not run, exited otherwise or was killed. Where
// the executable is run directly: true when its exec succeeded; it is then the caller's child and
// never waited for: once it ends, it stays a zombie until the caller exits (the launcher exits right
// after starting it). False when the gate refused the request.
bool OpenNewInstance(const QString& bundle);

}  // namespace launch_services

#endif  // CORVANE_UI_CLIENT_LAUNCHER_LAUNCH_SERVICES_H_
