// The import's walk over a script: its section headers and, inside each
// section, its value lines. ImportScript walks with these, and so does
// drvdb's check, so that the two cannot read a script differently.
//
// A header is a line that begins (after blanks) with '['; its key path runs
// to the first ']' after it, on the same line or a later one. A section's
// lines run from the line after its header's ']' to the next header or the
// end of the text; the value lines among them begin with '"'.
#pragma once

/// The first section header: the '[' of the first line that begins with
/// one, or the terminating NUL when no header follows.
const char* FirstHeader(const char* text);

/// The closing bracket of the header whose '[' is at header: the first ']'
/// after it, wherever it stands; null when the text holds none.
const char* HeaderClose(const char* header);

/// Where the lines of a section begin: the line after its header's ']',
/// blanks skipped. The rest of the header's line is never read.
const char* SectionStart(const char* close);

/// The next value line of a section, from *p (a line start, blanks
/// skipped), passing over the lines that do not begin with '"'. Null when
/// the section ends first: *p then stands at the next header's '[' or at
/// the end of the text. Otherwise *p moves to the following line (blanks
/// skipped) and *end to where the value line ends: its LF, or the CR before
/// that LF, or the end of the text for a last line without one.
const char* NextValueLine(const char** p, const char** end);

/// The closing quote of the value name of the line at line (which begins
/// with '"'); names know no escapes. Null when the line has none.
const char* ValueNameEnd(const char* line);

// The importer edits the text it walks; these keep its positions writable.
inline char* FirstHeader(char* text) {
  return const_cast<char*>(FirstHeader(static_cast<const char*>(text)));
}
inline char* HeaderClose(char* header) {
  return const_cast<char*>(HeaderClose(static_cast<const char*>(header)));
}
inline char* SectionStart(char* close) {
  return const_cast<char*>(SectionStart(static_cast<const char*>(close)));
}
inline char* NextValueLine(char** p, char** end) {
  return const_cast<char*>(NextValueLine(const_cast<const char**>(p),
                                         const_cast<const char**>(end)));
}
inline char* ValueNameEnd(char* line) {
  return const_cast<char*>(ValueNameEnd(static_cast<const char*>(line)));
}
