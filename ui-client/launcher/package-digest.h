// Knowing that the package shipped in the running bundle is the one the bundle was made with, before an
// upgrade touches anything. A package cut short at an entry boundary still reads as a whole archive:
// only its digest tells. The bundle's maker (scripts/make-bundle) records the package's SHA-256 beside
// it, in Contents/Resources/package/skyhold.hpk.sha256, as "<64 hex digits>  skyhold.hpk" (the form
// sha256sum and `shasum -a 256` write, so `shasum -a 256 -c skyhold.hpk.sha256` checks it by hand). On a
// Mac the bundle's code signature seals both files, so neither changes without the other being noticed.
// The hash is the platform's: CommonCrypto on macOS; elsewhere Nettle, loaded on the first check (on
// Debian it comes with libarchive). Both are several times faster than a portable one. No state but
// the loaded library; any thread.
#ifndef CORVANE_UI_CLIENT_LAUNCHER_PACKAGE_DIGEST_H_
#define CORVANE_UI_CLIENT_LAUNCHER_PACKAGE_DIGEST_H_

#include <string>

#include "ustring.h"

// The digest file of `package`: `package` + ".sha256".
ustring PackageDigestPath(const ustring& package);

// Fills `hex` with the SHA-256 of the file at `path`, 64 lower-case hex digits. The file is opened
// without blocking (a named pipe never stalls the caller) and must be a regular file. 0, or -1 with
// errno set: the error of the failing call, EINVAL when `path` is not a regular file, ENOSYS when
// the hash could not be loaded (logged once). Logs nothing else.
int FileSha256(const ustring& path, std::string* hex);

enum class PackageCheck {
  kNoDigest,  // no digest file (a bundle made without one): the package, when there, a regular file
              // that opens, is taken as it is
  kWhole,     // the package's SHA-256 is the recorded one
  kDamaged,   // another SHA-256; or the package or its digest file cannot be read or is not a regular
              // file (without a digest file: when it is there at all); or the digest file is larger
              // than 4096 bytes or does not start with 64 hex digits
};

// Checks `package` against its digest file (PackageDigestPath). Logs under "service_debug": the
// outcome at DEBUG, and why a package counts as damaged at ERROR with the paths and, for a failing
// call, strerror(errno) and errno.
PackageCheck CheckPackage(const ustring& package);

#endif  // CORVANE_UI_CLIENT_LAUNCHER_PACKAGE_DIGEST_H_
