// The run's last registry stage: what it wrote made to last before the run
// reports its outcome. Windows: commit_win32.cpp; the native program's hive
// file: commit_hive.cpp; drvdb's registry in memory: commit_memory.cpp.
#pragma once

/// False when the changes are lost; the run then fails (-3) rather than
/// report an install that did not last.
bool CommitRegistry();
