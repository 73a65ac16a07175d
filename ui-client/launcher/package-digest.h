// Knowing that the package shipped in the running bundle is the one the bundle was made with, before an
// upgrade touches anything. A package cut short at an entry boundary still reads as a whole archive:
// only its digest tells. The bundle's maker (scripts/make-bundle) records the package's SHA-256 beside
// it, in Contents/Resources/package/skyhold.hpk.sha256, as "<64 hex digits>  skyhold.hpk" (the form
// sha256sum and `shasum -a 256` write, so `shasum -a 256 -c skyhold.hpk.sha256` checks it by hand). On a
// Mac the bundle's code signature seals both files, so neither changes without the other being noticed.
// The hash is the platform's: CommonCrypto on macOS; elsewhere Nettle, loaded on the first check (on
// Debian it comes with libarchive). Both are several times faster than a portable one. The free
// functions keep no state but the loaded library and may run on any thread.
#ifndef CORVANE_UI_CLIENT_LAUNCHER_PACKAGE_DIGEST_H_
#define CORVANE_UI_CLIENT_LAUNCHER_PACKAGE_DIGEST_H_

#include <string>

#include "ustring.h"

// The digest file of `package`: `package` + ".sha256".
ustring PackageDigestPath(const ustring& package);

#ifndef CORVANE_MAX_PACKAGE_MIB
#error "the build sets CORVANE_MAX_PACKAGE_MIB (the CMake cache value of that name)"
#endif
// The largest package the launcher takes, in bytes: the build's CORVANE_MAX_PACKAGE_MIB, many times
// what a bundle really ships (make-bundle refuses to ship more). A larger one counts as damaged before
// a byte of it is read, so that a huge or sparse file in the package's place cannot hold the launcher
// up hashing it.
constexpr long long kMaxPackageBytes = CORVANE_MAX_PACKAGE_MIB * 1024LL * 1024LL;

// Fills `hex` with the SHA-256 of the file open at `fd`, from its first byte to its end, 64 lower-case
// hex digits. Reads with pread: the descriptor's offset is left as it was. 0, or -1 with errno set:
// the error of the failing read, EFBIG when the file holds more than kMaxPackageBytes (no more than one
// byte beyond is read), ENOSYS when the hash could not be loaded (logged once). Logs nothing else.
int FileSha256(int fd, std::string* hex);

enum class PackageCheck {
  kNoDigest,  // no digest file (a bundle made without one): the package, when there, a regular file
              // that opens and is within kMaxPackageBytes, is taken as it is
  kWhole,     // the package's SHA-256 is the recorded one
  kDamaged,   // another SHA-256; or the package or its digest file cannot be read or is not a regular
              // file (without a digest file: when it is there at all); or the package is larger than
              // kMaxPackageBytes; or the digest file is larger than 4096 bytes or does not start with
              // 64 hex digits
};

// The package shipped in the running bundle, opened once: the check hashes this descriptor, and the
// extraction reads the very same one (Extractor::archive_fd), so what is unpacked is what was checked,
// whatever takes the package's name in between. Owns the descriptor: opened without waiting (a named
// pipe never stalls the caller), a regular file only, closed on exec (the interface started later
// never inherits it). Not copyable; one thread at a time.
class ShippedPackage {
 public:
  ShippedPackage() = default;
  ~ShippedPackage();
  ShippedPackage(const ShippedPackage&) = delete;
  ShippedPackage& operator=(const ShippedPackage&) = delete;

  // Opens `package` and checks it against its digest file (PackageDigestPath), once: later calls
  // answer the same without opening or reading anything. The package's size is checked on the open
  // descriptor before any of it is hashed. Logs under "service_debug": the outcome at DEBUG, and why
  // a package counts as damaged at ERROR with the paths and, for a failing call, strerror(errno) and
  // errno.
  PackageCheck Check(const ustring& package);
  // Whether Check() has answered.
  bool checked() const { return checked_; }
  // The package's descriptor: kWhole, or kNoDigest with a package there. -1 otherwise (not checked,
  // damaged, no package). Its offset is the reader's to set: the check does not move it.
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
  bool checked_ = false;
  PackageCheck answer_ = PackageCheck::kNoDigest;
};

#endif  // CORVANE_UI_CLIENT_LAUNCHER_PACKAGE_DIGEST_H_
