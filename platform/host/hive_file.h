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

/// Releases the lock. In between, CommitRegistry writes the registry back.
void HostHiveClose();
