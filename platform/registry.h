// Registry operations and the platform family test.
//
// On Windows these are the real Win32 functions from <windows.h>. On other
// hosts, and in drvdb's engine everywhere (built with DRVSETUP_STAND_IN, so
// that the tool never touches a machine's registry), platform/host/win32.h
// declares a stand-in with the same names, types and meanings: an in-memory
// registry, a chosen platform family and the shell library's tree deletion.
#pragma once

#if defined(_WIN32) && !defined(DRVSETUP_STAND_IN)
#include <windows.h>
#else
#include "platform/host/win32.h"
#endif

/// True when the platform reports the NT family. A failed version query
/// answers false. Asked afresh on every call.
bool IsNtPlatform();

/// Makes what the run wrote to the registry last, before the run reports its
/// outcome. Windows keeps its registry itself and answers true; the host
/// stand-in saves its hive file here. False when the changes are lost.
bool CommitRegistry();
