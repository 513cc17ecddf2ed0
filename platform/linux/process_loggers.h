// The one logger of each executable, created on first use and never destroyed.
#pragma once

#include "core/logger.h"

namespace ostrela::linux_platform {

// Subsystem "com.ostrela.safari-extension.extension", category "native-bridge".
const Logger& extensionLogger();

// Subsystem "com.ostrela.safari-extension", category "managed-config".
const Logger& hostLogger();

}  // namespace ostrela::linux_platform
