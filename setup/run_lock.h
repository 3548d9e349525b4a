// The lock that copies of the program started at once take in turn: a
// named mutex that every logon session shares, held around the registry
// work and released before any box is shown.
#pragma once

#include "platform/windows_api.h"

/// "Global\" and the name: one object for every logon session, so that a
/// run as SYSTEM and a user's run take turns. kRunLockName + 7 is the
/// plain name, for systems that refuse a backslash in an object's name.
extern const char kRunLockName[];

/// How long a copy waits for another to finish: a real install takes well
/// under a second, and no copy holds the lock while it shows a box.
const DWORD kRunLockWaitMs = 60000;

/// Takes the lock, waiting at most kRunLockWaitMs; a lock whose holder
/// ended without releasing it is taken over. Null when it cannot be had
/// (refused, or the wait ended): the run then goes on unlocked, as a lock
/// that any user could hold must never stop an install.
HANDLE TakeRunLock();

/// Releases a lock that TakeRunLock gave; nothing for null.
void ReleaseRunLock(HANDLE lock);
