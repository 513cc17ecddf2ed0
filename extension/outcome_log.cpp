#include "extension/outcome_log.h"

namespace ostrela {

void logOutcome(const Logger& logger, Handling handling, std::string_view typeLabel,
                const NativeReply& reply) {
  if (!logger.isEnabled(LogLevel::debug)) return;
  const bool relayed = handling == Handling::relayed;
  const char* verb = relayed ? "Relayed" : "Answered";
  const char* suffix = relayed ? "" : " locally";

  const AnyValue* ok = reply.payload.find("ok");
  if (ok != nullptr && ok->asBool() != nullptr && *ok->asBool()) {
    logger.log(LogLevel::debug, "%{public}s '%{public}s'%{public}s: ok", {verb, typeLabel, suffix});
    return;
  }
  const AnyValue* error = reply.payload.find("error");
  if (const std::string* text = error ? error->asString() : nullptr) {
    if (reply.fromAgent) {
      logger.log(LogLevel::debug, "%{public}s '%{public}s'%{public}s: %{private}s",
                 {verb, typeLabel, suffix, std::string_view(*text)});
    } else {
      logger.log(LogLevel::debug, "%{public}s '%{public}s'%{public}s: %{public}s",
                 {verb, typeLabel, suffix, std::string_view(*text)});
    }
    return;
  }
  logger.log(LogLevel::debug, "%{public}s '%{public}s'%{public}s: failed",
             {verb, typeLabel, suffix});
}

}  // namespace ostrela
