// The native-messaging stream over real pipes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <future>
#include <limits>
#include <mutex>
#include <new>
#include <set>
#include <thread>

#include "core/json.h"
#include "platform/linux/file_descriptor.h"
#include "platform/linux/native_messaging/frame_codec.h"
#include "platform/linux/native_messaging/frame_reader.h"
#include "platform/linux/native_messaging/large_frame_decoder.h"
#include "platform/linux/native_messaging/native_messaging_host.h"
#include "platform/linux/native_messaging/reply_writer.h"
#include "shared/in_memory_preference_stores.h"
#include "tests/support/recording_log_sink.h"

namespace ostrela::linux_platform {
namespace {

std::string header(std::uint32_t length) {
  const auto bytes = encodeFrameHeader(length);
  return std::string(bytes.data(), bytes.size());
}

// Every frame body on `fd` until end of input.
std::vector<std::string> readReplies(int fd) {
  std::vector<std::string> replies;
  FrameReader reader(fd);
  for (auto next = reader.next(); auto* f = std::get_if<Frame>(&next); next = reader.next()) {
    replies.push_back(f->body);
  }
  return replies;
}

TEST(ReplyWriterTest, RepliesTooLargeForTheBrowserAreReplaced) {
  const std::string big(kMaxReplyLength, 'x');
  const auto tooLarge = replyFrameBody(AnyMap{{"ok", true}, {"data", big}, {"id", "r1"}});
  EXPECT_EQ(tooLarge.refusedLength, kMaxReplyLength + 31);
  EXPECT_EQ(tooLarge.body, R"x({"ok":false,"error":"The reply is too large for the browser ()x" +
                               std::to_string(tooLarge.refusedLength) + R"x( bytes)","id":"r1"})x");

  // An id that is itself too large is left out of the replacement.
  const auto withoutId = decodeJson(replyFrameBody(AnyMap{{"ok", true}, {"id", big}}).body);
  ASSERT_TRUE(withoutId);
  EXPECT_FALSE(withoutId->asMap()->contains("id"));
  EXPECT_EQ(*withoutId->asMap()->find("ok"), AnyValue(false));

  // A reply of exactly the limit is sent as it is.
  const std::string exact(kMaxReplyLength - 8, 'y');  // {"k":"..."} is 8 bytes more
  EXPECT_EQ(replyFrameBody(AnyMap{{"k", exact}}).body.size(), kMaxReplyLength);

