// Whether a browser has the web extension itself on, as the host window says it.
#pragma once

#include "doctor/doctor_report.h"
#include "host/extension_presence.h"

namespace ostrela::doctor {

// Passed when on; failed when off or not installed, with what to do; a warning when
// the browsers' records cannot tell.
void checkExtensionPresence(const ExtensionPresence& presence, DoctorReport& report);

}  // namespace ostrela::doctor
