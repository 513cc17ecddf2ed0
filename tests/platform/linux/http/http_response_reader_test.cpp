// The agent's answer as bytes in pieces: the same outcome at any boundary,
// and a limit on every part.
#include "platform/linux/http/http_response_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/answer_in_pieces.h"

namespace ostrela::linux_platform {
namespace {

using Result = testing::PiecesRead;

Result readWhole(std::string_view answer) {
  return testing::readAnswerInPieces(answer, answer.size(), answer.size());
}

std::string describe(const HttpOutcome& outcome) {
  if (const auto* response = std::get_if<HttpResponse>(&outcome)) {
    return "HTTP " + std::to_string(response->status) + " body=" + response->body;
  }
  if (std::holds_alternative<NonHttpResponse>(outcome)) return "not HTTP";
  if (const auto* oversized = std::get_if<OversizedAnswer>(&outcome)) {
    return "oversized " + std::to_string(oversized->length);
  }
  return "failure: " + std::get<TransportFailure>(outcome).description;
}

const char* const kValidAnswers[] = {
    "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 11\r\n\r\n"
    R"({"ok":true})",
    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
    "5;name=value;q=\"a b\"\r\n{\"ok\"\r\n6\r\n:true}\r\n0\r\nX-Trailer: t\r\n\r\n",
    "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n\r\n{\"ok\":false,\"error\":\"e\"}",
    "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 102 Processing\r\nX: y\r\n\r\n"
    "HTTP/1.1 201 Created\r\nContent-Length: 11\r\n\r\n{\"ok\":true}",
    "HTTP/1.1 302 Found\r\nLocation: http://example.org/\r\nContent-Length: 5\r\n\r\nhello",
    "HTTP/1.1 204 No Content\r\n\r\n",
};

TEST(HttpResponseReader, EveryValidAnswerReadsTheSameSplitAtEveryByte) {
  for (const std::string_view answer : kValidAnswers) {
    const Result whole = readWhole(answer);
    ASSERT_TRUE(std::holds_alternative<HttpResponse>(whole.outcome)) << describe(whole.outcome);
    for (std::size_t cut = 1; cut < answer.size(); ++cut) {
      const Result split = testing::readAnswerInPieces(answer, cut, answer.size());
      EXPECT_EQ(describe(split.outcome), describe(whole.outcome)) << answer << "\ncut at " << cut;
      EXPECT_EQ(split.reusable, whole.reusable) << answer << "\ncut at " << cut;
    }
    EXPECT_EQ(describe(testing::readAnswerInPieces(answer, 1, 1).outcome), describe(whole.outcome));
  }
  // What each of them is, read whole.
  EXPECT_EQ(describe(readWhole(kValidAnswers[1]).outcome), R"(HTTP 200 body={"ok":true})");
  EXPECT_TRUE(readWhole(kValidAnswers[0]).reusable);
  EXPECT_FALSE(readWhole(kValidAnswers[2]).reusable);  // ends with the connection
}

TEST(HttpResponseReader, ForeignAndBrokenAnswers) {
  const std::pair<std::string, std::string> cases[] = {
      {"SSH-2.0-OpenSSH_9.2\r\n", "not HTTP"},
      {"H", "failure: the connection was closed before the answer was complete"},
      {"", "failure: the connection was closed before the agent answered"},
      {"HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\n{\"ok\"",
       "failure: the connection was closed before the answer was complete"},
      {"HTTP/1.1 OK\r\n\r\n", "not HTTP"},
      {"HTTP/1.1 200 OK\r\nBroken header\r\n\r\n", "not HTTP"},
      {"HTTP/1.1 101 Switching Protocols\r\n\r\n", "HTTP 101 body="},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
       "failure: the answer's body is malformed (bad chunk)"},
      // Bytes past a complete answer make its connection unusable, not the answer.
      {"HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}junk", "HTTP 200 body={}"},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n",
       "failure: the answer's body is malformed (a transfer coding other than chunked)"},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip\r\n\r\n{}",
       "failure: the answer's body is malformed (a transfer coding other than chunked)"},
  };
  for (const auto& [answer, expected] : cases) {
    EXPECT_EQ(describe(readWhole(answer).outcome), expected) << answer;
    // A foreign protocol is known by its first byte, whatever follows.
    if (expected == "not HTTP" && answer[0] != 'H') {
      EXPECT_EQ(testing::readAnswerInPieces(answer, 1, 1).bytesTaken, 1u);
    }
  }
  EXPECT_FALSE(readWhole(cases[8].first).reusable);
}

// `unit` repeated past the framing limit.
std::string pastTheLimit(const std::string& unit) {
  std::string text;
  while (text.size() <= kMaxAnswerFramingSize) text += unit;
  return text;
}

TEST(HttpResponseReader, EveryPartOfTheFramingCountsAgainstOneLimit) {
  const std::string chunkedHead = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::string head = "failure: the answer's header is larger than 64 KiB";
  const std::string chunkLines =
      "failure: the answer's chunk lines and trailers are larger than 64 KiB";
  // An endless field, chunk extension or trailer (no line end ever comes), and
  // many small trailers or interim answers that add up.
  const std::pair<std::string, std::string> cases[] = {
      {"HTTP/1.1 200 OK\r\nX: " + pastTheLimit("a"), head},
      {chunkedHead + "1;x=" + pastTheLimit("a"), chunkLines},
      {chunkedHead + "0\r\nX-T: " + pastTheLimit("a"), chunkLines},
      {chunkedHead + "0\r\n" + pastTheLimit("X-T: aaaaaaaaaaaaaaaa\r\n"), chunkLines},
      {pastTheLimit("HTTP/1.1 100 Continue\r\n\r\n"), head},
  };
  for (const auto& [answer, expected] : cases) {
    const Result result = readWhole(answer);
    EXPECT_EQ(describe(result.outcome), expected) << answer.substr(0, 60);
    // Refused as soon as the limit is passed, by at most one read.
    EXPECT_LE(result.bytesTaken, kMaxAnswerFramingSize + 65536) << answer.substr(0, 60);
  }
}

TEST(HttpResponseReader, ABodyTooLargeForAReplyIsRefusedUnread) {
  // Announced: refused with the head, before a byte of the body.
  const std::string announced = "HTTP/1.1 200 OK\r\nContent-Length: 65011739\r\n\r\n";
  const Result fromHead = readWhole(announced + std::string(10, ' '));
  EXPECT_EQ(describe(fromHead.outcome), "oversized 65011739");
  // Chunked or ended by the close: refused once the limit is passed.
  const std::string chunk = "10000\r\n" + std::string(0x10000, ' ') + "\r\n";
  std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  while (chunked.size() < kMaxAnswerBodySize + 2 * chunk.size()) chunked += chunk;
  const Result fromChunks = readWhole(chunked);
  ASSERT_TRUE(std::holds_alternative<OversizedAnswer>(fromChunks.outcome))
      << describe(fromChunks.outcome);
  EXPECT_GT(std::get<OversizedAnswer>(fromChunks.outcome).length, kMaxAnswerBodySize);
  EXPECT_LT(fromChunks.bytesTaken, kMaxAnswerBodySize + 2 * chunk.size());
  std::string closeDelimited = "HTTP/1.0 200 OK\r\n\r\n" + std::string(kMaxAnswerBodySize + 1, ' ');
  EXPECT_TRUE(std::holds_alternative<OversizedAnswer>(readWhole(closeDelimited).outcome));
}

}  // namespace
}  // namespace ostrela::linux_platform
