// Any byte stream through the native-messaging host and the request entry:
// every complete frame gets exactly one reply frame, and the output is a
// valid sequence of frames, each a JSON object small enough for a browser,
// with a boolean "ok" and, when "ok" is false, a string "error".
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/json.h"
#include "extension/safari_web_extension_handler.h"
#include "platform/linux/native_messaging/frame_reader.h"
#include "platform/linux/native_messaging/native_messaging_host.h"
#include "platform/linux/native_messaging/reply_writer.h"
#include "shared/in_memory_preference_stores.h"

using namespace ostrela;
using namespace ostrela::linux_platform;

namespace {

InMemoryPreferenceStores makeStores() {
  InMemoryPreferenceStores stores;
  stores.standard->force("organizationName", AnyValue("Acme"));
  stores.standard->force("PayloadContent", AnyValue(1));
  return stores;
}

// Answers relayed messages at once, as an agent that echoes the body would.
class EchoRelay : public AgentRelayTasks {
 public:
  void startDetached(AgentRelayRequest request, std::function<void(NativeReply)> finish) override {
    AnyMap reply{{"ok", true}, {"echo", request.body}};
    if (request.id) reply.set("id", *request.id);
    finish(NativeReply{std::move(reply), true});
  }
};

class NullSink : public LogSink {
 public:
  void write(LogLevel, std::string_view, std::string_view, std::string_view) override {}
};

// Complete frames a browser would have sent, up to and including an oversized one.
std::size_t expectedReplies(const std::uint8_t* data, std::size_t size) {
  std::size_t count = 0;
  std::size_t at = 0;
  while (size - at >= 4) {
    std::uint32_t length = 0;
    std::memcpy(&length, data + at, 4);
    if (length > kMaxInboundFrameLength) return count + 1;
    if (size - at - 4 < length) break;
    at += 4 + length;
    ++count;
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const InMemoryPreferenceStores stores = makeStores();
  static EchoRelay relay;
  static NullSink sink;
  static const Logger logger("fuzz", "stream", sink, LogSettings{true, true});
  static const SafariWebExtensionHandler handler(stores, logger, relay);

  const int in = ::memfd_create("in", MFD_CLOEXEC);
  const int out = ::memfd_create("out", MFD_CLOEXEC);
  if (in < 0 || out < 0 || ::write(in, data, size) != static_cast<ssize_t>(size)) std::abort();
  ::lseek(in, 0, SEEK_SET);
  if (runNativeMessagingHost(in, out, handler, logger) != 0) std::abort();

  ::lseek(out, 0, SEEK_SET);
  FrameReader reader(out);
  std::size_t replies = 0;
  for (;;) {
    auto next = reader.next();
    auto* frame = std::get_if<Frame>(&next);
    if (frame == nullptr) {
      if (!std::holds_alternative<EndOfInput>(next)) std::abort();
      break;
    }
    const auto reply = decodeJson(frame->body);
    if (!reply || !reply->isMap() || frame->body.size() > kMaxReplyLength) std::abort();
    // Every reply says whether it succeeded, and a failure says why.
    const AnyValue* ok = reply->asMap()->find("ok");
    if (ok == nullptr || !ok->isBool()) std::abort();
    const AnyValue* error = reply->asMap()->find("error");
    if (!*ok->asBool() && (error == nullptr || !error->isString())) std::abort();
    ++replies;
  }
  // Nothing but whole frames: the reader consumed every byte.
  if (::lseek(out, 0, SEEK_CUR) != ::lseek(out, 0, SEEK_END)) std::abort();
  if (replies != expectedReplies(data, size)) std::abort();
  ::close(in);
  ::close(out);
  return 0;
}
