// The agent's address, and request targets resolved against it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ostrela {

inline constexpr std::string_view kAgentScheme = "http";
inline constexpr std::string_view kAgentHost = "127.0.0.1";
inline constexpr std::uint16_t kAgentPort = 47653;

// An absolute plain-HTTP URL: host, port, path and query. Immutable.
class HttpUrl {
 public:
  // Nothing when the components make no URL the relay can use: a scheme other
  // than "http", or a host that is empty or has characters a host cannot have.
  static std::optional<HttpUrl> fromComponents(std::string_view scheme, std::string_view host,
                                               std::uint16_t port);

  // `reference` resolved against this URL as a relative reference. Nothing when
  // it is not a valid reference, or when it names a scheme or an authority of
  // its own: the relay only ever talks to the origin of its base URL.
  std::optional<HttpUrl> resolving(std::string_view reference) const;

  // "http://host:port" followed by the path and query (none for a base URL).
  std::string absoluteString() const;
  // The start line's target: the path ("/" when empty) and the query.
  std::string requestTarget() const;
  // "host:port", for the Host header.
  std::string authority() const;

  const std::string& host() const { return host_; }
  std::uint16_t port() const { return port_; }

 private:
  HttpUrl(std::string host, std::uint16_t port) : host_(std::move(host)), port_(port) {}

  std::string host_;
  std::uint16_t port_;
  std::string path_;
  std::optional<std::string> query_;
};

// http://127.0.0.1:47653, built from its components.
std::optional<HttpUrl> agentBaseURL();

}  // namespace ostrela
