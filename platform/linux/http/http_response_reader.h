// Reads one HTTP/1.x answer from bytes that arrive in pieces of any size, with
// a limit on every part of it. No socket: the session hands over what it
// received, so the same answer is judged the same at any byte boundary.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>

#include "extension/relay/agent_exchange.h"

namespace ostrela::linux_platform {

// Everything of an answer that is not body: the status line, the header
// fields, interim answers (100 Continue), chunk-size lines with their
// extensions, and trailers, together.
inline constexpr std::size_t kMaxAnswerFramingSize = 64 * 1024;
// The largest body read. The reply made from it must fit the browser's 1 MiB;
// a JSON body four times that size could only do so by being mostly blanks
// and escapes, which no agent sends, so a larger one is refused unread.
inline constexpr std::size_t kMaxAnswerBodySize = 4 * kMaxReplyLength;

class HttpResponseReader {
 public:
  enum class Phase { awaitingAnswer, readingHead, readingBody };

  HttpResponseReader();
  ~HttpResponseReader();
  HttpResponseReader(const HttpResponseReader&) = delete;
  HttpResponseReader& operator=(const HttpResponseReader&) = delete;

  // Where the next bytes go: received bytes are written here, then passed to
  // received(). Its size never lets the unread bytes pass the framing limit
  // by more than one read.
  std::span<char> space();
  // Takes `count` bytes written into space(). Returns the outcome once the
  // answer is complete or refused: an answer outside 200-299 ends with its
  // head (its body is never looked at); anything that is not HTTP from its
  // first bytes on is a NonHttpResponse.
  std::optional<HttpOutcome> received(std::size_t count);
  // The agent closed the connection: an answer whose body ends with it is
  // complete; anything else is cut short.
  HttpOutcome endOfInput();

  // awaitingAnswer until the first byte of an answer has been received.
  Phase phase() const;
  // Once complete: whether the connection may carry another exchange (the
  // agent keeps it alive and sent nothing past this answer).
  bool reusable() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace ostrela::linux_platform
