// The program's one way to report: a modal message box.
#pragma once

const unsigned int kBoxInformation = 0x40;  // MB_OK | MB_ICONINFORMATION
const unsigned int kBoxError = 0x10;        // MB_OK | MB_ICONERROR

/// Shows text under title with the given style and waits for the user.
void ShowMessageBox(const char* text, const char* title, unsigned int style);
