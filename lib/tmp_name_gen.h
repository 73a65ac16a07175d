// Random names for temporary files: 8 characters from [0-9a-zA-Z-_], drawn from one process-wide
// generator seeded from /dev/urandom. The names are unpredictable enough to avoid clashes between
// runs, not for security: nothing checks that a name is free. Every member locks the generator's
// mutex, so any thread may call any of them.
#ifndef CORVANE_LIB_TMP_NAME_GEN_H_
#define CORVANE_LIB_TMP_NAME_GEN_H_

#include <mutex>
#include <random>
#include <string>

class TmpNameGen {
 public:
  // The one instance, created on the first call (seeded then) and destroyed at exit.
  static TmpNameGen* getInstance();

  // Seeds the generator afresh from the system's random device.
  void reseed();
  // 8 characters from "0-9a-zA-Z-_".
  std::string getTmpName();
  // dir + "/" + getTmpName().
  std::string getTmpPath(const std::string& dir);

  TmpNameGen(const TmpNameGen&) = delete;
  TmpNameGen& operator=(const TmpNameGen&) = delete;

 private:
  TmpNameGen();

  std::mutex mutex;
  std::minstd_rand engine;  // state 1 until the first reseed
};

#endif  // CORVANE_LIB_TMP_NAME_GEN_H_
