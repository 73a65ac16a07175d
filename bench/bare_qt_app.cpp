// The reference for the launcher's start-up cost: a Qt Widgets program that creates its application
// object, enters the event loop and quits at once. Given a program's path as its only argument, it
// also starts that program as the launcher starts the interface (posix_spawn, in a session of its
// own, in the program's folder, without waiting for it), so that the cost of starting it can be told
// apart from the launcher's own.
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <string>

#ifdef __APPLE__
#include <crt_externs.h>
#define BENCH_ENVIRON (*_NSGetEnviron())
#else
#define BENCH_ENVIRON environ
#endif

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc > 1) {
    const std::string program = argv[1];
    const std::string folder = program.substr(0, program.rfind('/'));
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setflags(&attributes,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    char* args[] = {argv[1], nullptr};
    pid_t pid = 0;
    const int error = posix_spawn(&pid, argv[1], &actions, &attributes, args, BENCH_ENVIRON);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) return 1;
  }
  QTimer::singleShot(0, &app, &QCoreApplication::quit);
  return QApplication::exec();
}
