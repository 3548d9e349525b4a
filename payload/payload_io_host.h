// Test controls of the host payload file calls.
#pragma once

#include <string>

#include "payload/payload_io.h"

/// Makes the running executable appear to be an in-memory file named path
/// holding image, until HostClearModuleImage. Path is stored byte for byte in
/// the wide and the ANSI module path alike.
void HostSetModuleImage(const std::string& path, const std::string& image);
void HostClearModuleImage();

/// A file of the payload reader's that reads the first size bytes of bytes
/// (all of them by default), which must outlive it; ClosePayloadFile closes
/// it. For the tools, which read programs they hold in memory with the
/// program's own reader.
PayloadFile OpenPayloadBytes(const std::string& bytes,
                             size_t size = std::string::npos);

/// Files of the payload reader's open now.
size_t HostOpenPayloadFiles();

