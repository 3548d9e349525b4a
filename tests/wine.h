// Wine for the tests that run Windows programs: one fresh prefix, with one
// server kept up, for the whole test process.
#pragma once

#include <string>
#include <vector>

#include "tests/process_support.h"

/// The 64-bit loader: with the 32-bit one installed, plain wine prefers it.
extern const char kWine[];

/// The settings under which Windows programs run here; the prefix is made,
/// and judged by whether it works, on first use.
std::vector<std::string> WineEnvironment();

/// Runs a Windows program (a path or one of Wine's own) with arguments.
Process RunUnderWine(std::vector<std::string> args);

/// A Linux path as Windows programs under Wine name it (Z:\...).
std::string WindowsPath(const std::string& path);

/// Ends the Wine server and removes the prefix; call once at exit.
void StopWine();
