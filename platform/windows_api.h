// The Win32 API as the program's code sees it: types, constants and
// functions with their Windows names and meanings.
//
// On Windows these are the real ones, from <windows.h>. On other hosts, and
// in drvdb's engine everywhere (built with DRVSETUP_STAND_IN, so that the
// tool never touches a machine's registry), platform/host/win32.h declares
// a stand-in with the same names: an in-memory registry, a chosen platform
// family, the shell library's tree deletion, the system's libraries and
// named mutexes. This is the program's one conditional.
#pragma once

#if defined(_WIN32) && !defined(DRVSETUP_STAND_IN)
#include <windows.h>
#else
#include "platform/host/win32.h"
#endif
