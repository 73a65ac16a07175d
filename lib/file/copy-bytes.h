// Copying the bytes of an open file into a new one and forcing them to the drive: what FSCopy
// (file-op.cpp) and a move to another volume (move-across.cpp) share. Internal to the file layer,
// not part of its public interface (file-op.h). Any thread may call (the full-sync call is swapped
// only by FSSetFullSync, for tests, before any copy).
#ifndef CORVANE_LIB_FILE_COPY_BYTES_H_
#define CORVANE_LIB_FILE_COPY_BYTES_H_

#include "ustring.h"

namespace file_internal {

// Forces what was written to `fd` onto the drive: the full-sync call, and fsync where the volume
// refuses that. 0, or -1 with errno.
int SyncToDrive(int fd);

// Closes the destination of a copy after forcing it to disk: 0, or -1/-2 (logged) when the data
// may not be there. A descriptor that cannot be synchronised (a device) is not a failure.
int FinishCopy(int out, const ustring& dst);

// Copies the bytes of `in` (at its start) to the new, empty `out`; a file with holes keeps them.
// 0, or -1/-2 (logged).
int CopyBytes(int in, int out);

}  // namespace file_internal

#endif  // CORVANE_LIB_FILE_COPY_BYTES_H_