  // The writer logs each replacement as an error.
  testing::RecordingLogSink sink;
  Pipe pipe = makePipe();
  ReplyWriter(pipe.write.get(), Logger("s", "c", sink, {})).write(AnyMap{{"data", big}});
  ASSERT_EQ(sink.lines().size(), 1u);
  EXPECT_EQ(sink.lines()[0].level, LogLevel::error);
  EXPECT_EQ(sink.lines()[0].message, "Replaced a reply of " + std::to_string(kMaxReplyLength + 11) +
                                         " bytes: too large for the browser");
}

// The last resort must itself be valid JSON with "ok", whatever the id holds.
TEST(ReplyWriterTest, RepliesJsonCannotCarryAreReplacedByAnErrorReply) {
  const AnyValue infinite(std::numeric_limits<double>::infinity());
  for (const AnyMap& reply :
       {AnyMap{{"ok", true}, {"id", infinite}}, AnyMap{{"ok", true}, {"n", infinite}, {"id", 4}}}) {
    const auto frame = replyFrameBody(reply);
    EXPECT_TRUE(frame.unencodable);
    const auto decoded = decodeJson(frame.body);
    ASSERT_TRUE(decoded && decoded->isMap()) << frame.body;
    EXPECT_EQ(*decoded->asMap()->find("ok"), AnyValue(false));
    EXPECT_EQ(*decoded->asMap()->find("error"), AnyValue("The reply could not be encoded as JSON"));
    EXPECT_EQ(decoded->asMap()->contains("id"), reply.contains("n"));  // a finite id is kept
  }
}

TEST(ProtocolOutputTest, StrayWritesToStdoutLandOnStderrNotInTheStream) {
  Pipe out = makePipe();
  Pipe err = makePipe();
  const int savedOut = ::dup(STDOUT_FILENO);
  const int savedErr = ::dup(STDERR_FILENO);
  std::fflush(stdout);
  ::dup2(out.write.get(), STDOUT_FILENO);
  ::dup2(err.write.get(), STDERR_FILENO);

  const int protocol = takeProtocolOutput();
  std::printf("a library's stray line\n");
  std::fflush(stdout);
  testing::RecordingLogSink sink;
  ReplyWriter(protocol, Logger("s", "c", sink, {})).write(AnyMap{{"ok", true}});

  ::close(protocol);
  ::dup2(savedOut, STDOUT_FILENO);
  ::dup2(savedErr, STDERR_FILENO);
  ::close(savedOut);
  ::close(savedErr);
  out.write.reset();
  err.write.reset();
  EXPECT_EQ(readReplies(out.read.get()), std::vector<std::string>{R"({"ok":true})"});
  char buffer[64] = {};
  EXPECT_EQ(
      std::string(buffer, static_cast<std::size_t>(::read(err.read.get(), buffer, sizeof buffer))),
      "a library's stray line\n");
}

// Answers every relayed message from a thread of its own, in the order a case
// sets: a message with "after": n once relay n has been answered, one with
// "hold": n once n relays have been in flight at the same time. A message with
// "oom" finds no memory to start.
class OrderedRelayTasks : public AgentRelayTasks {
 public:
  ~OrderedRelayTasks() override {
    for (auto& t : threads_) t.join();
  }
  void startDetached(AgentRelayRequest request, std::function<void(NativeReply)> finish) override {
    if (request.body.find(R"("oom")") != std::string::npos) throw std::bad_alloc();
    std::lock_guard started(mutex_);
    mostInFlight = std::max(mostInFlight, ++inFlight_);
    changed_.notify_all();
    threads_.emplace_back([this, request = std::move(request), finish = std::move(finish)] {
      const auto message = decodeJson(request.body);
      const auto number = [&](const char* key) {
        return member(message, key) ? member(message, key)->asNumber()->asInt() : 0;
      };
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] {
        return (number("after") == 0 || answered_.contains(number("after"))) &&
               mostInFlight >= number("hold");
      });
      --inFlight_;
      lock.unlock();
      finish(NativeReply{AnyMap{{"ok", true}, {"id", request.id.value_or(AnyValue())}}, true});
      lock.lock();
      answered_.insert(number("id"));
      changed_.notify_all();
    });
  }
  // The most relays started and not yet answered at any moment; written under mutex_ by the
  // reading thread alone.
  long mostInFlight = 0;

 private:
  std::vector<std::thread> threads_;  // only the reading thread adds to it
  std::mutex mutex_;
  std::condition_variable changed_;
  long inFlight_ = 0;                // guarded by mutex_
  std::set<std::int64_t> answered_;  // guarded by mutex_
};

// The stream loop over real pipes, with the handler's local answers and relays
// answered from other threads.
struct Host {
  testing::RecordingLogSink sink;
  Logger logger{"s", "c", sink, {}};
  InMemoryPreferenceStores stores;
  OrderedRelayTasks relays;
  SafariWebExtensionHandler handler{stores, logger, relays};
  PendingLimits limits;

  std::vector<std::string> run(std::string_view input) {
    Pipe in = makePipe();
    Pipe out = makePipe();
    auto writing = std::async(std::launch::async, [&] {
      EXPECT_TRUE(writeAll(in.write.get(), input));  // more than the pipe holds, for some
      in.write.reset();
    });
    auto replies =
        std::async(std::launch::async, [fd = out.read.get()] { return readReplies(fd); });
    EXPECT_EQ(runNativeMessagingHost(in.read.get(), out.write.get(), handler, logger, limits), 0);
    out.write.reset();
    writing.get();
    return replies.get();
  }
};

