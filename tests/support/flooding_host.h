// A native-messaging host that never stops answering: valid replies of the
// largest size a browser accepts, as fast as the pipe takes them.
#pragma once

#include "extension/native_reply.h"
#include "platform/linux/native_messaging/frame_codec.h"
#include "tests/support/temporary_directory.h"

namespace ostrela::testing {

// An executable script in `folder`, writing again and again the four frames beside it.
inline std::string writeFloodingHost(const TemporaryDirectory& folder) {
  const std::string frame = linux_platform::encodeFrame(
      R"({"ok":true,"pad":")" + std::string(kMaxReplyLength - 20, 'x') + "\"}");
  const auto frames = folder.write("frames", frame + frame + frame + frame);
  return folder.writeScript("flood", "while cat " + frames.string() + "; do :; done").string();
}

}  // namespace ostrela::testing
