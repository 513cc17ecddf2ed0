// With http_session.cpp, one of the two translation units that include Boost.Beast.
#include "platform/linux/http/http_response_reader.h"

#include <algorithm>
#include <boost/asio/error.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/rfc7230.hpp>
#include <boost/beast/http/string_body.hpp>
#include <string>
#include <string_view>

namespace ostrela::linux_platform {
namespace {

namespace http = boost::beast::http;
using boost::system::error_code;
using Parser = http::response_parser<http::string_body>;
using Phase = HttpResponseReader::Phase;

// The wait for the first bytes of an answer is the long one: a small buffer
// keeps many exchanges in flight cheap. Later reads take more at a time.
constexpr std::size_t kFirstReadSize = 4096;
constexpr std::size_t kReadSize = 65536;
constexpr std::string_view kHttpStart = "HTTP/";

HttpOutcome failure(std::string description) {
  return TransportFailure{std::move(description)};
}

HttpOutcome framingTooLarge(Phase phase) {
  return failure(phase == Phase::readingBody
                     ? "the answer's chunk lines and trailers are larger than 64 KiB"
                     : "the answer's header is larger than 64 KiB");
}

// No transfer coding, or chunked alone: the relay decodes no other
// ("gzip, chunked" would leave a compressed body to be read as JSON).
bool onlyChunkedIfAny(const http::response_header<>& head) {
  std::size_t codings = 0;
  const auto [from, to] = head.equal_range(http::field::transfer_encoding);
  for (auto field = from; field != to; ++field) {
    for (const auto& coding : http::token_list(field->value())) {
      if (++codings > 1 || !boost::beast::iequals(coding, "chunked")) return false;
    }
  }
  return true;
}

}  // namespace

struct HttpResponseReader::State {
  boost::beast::flat_buffer buffer;
  std::optional<Parser> parser;
  Phase phase = Phase::awaitingAnswer;
  // The first bytes of the answer, up to the length of "HTTP/".
  std::string start;
  // Bytes of interim answers, and bytes the current parser consumed.
  std::size_t interimBytes = 0;
  std::size_t consumed = 0;

  State() { resetParser(); }

  void resetParser() {
    interimBytes += consumed;
    consumed = 0;
    parser.emplace();
    parser->header_limit(static_cast<std::uint32_t>(kMaxAnswerFramingSize));
    parser->body_limit(kMaxAnswerBodySize);
  }

  // Everything received that is not body, the unparsed bytes included.
  std::size_t framingBytes() const {
    return interimBytes + consumed - parser->get().body().size() + buffer.size();
  }

  OversizedAnswer oversized() const {
    if (auto length = parser->content_length()) return {static_cast<std::size_t>(*length)};
    return {parser->get().body().size() + buffer.size()};
  }

  HttpOutcome parseError(const error_code& ec) const {
    if (ec == http::error::header_limit) return framingTooLarge(phase);
    if (ec == http::error::body_limit) return oversized();
    // The head is what makes an answer HTTP; a bad body is a broken HTTP answer.
    if (phase != Phase::readingBody) return NonHttpResponse{};
    return failure("the answer's body is malformed (" + ec.message() + ")");
  }

  // Parses what the buffer holds; an outcome once there is one.
  std::optional<HttpOutcome> parse() {
    while (buffer.size() > 0 && !parser->is_done()) {
      error_code ec;
      const std::size_t used = parser->put(buffer.data(), ec);
      buffer.consume(used);
      consumed += used;
      if (ec == http::error::need_more) break;
      if (ec) return parseError(ec);
      if (!parser->is_header_done() || phase == Phase::readingBody) continue;
      const unsigned status = parser->get().result_int();
      if (status >= 100 && status < 200 && status != 101) {
        resetParser();  // an interim answer such as 100 Continue: the real one follows
        continue;
      }
      // The body of a refusal or a redirect is never looked at.
      if (status < 200 || status > 299) return HttpResponse{static_cast<int>(status), {}};
      if (!onlyChunkedIfAny(parser->get().base())) {
        return failure("the answer's body is malformed (a transfer coding other than chunked)");
      }
      phase = Phase::readingBody;
    }
    if (parser->is_done()) return complete();
    if (framingBytes() > kMaxAnswerFramingSize) return framingTooLarge(phase);
    return std::nullopt;
  }

  HttpOutcome complete() {
    return HttpResponse{static_cast<int>(parser->get().result_int()),
                        std::move(parser->get().body())};
  }
};

HttpResponseReader::HttpResponseReader() : state_(std::make_unique<State>()) {}
HttpResponseReader::~HttpResponseReader() = default;

std::span<char> HttpResponseReader::space() {
  const auto buffer =
      state_->buffer.prepare(state_->phase == Phase::awaitingAnswer ? kFirstReadSize : kReadSize);
  return {static_cast<char*>(buffer.data()), buffer.size()};
}

std::optional<HttpOutcome> HttpResponseReader::received(std::size_t count) {
  State& s = *state_;
  if (count == 0) return std::nullopt;
  // Foreign protocols are told apart by the first bytes of the answer, before
  // any of it is parsed, without waiting for a whole line.
  s.buffer.commit(count);
  s.phase = std::max(s.phase, Phase::readingHead);  // from the first byte, whatever it is
  if (s.start.size() < kHttpStart.size()) {
    const auto* end = static_cast<const char*>(s.buffer.data().data()) + s.buffer.size();
    s.start.append(end - count, std::min(count, kHttpStart.size() - s.start.size()));
    if (!kHttpStart.starts_with(s.start)) return NonHttpResponse{};
  }
  return s.parse();
}

HttpOutcome HttpResponseReader::endOfInput() {
  State& s = *state_;
  if (s.parser->got_some() && s.parser->is_header_done()) {
    error_code ec;
    s.parser->put_eof(ec);
    if (!ec) return s.complete();
  }
  if (s.phase == Phase::awaitingAnswer) {
    return failure("the connection was closed before the agent answered");
  }
  return failure("the connection was closed before the answer was complete");
}

HttpResponseReader::Phase HttpResponseReader::phase() const {
  return state_->phase;
}

bool HttpResponseReader::reusable() const {
  return state_->parser->is_done() && state_->parser->keep_alive() && state_->buffer.size() == 0;
}

}  // namespace ostrela::linux_platform
