// What file-op.cpp lends the file layer's other units (tree-walk.cpp, move-across.cpp): the type
// codes of file-op.h for a status or a listing entry, and the `mode` of FSMKDirP that means "from
// the umask". Not part of the public interface (file-op.h). Stateless; any thread may call.
#ifndef CORVANE_LIB_FILE_FILE_OP_INTERNAL_H_
#define CORVANE_LIB_FILE_FILE_OP_INTERNAL_H_

#include <sys/types.h>

namespace file_internal {

// FSMKDirP's `mode` for 0777 less the umask.
constexpr unsigned short kModeFromUmask = 0xFFFF;

// The type code of a mode word, or -1 for type bits no code stands for.
int TypeOfMode(mode_t mode);
// The type code of a listing entry's d_type: FILE_TYPE_NONE for DT_UNKNOWN or any other.
int TypeOfDirEntry(unsigned char d_type);

}  // namespace file_internal

#endif  // CORVANE_LIB_FILE_FILE_OP_INTERNAL_H_
