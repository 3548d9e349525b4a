// The stand-in registry's text form: the native program's hive file, the
// installed tree as drvdb compares it, and the trees the tests compare. Its
// one reader and its one writer.
//
// One line per key, "[FULL\PATH]", parents before children, each followed
// by its values in name order:
//   "name"="text"          REG_SZ ending in its only NUL
//   "name"=dword:0000002a  REG_DWORD of four bytes
//   "name"=hex(N):0a,ff    anything else (type N in decimal)
// Bytes that would be ambiguous or unreadable (controls, bytes above 0x7e,
// '%', and the delimiters '"', '\', '[' and ']') are written as %XX, so every
// byte of every name and every value round-trips. Lines that are empty or
// begin with ';' are comments.
#pragma once

#include <stddef.h>
#include <stdio.h>

#include <map>
#include <string>

#include "platform/host/win32.h"

struct HiveValue {
  std::string name;
  DWORD type = REG_NONE;
  std::string data;
};

/// The full path of root\subKey as the registry names it (empty names
/// skipped, as Wine does), in the spelling given; nothing is looked up or
/// made.
std::string HostKeyPath(HKEY root, const char* subKey);

/// Whether a full key path names top or a key below it, its names compared
/// as the registry compares them.
bool HostKeyIsUnder(const std::string& path, const std::string& top);

/// A registry read back from its text form: each key by its full path
/// folded as the registry compares it (HostFoldName), with its path as
/// stored and its values by folded name.
struct HiveKey {
  std::string path;
  std::map<std::string, HiveValue> values;
};
using HiveTree = std::map<std::string, HiveKey>;

/// Reads a whole text; false with error naming the line at a malformed
/// one (what was read before it stays in tree).
bool ReadHiveTree(const std::string& text, HiveTree* tree, std::string* error);

/// The stand-in registry as it stands, read back.
HiveTree HostRegistryTree();

/// A value's line, as the hive writes it.
void AppendHiveValue(std::string* out, const std::string& name, DWORD type,
                     const std::string& data);

/// The whole registry in the hive's text form.
std::string HostRegistryExport();

/// Writes header and then the same text to a file, a megabyte at a time,
/// and flushes it. False when a write fails.
bool HostRegistryWrite(FILE* file, const std::string& header);

/// Replaces the whole registry with the one that text describes. Refuses
/// what the registry itself would refuse (a key more than 512 levels deep, a
/// key name over 256 characters, a value name over 16,383, a value named
/// twice), anything malformed and a registry without
/// HKEY_LOCAL_MACHINE\SOFTWARE\Classes; then the registry is unchanged and
/// error names the line and what is wrong with it.
bool HostRegistryImport(const std::string& text, std::string* error);
