// Libraries from the system folder only. The program runs with
// administrator rights from wherever it was put (a downloads folder, a
// share, a USB stick); a library planted there under a common name must
// never run inside it.
#pragma once

#include "platform/windows_api.h"

/// True once SetDefaultDllDirectories has limited every later load, the
/// dependencies of a library included, to the system folder.
extern bool LibrarySearchRestricted;

/// Limits the process's library search to the system folder where the
/// system can (SetDefaultDllDirectories, on Windows 8 and later and on
/// Vista and 7 with KB2533623), and otherwise takes the current folder out
/// of it where SetDllDirectoryA exists (XP SP1 and later). Both are looked
/// up at run time: the program must start on systems without them. The
/// entry calls it before anything can load a library.
void RestrictLibrarySearch();

/// Loads a library of the system folder by its file name: with the search
/// limited to the system folder where RestrictLibrarySearch could limit it,
/// otherwise by its full path in the system folder. Never from the
/// program's folder or the current folder. Null when it cannot be loaded.
HMODULE LoadSystemLibrary(const char* name);
