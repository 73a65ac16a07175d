#include "tmp_name_gen.h"

namespace {

constexpr char kAlphabet[64] = {'0', '1', '2', '3', '4', '5', '6', '7', '8', '9', 'a', 'b', 'c',
                                'd', 'e', 'f', 'g', 'h', 'i', 'j', 'k', 'l', 'm', 'n', 'o', 'p',
                                'q', 'r', 's', 't', 'u', 'v', 'w', 'x', 'y', 'z', 'A', 'B', 'C',
                                'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O', 'P',
                                'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', '-', '_'};
constexpr int kNameLength = 8;

}  // namespace

TmpNameGen* TmpNameGen::getInstance() {
  static TmpNameGen instance;
  return &instance;
}

TmpNameGen::TmpNameGen() : engine(1) {
  reseed();
}

void TmpNameGen::reseed() {
  std::lock_guard<std::mutex> lock(mutex);
  std::random_device device("/dev/urandom");
  // seed() takes the value modulo 2147483647 and uses 1 in place of 0.
  engine.seed(device());
}

std::string TmpNameGen::getTmpName() {
  std::lock_guard<std::mutex> lock(mutex);
  static std::uniform_int_distribution<int> pick(0, 63);
  std::string name(kNameLength, '\0');
  for (char& c : name) c = kAlphabet[pick(engine)];
  return name;
}

std::string TmpNameGen::getTmpPath(const std::string& dir) {
  return dir + "/" + getTmpName();
}
