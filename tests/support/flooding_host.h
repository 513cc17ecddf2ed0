// A native-messaging host that never stops answering: valid replies of the
// largest size a browser accepts, written as fast as the pipe takes them, for
// the tests of the tools that read hosts.
#pragma once

#include <filesystem>
#include <string>

#include "extension/native_reply.h"
#include "platform/linux/native_messaging/frame_codec.h"
#include "tests/support/temporary_directory.h"

namespace ostrela::testing {

// An executable script in `folder`, with the frames it writes beside it.
inline std::string writeFloodingHost(const TemporaryDirectory& folder) {
  const std::string frame = linux_platform::encodeFrame(
      R"({"ok":true,"pad":")" + std::string(kMaxReplyLength - 20, 'x') + "\"}");
  std::string frames;
  for (int i = 0; i < 8; ++i) frames += frame;
  const auto framesFile = folder.write("flood-frames", frames);
  const auto host =
      folder.write("flood", "#!/bin/sh\nwhile cat " + framesFile.string() + "; do :; done\n");
  std::filesystem::permissions(host, std::filesystem::perms(0755));
  return host.string();
}

}  // namespace ostrela::testing
