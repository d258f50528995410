// Checks for values from outside (command line, version.ini) before they
// become part of a command line or of the path of a program to start.
#pragma once

#include <string>

// True when `text` holds a double quote or a control character (below
// U+0020, or U+007F): such a value is refused for any command line.
bool HasQuoteOrControl(const std::wstring& text);

// True for a plain file name: not empty, at most 255 characters, no folder
// separator, drive colon, wildcard, quote, angle bracket, bar or control
// character, not "." or "..", no trailing blank or dot (Windows would drop
// it), and not a reserved device name (CON, NUL, COM1, ... with any
// extension).
bool IsPlainFileName(const std::wstring& name);

// True for an absolute path of a drive ("C:\\..." or "C:/...") or a UNC path
// ("\\\\server\\share..."), the only forms accepted for folders and files on
// Update's command line: an empty or relative path would be resolved against
// whatever folder is current.
bool IsAbsolutePath(const std::wstring& path);

// True when `text` holds a control character (below U+0020, or U+007F).
bool HasControlCharacter(const std::wstring& text);

// True for a URL scheme name as the registry's classes key takes one: an
// ASCII letter, then ASCII letters, digits, "+", "-" or "." (at most 64
// characters). Anything else could name another key of the classes tree,
// such as a file type's "shell\\open\\command".
bool IsUrlSchemeName(const std::wstring& name);

// True for a plain firewall rule name: not empty, at most 255 characters, of
// letters (any script), digits, blanks, "-", "_" and ".", and not beginning
// or ending with a blank, and not "all" in any case (netsh's word for every
// rule).
bool IsPlainRuleName(const std::wstring& name);
