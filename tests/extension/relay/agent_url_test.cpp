#include "extension/relay/agent_url.h"

#include <gtest/gtest.h>

namespace ostrela {
namespace {

// The base itself and the request target are checked on the wire: shared_relay_test
// and agent_relay_test.
TEST(AgentUrl, ComponentsThatMakeNoUsableUrl) {
  EXPECT_FALSE(HttpUrl::fromComponents("https", "127.0.0.1", 1));
  EXPECT_FALSE(HttpUrl::fromComponents("http", "", 1));
  EXPECT_FALSE(HttpUrl::fromComponents("http", "user@127.0.0.1", 1));
}

TEST(AgentUrl, ReferencesThatLeaveTheOriginOrAreInvalidDoNotResolve) {
  const HttpUrl base = *agentBaseURL();
  for (const char* reference : {"http://evil.example/x", "//evil.example/x", "mailto:x", "/a b",
                                "/a\r\nHost: x", "/%zz", "/%4", "/frag#ment", "/caf\xC3\xA9"}) {
    EXPECT_FALSE(base.resolving(reference)) << reference;
  }
}

}  // namespace
}  // namespace ostrela
