// The native program's registry, kept in a hive file between runs.
#pragma once

#include <string>

/// DRVSETUP_HIVE, or else $XDG_STATE_HOME/drvsetup/registry.hive
/// (~/.local/state when unset).
std::string HostHiveDefaultPath();

/// Takes the hive's lock (PATH.lock, held until HostHiveClose, so that runs
/// started together take turns) and loads the registry from the hive; a
/// missing hive gives a fresh registry. A hive that cannot be read or parsed
/// is left untouched: the registry becomes unavailable and error says why.
bool HostHiveOpen(const std::string& path, std::string* error);

/// Writes the registry back if it changed since HostHiveOpen: to a
/// temporary file beside the hive, flushed, then renamed over it. Never
/// writes a hive that HostHiveOpen could not read (false, with error). True
/// with nothing to do when no hive is open.
bool HostHiveSave(std::string* error);

/// Releases the lock.
void HostHiveClose();
