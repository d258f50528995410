// Whether two paths name the same file, or a path lies inside a folder, as
// Windows resolves them: relative levels, "/" for "\\", trailing dots and
// blanks, short (8.3) names and letter case make no difference.
#pragma once

#include <string>

// `dir` with a trailing "\\" unless it already ends in "\\" or "/".
std::wstring WithTrailingSeparator(const std::wstring& dir);

// `path` made absolute (GetFullPathNameW), with its short names expanded
// (GetLongPathNameW, as far as the path exists) and without a trailing
// separator; empty when it cannot be resolved.
std::wstring CanonicalPath(const std::wstring& path);

// True when `a` and `b` resolve to the same path (ordinal, ignoring case).
bool SamePath(const std::wstring& a, const std::wstring& b);

// True when `path` resolves to a place strictly below the folder `folder`.
bool IsPathInside(const std::wstring& path, const std::wstring& folder);
