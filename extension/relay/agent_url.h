// The local agent's address. In the product it is fixed, http://127.0.0.1:47653,
// and every relayed message goes to one path on it; tests name another port.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ostrela {

inline constexpr std::string_view kAgentHost = "127.0.0.1";
inline constexpr std::uint16_t kAgentPort = 47653;
inline constexpr std::string_view kAgentMessagePath = "/browser-extension/native-message";

class AgentUrl {
 public:
  explicit constexpr AgentUrl(std::uint16_t port = kAgentPort) : port_(port) {}

  std::string host() const { return std::string(kAgentHost); }
  std::uint16_t port() const { return port_; }
  // "127.0.0.1:47653", for the Host header.
  std::string authority() const { return host() + ":" + std::to_string(port_); }
  // "http://127.0.0.1:47653", without the path: what the not-reachable reply quotes.
  std::string absoluteString() const { return "http://" + authority(); }
  // The request line's target.
  std::string requestTarget() const { return std::string(kAgentMessagePath); }

 private:
  std::uint16_t port_;
};

}  // namespace ostrela
