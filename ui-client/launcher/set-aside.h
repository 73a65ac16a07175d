// Taking a copy of the bundle, or the predecessor's folder, out of its name before it is removed:
// what is set aside is renamed in one step to <name>_trash.<8 random characters> beside the name it
// is kept for, so that a removal cut short never leaves a half-removed folder under a name anything
// reads, and only what was set aside is ever retried. Logs under "service_debug". No state; any
// thread, one at a time per folder.
#ifndef CORVANE_UI_CLIENT_LAUNCHER_SET_ASIDE_H_
#define CORVANE_UI_CLIENT_LAUNCHER_SET_ASIDE_H_

#include "ustring.h"

// Takes `path` out of its name by renaming it to <app>_trash.<random> beside `app`. The parent stays
// the same: moving a folder into another parent needs write permission on the folder itself, which a
// read-only or foreign copy lacks. True when it is aside or there was nothing; false (WARNING) when
// it keeps its name, also when `app` is empty.
bool SetAside(const ustring& app, const ustring& path);

// Removes every entry set aside beside `app` (<app>_trash.*), from this run or an earlier one; a
// link there goes as a link. What cannot be removed (read-only folders, another user's files) stays
// aside with a WARNING naming it; permissions are never changed to force it. True when none is left.
bool RemoveSetAside(const ustring& app);

#endif  // CORVANE_UI_CLIENT_LAUNCHER_SET_ASIDE_H_
