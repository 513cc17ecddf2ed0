// The two executables' bundle identifiers. Each names the executable's own
// preference domain and the subsystem of its log; the host also names the
// extension by its identifier when it asks the browser about it.
#pragma once

namespace ostrela {

inline constexpr const char* extensionBundleIdentifier = "com.ostrela.safari-extension.extension";
inline constexpr const char* hostBundleIdentifier = "com.ostrela.safari-extension";

}  // namespace ostrela
