// The WebView2 runtime version check shared by IsSupportedWebViewEngine and
// the factory.
#pragma once

namespace vantor {

// The oldest runtime major version that this library works with.
constexpr unsigned long kMinimumRuntimeMajor = 109;

// Reads the major version of a runtime version text ("120.0.2210.91" gives
// 120): the decimal digits that begin the text, which must be followed by the
// first "." of the text. False when the text is null, has no ".", starts with
// ".", does not start with a digit, or the number exceeds 32 bits.
bool ParseMajorVersion(const wchar_t* version, unsigned long* major);

// Asks the WebView2 loader for the installed runtime's version (no cached
// answer) and returns true when its major version is kMinimumRuntimeMajor or
// more. False when the loader is missing, finds no runtime, or the version
// text cannot be read. The loader's text is freed in every case.
bool IsRuntimeSupported();

}  // namespace vantor
