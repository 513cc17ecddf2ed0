// The two executables' bundle identifiers. Each names the executable's own
// preference domain and the subsystem of its log; the host also names the
// extension by its identifier when it asks the browser about it.
#pragma once

#include <string_view>

namespace ostrela {

inline constexpr const char* extensionBundleIdentifier = "com.ostrela.safari-extension.extension";
inline constexpr const char* hostBundleIdentifier = "com.ostrela.safari-extension";

// The native-messaging host names under which browsers start the extension: the
// identity host ("getLdap", "getToken") and the redaction host ("scrub").
inline constexpr std::string_view kIdentityHost = "com.ostrela.ldap_host";
inline constexpr std::string_view kRedactionHost = "com.ostrela.redaction_host";
inline constexpr std::string_view kNativeHostNames[] = {kIdentityHost, kRedactionHost};

}  // namespace ostrela
