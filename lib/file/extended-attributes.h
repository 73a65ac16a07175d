// Extended attributes of a file, a folder or a link itself, one set of calls for both platforms:
// macOS's take a position and options where Linux has l-variants that never follow a link. An open
// descriptor (`fd` >= 0) is used when given; with -1, `path`, never followed. Results and errno as
// the system's calls. Stateless; any thread.
#ifndef CORVANE_LIB_FILE_EXTENDED_ATTRIBUTES_H_
#define CORVANE_LIB_FILE_EXTENDED_ATTRIBUTES_H_

#include <errno.h>
#include <sys/types.h>

#if !defined(__APPLE__) || __has_include(<sys/xattr.h>)
#include <sys/xattr.h>
#else
// The Apple SDK's declarations, for a compiler that carries macOS's C headers without this one.
extern "C" {
ssize_t listxattr(const char* path, char* names, size_t size, int options);
ssize_t flistxattr(int fd, char* names, size_t size, int options);
ssize_t getxattr(const char* path, const char* name, void* value, size_t size, u_int32_t position,
                 int options);
ssize_t fgetxattr(int fd, const char* name, void* value, size_t size, u_int32_t position, int options);
int setxattr(const char* path, const char* name, const void* value, size_t size, u_int32_t position,
             int options);
int fsetxattr(int fd, const char* name, const void* value, size_t size, u_int32_t position, int options);
}
#define XATTR_NOFOLLOW 0x0001
#endif

// The errno of a read of an attribute the file does not have.
#ifdef __APPLE__
constexpr int kNoAttribute = ENOATTR;
#else
constexpr int kNoAttribute = ENODATA;
#endif

inline ssize_t ListAttributes(int fd, const char* path, char* names, size_t size) {
#ifdef __APPLE__
  return fd >= 0 ? flistxattr(fd, names, size, 0) : listxattr(path, names, size, XATTR_NOFOLLOW);
#else
  return fd >= 0 ? flistxattr(fd, names, size) : llistxattr(path, names, size);
#endif
}

inline ssize_t GetAttribute(int fd, const char* path, const char* name, void* value, size_t size) {
#ifdef __APPLE__
  return fd >= 0 ? fgetxattr(fd, name, value, size, 0, 0)
                 : getxattr(path, name, value, size, 0, XATTR_NOFOLLOW);
#else
  return fd >= 0 ? fgetxattr(fd, name, value, size) : lgetxattr(path, name, value, size);
#endif
}

inline int SetAttribute(int fd, const char* path, const char* name, const void* value, size_t size) {
#ifdef __APPLE__
  return fd >= 0 ? fsetxattr(fd, name, value, size, 0, 0)
                 : setxattr(path, name, value, size, 0, XATTR_NOFOLLOW);
#else
  return fd >= 0 ? fsetxattr(fd, name, value, size, 0) : lsetxattr(path, name, value, size, 0);
#endif
}

#endif  // CORVANE_LIB_FILE_EXTENDED_ATTRIBUTES_H_
