#include "extension/relay/agent_url.h"

#include <gtest/gtest.h>

#include "extension/native_route.h"

namespace ostrela {
namespace {

TEST(AgentUrl, BaseIsSchemeHostAndPortWithoutTrailingSlash) {
  const std::optional<HttpUrl> base = agentBaseURL();
  ASSERT_TRUE(base);
  EXPECT_EQ(base->absoluteString(), "http://127.0.0.1:47653");
  EXPECT_EQ(base->authority(), "127.0.0.1:47653");
  EXPECT_EQ(base->requestTarget(), "/");

  const std::optional<HttpUrl> target = base->resolving(kAgentMessagePath);
  ASSERT_TRUE(target);
  EXPECT_EQ(target->absoluteString(), "http://127.0.0.1:47653/browser-extension/native-message");
  EXPECT_EQ(target->requestTarget(), "/browser-extension/native-message");
}

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
