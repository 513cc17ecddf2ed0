#include "doctor/extension_state_check.h"

namespace ostrela::doctor {

void checkExtensionPresence(const ExtensionPresence& presence, DoctorReport& report) {
  using Kind = ExtensionPresence::Kind;
  switch (presence.kind) {
    case Kind::on:
      return report.add("extension", CheckState::passed, presence.text);
    case Kind::off:
      return report.add("extension", CheckState::failed, presence.text,
                        "turn it on in the browser's extensions page");
    case Kind::notInstalled:
      return report.add("extension", CheckState::failed, presence.text,
                        "install the extension, or force-install it through the browser's policy");
    case Kind::cannotTell:
      return report.add("extension", CheckState::warning, presence.text,
                        "run ostrela-doctor as the user, and check the browser's extensions page");
  }
}

}  // namespace ostrela::doctor
