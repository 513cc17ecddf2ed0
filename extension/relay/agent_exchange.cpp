#include "extension/relay/agent_exchange.h"

#include <algorithm>

#include "core/json.h"

namespace ostrela {
namespace {

constexpr std::string_view kNonHttp = "The Ostrela agent returned a non-HTTP response";
constexpr std::string_view kMalformed = "The Ostrela agent returned a malformed reply";
constexpr std::string_view kMissingOk = "The Ostrela agent reply is missing 'ok'";

// A header value must not end the line early or smuggle a second header:
// horizontal tab, space, visible ASCII and bytes above 0x7F only.
bool fitsInHeaderValue(std::string_view value) {
  return std::all_of(value.begin(), value.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte == '\t' || (byte >= 0x20 && byte != 0x7F);
  });
}

}  // namespace

AgentHttpRequest prepareAgentRequest(const AgentUrl& url,
                                     const std::optional<std::string>& secret) {
  AgentHttpRequest http{url, {}, {}};
  http.headers.reserve(3);
  http.headers.push_back({"Content-Type", "application/json"});
  http.headers.push_back({"Accept", "application/json"});
  if (secret && !secret->empty() && fitsInHeaderValue(*secret)) {
    http.headers.push_back({"Authorization", "Bearer " + *secret});
  }
  return http;
}

NativeReply judgeAgentOutcome(HttpOutcome outcome, const AgentUrl& url,
                              const AgentRelayRequest& request) {
  if (const auto* failure = std::get_if<TransportFailure>(&outcome)) {
    return errorReply("The Ostrela agent is not reachable at " + url.absoluteString() + ": " +
                          failure->description,
                      request.id);
  }
  if (std::holds_alternative<NonHttpResponse>(outcome)) return errorReply(kNonHttp, request.id);
  if (const auto* oversized = std::get_if<OversizedAnswer>(&outcome)) {
    return errorReply(replyTooLargeText(oversized->length), request.id);
  }
  const auto& response = std::get<HttpResponse>(outcome);
  if (response.status < 200 || response.status > 299) {
    return errorReply(
        "The Ostrela agent rejected the request (HTTP " + std::to_string(response.status) + ")",
        request.id);
  }
  return parseAgentReply(response.body, request);
}

NativeReply parseAgentReply(std::string_view body, const AgentRelayRequest& request) {
  std::optional<AnyValue> parsed = decodeJson(body);
  AnyMap* reply = parsed ? parsed->asMap() : nullptr;
  if (reply == nullptr) return errorReply(kMalformed, request.id);
  const AnyValue* ok = reply->find("ok");
  if (ok == nullptr || !ok->isBool()) return errorReply(kMissingOk, request.id);
  if (request.id) reply->set("id", *request.id);
  return NativeReply{std::move(*reply), true};
}

}  // namespace ostrela
