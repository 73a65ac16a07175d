// Removing a folder tree, or one entry whatever it is, relative to an open folder and never through
// a link (tree-walk.h): FSRemove's folders (file-op.cpp) and what a move to another volume clears
// away (move-across.cpp). Internal to the file layer, not part of its public interface (file-op.h).
// No shared state: any thread may call, each removal holding descriptors of its own.
#ifndef CORVANE_LIB_FILE_TREE_REMOVE_H_
#define CORVANE_LIB_FILE_TREE_REMOVE_H_

#include <string>

namespace file_internal {

// FSRemove's failures are details for DEBUG: its callers report them. errno is kept.
int RemoveFailed(const std::string& path);

// Removes the folder `name` of `base` with everything in it (`base_path` names `base` in log lines;
// with AT_FDCWD `name` may be a whole path). A folder that cannot be opened is removed only if it
// is empty. With `ours` (a tree this layer made) a folder the owner may not change is made
// changeable first; a user's folders keep their bits. 0 (also when it is gone), or -3 at the first
// entry that cannot be removed, errno kept.
int RemoveFolderAt(int base, const std::string& name, const std::string& base_path, bool ours);

// Removes the entry `name` of the folder `parent` whatever it is (a folder with everything in it,
// as RemoveFolderAt with `ours`; a link itself). 0 (also when nothing is there), or -3 with errno set.
int RemoveEntryAt(int parent, const std::string& name, const std::string& parent_path, bool ours);

}  // namespace file_internal

#endif  // CORVANE_LIB_FILE_TREE_REMOVE_H_
