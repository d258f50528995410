// The process-wide cache of the uninstaller's path.
#pragma once

#include <string>

namespace pellix {

// The uninstaller's full path. The first call in the process reads the
// registry once (a thread-safe, once-only initialisation); every call then
// checks that the cached path still names an existing file or folder and, when
// it does not, reads the registry again and keeps the new text (even when it
// is empty). Returns an empty text when no uninstaller is registered.
// Callable from several threads at once; throws only std::bad_alloc.
std::wstring CurrentUninstallerPath();

}  // namespace pellix
