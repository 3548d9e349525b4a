// The stand-in's named mutexes, which live within this process: native runs
// are serialised across processes by the hive file's lock, so these only
// let the tests see which lock a run takes, and make it refused, held by
// another copy, or left by one that was killed. Like the non-NT family, the
// stand-in refuses a backslash in a name when it reports that family.
#pragma once

#include <stddef.h>

#include <string>
#include <vector>

/// Forgets every mutex, holder and control.
void HostMutexReset();

/// Makes another copy hold the mutex of that name, as if it ran: a wait for
/// it ends at once, timed out; with abandoned, that copy was killed, and a
/// wait takes the mutex over.
void HostMutexHeldElsewhere(const std::string& name, bool abandoned);

/// While set, every CreateMutexA fails (access denied).
void HostMutexRefuse(bool refuse);

/// The names this process waited for and took, in order.
const std::vector<std::string>& HostMutexesTaken();

/// Mutexes this process holds now.
size_t HostMutexesHeld();

/// Handles to mutexes that this process opened and has not closed.
size_t HostMutexHandlesOpen();
