// One exchange with the local agent, apart from carrying the bytes: the HTTP
// request made from an AgentRelayRequest, what a transport reports back, and
// the judging of that into the reply. Each platform's relay runs
//   prepareAgentRequest -> its HTTP transport -> judgeAgentOutcome
// so tests can drive every step here with outcomes made by hand.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "extension/native_reply.h"
#include "extension/native_route.h"
#include "extension/relay/agent_url.h"

namespace ostrela {

struct HttpHeader {
  std::string name;
  std::string value;
  friend bool operator==(const HttpHeader&, const HttpHeader&) = default;
};

// A POST to the agent at `url`. The transport sends these headers in this order, adds only
// "Host" and "Content-Length", and sends `body` byte for byte.
struct AgentHttpRequest {
  AgentUrl url;
  std::vector<HttpHeader> headers;
  std::string body;
};

// The agent answered in HTTP. Outside 200-299 the transport need not read the
// body, and `body` may then be empty.
struct HttpResponse {
  int status = 0;
  std::string body;
};
// Something answered, but not in HTTP.
struct NonHttpResponse {};
// No complete answer: refused, timed out, connection lost, too large. The
// description is clear English without a full stop at the end.
struct TransportFailure {
  std::string description;
};
// The agent answered in HTTP with a body too large to become a reply the
// browser takes: `length` bytes announced, or read before stopping.
struct OversizedAnswer {
  std::size_t length = 0;
};
using HttpOutcome = std::variant<HttpResponse, NonHttpResponse, TransportFailure, OversizedAnswer>;

// The request and its headers: "Content-Type" and "Accept" with
// "application/json", then "Authorization: Bearer <secret>" when there is a
// secret that an HTTP header can carry unaltered (no control characters).
// The body is left to the caller, which moves it in.
AgentHttpRequest prepareAgentRequest(const AgentUrl& url, const std::optional<std::string>& secret);

// Transport failure, kind of response, status, then the reply itself, in that
// order; every error reply carries the request's id.
NativeReply judgeAgentOutcome(HttpOutcome outcome, const AgentUrl& url,
                              const AgentRelayRequest& request);

// The agent's body: a JSON object whose "ok" is a JSON boolean (numbers,
// 0 and 1 included, are not), returned with the request's id when it has one.
NativeReply parseAgentReply(std::string_view body, const AgentRelayRequest& request);

}  // namespace ostrela
