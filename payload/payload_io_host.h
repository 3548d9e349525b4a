// Test controls of the host payload file calls.
#pragma once

#include <string>

/// Makes the running executable appear to be an in-memory file named path
/// holding image, until HostClearModuleImage. Path is stored byte for byte in
/// the wide and the ANSI module path alike.
void HostSetModuleImage(const std::string& path, const std::string& image);
void HostClearModuleImage();
