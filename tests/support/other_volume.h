// A folder that the file layer sees as another volume, for tests of moves across volumes. As root
// it is one: a small tmpfs mounted there. An ordinary account cannot mount, so there the folder is
// plain and this program's rename() fails with EXDEV, as the system's does across volumes, for a
// move from outside the folder to inside it; the layer's fallback then runs as it would. Link the
// object library `other_volume` (it defines rename) into a test program to use it. One at a time.
#ifndef CORVANE_TESTS_SUPPORT_OTHER_VOLUME_H_
#define CORVANE_TESTS_SUPPORT_OTHER_VOLUME_H_

#include <string>

namespace testsupport {

class OtherVolume {
 public:
  // Makes `dir` (which must not be a mount point yet) the other volume for the object's life.
  explicit OtherVolume(const std::string& dir);
  ~OtherVolume();
  OtherVolume(const OtherVolume&) = delete;
  OtherVolume& operator=(const OtherVolume&) = delete;

  // Whether a real volume is mounted (else rename() stands in for one); how it is done, for
  // failure messages.
  bool real() const { return mounted_; }
  const std::string& how() const { return how_; }

 private:
  std::string dir_;
  bool mounted_ = false;
  std::string how_;
};

}  // namespace testsupport

#endif  // CORVANE_TESTS_SUPPORT_OTHER_VOLUME_H_