// Every complete frame gets one reply, in the order the replies complete, and end
// of input waits for the relays in flight.
TEST(HostTest, EachFaultOfTheStream) {
  const std::string malformed =
      R"({"ok":false,"error":"Malformed native message: expected a JSON object"})";
  const std::string unknown = R"({"ok":false,"error":"Unknown native message type 'x'","id":1})";
  const std::string first = encodeFrame(R"({"type":"x","id":1})");
  struct Case {
    const char* name;
    std::string input;
    std::vector<std::string> replies;
    std::size_t errorLines = 0;
  } cases[] = {
      {"CompletionOrder",
       first +
           encodeFrame(R"({"type":"getLdap","host":"com.ostrela.ldap_host","id":1,"after":2})") +
           encodeFrame(R"({"type":"getLdap","host":"com.ostrela.ldap_host","id":2})"),
       {unknown, R"({"ok":true,"id":2})", R"({"ok":true,"id":1})"}},
      {"EmptyFile", "", {}},
      // Read in one pass on a thread of their own; end of input waits for them.
      {"LargeFrames",
       encodeFrame(R"({"type":"x","id":1,"pad":")" + std::string(kLargeFrameBytes, 'p') + "\"}") +
           encodeFrame(R"({"type":"getLdap","host":"com.ostrela.ldap_host","id":2,"pad":")" +
                       std::string(kLargeFrameBytes, 'p') + "\"}"),
       {unknown, R"({"ok":true,"id":2})"}},
      // Out of memory, a frame is answered so, and the stream goes on.
      {"OutOfMemory",
       encodeFrame(R"({"type":"getLdap","host":"com.ostrela.ldap_host","oom":1})") + first,
       {R"({"ok":false,"error":"Not enough memory for a native message of 57 bytes"})", unknown},
       1},
      {"ShortHeader", std::string("\x05\x00", 2), {}},
      {"EmptyBody", header(0), {malformed}},
      {"ShortBody", header(10) + "abc", {}},
      {"TwoFramesThenShortBody", first + encodeFrame("[]") + header(3), {unknown, malformed}},
      {"InvalidJSON",
       encodeFrame("{\"type\":") + encodeFrame("\"text\"") + encodeFrame("{\"a\":\"\xff\"}") +
           encodeFrame("7"),
       {malformed, malformed, malformed, malformed}},
      // Answered once, then the stream is no longer read.
      {"InvalidLength",
       first + header(kMaxInboundFrameLength + 1) + encodeFrame(R"({"type":"y","id":2})"),
       {unknown, malformed},
       1},
      {"LargestLengthIsNotOversized", header(kMaxInboundFrameLength), {}},
  };
  for (const auto& c : cases) {
    Host host;
    EXPECT_EQ(host.run(c.input), c.replies) << c.name;
    const auto lines = host.sink.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const auto& line) { return line.level == LogLevel::error; }),
              static_cast<long>(c.errorLines))
        << c.name;
  }
}

// Past the limits reading pauses until replies have gone out; every frame is still answered.
TEST(HostTest, ReadingPausesWhileTooManyRepliesAreDue) {
  // Each relay holds its reply until as many are in flight as the limit lets be.
  for (const PendingLimits limits : {PendingLimits{2, 1 << 20}, PendingLimits{100, 1}}) {
    const long most = limits.requests == 2 ? 2 : 1;
    std::string input;
    for (int id = 1; id <= 6; ++id) {
      input += encodeFrame(R"({"type":"getLdap","host":"com.ostrela.ldap_host","hold":)" +
                           std::to_string(most) + R"(,"id":)" + std::to_string(id) + "}");
    }
    Host host;
    host.limits = limits;
    EXPECT_EQ(host.run(input).size(), 6u);
    EXPECT_EQ(host.relays.mostInFlight, most);
  }
}

}  // namespace
}  // namespace ostrela::linux_platform
