#include "platform/linux/http/pooled_agent_relay_tasks.h"

#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/http/agent_relay.h"

namespace ostrela::linux_platform {

// One relayed message: its request until the relay takes it, the id for the
// reply when the relay fails, and who gets the reply.
struct PooledAgentRelayTasks::Task {
  AgentRelayRequest request;
  std::optional<AnyValue> id;
  std::function<void(NativeReply)> finish;
};

void PooledAgentRelayTasks::failed(const Task& task, const char* what) const {
  logger_.log(LogLevel::error, "A relay task failed: %{public}s", {what});
  task.finish(errorReply(kRelayTaskFailed, task.id));
}

void PooledAgentRelayTasks::startDetached(AgentRelayRequest request,
                                          std::function<void(NativeReply)> finish) {
  const auto arrival = AgentRelay::Clock::now();
  auto task = std::make_shared<Task>(Task{std::move(request), {}, std::move(finish)});
  task->id = task->request.id;
  const AgentRelay* relay = nullptr;
  std::string why = "an exception of unknown type";  // what() dies with its exception
  try {
    relay = &relay_();
  } catch (const std::exception& error) {
    why = error.what();
  } catch (...) {
  }
  if (relay == nullptr) {
    spawnDetached([this, task, why]() -> boost::asio::awaitable<void> {
      failed(*task, why.c_str());
      co_return;
    });
    return;
  }
  auto start = [this, relay, task, arrival] {
    spawnDetached([this, relay, task, arrival]() -> boost::asio::awaitable<void> {
      std::optional<NativeReply> reply;
      std::string what = "an exception of unknown type";
      try {
        reply = co_await relay->send(std::move(task->request), arrival);
      } catch (const std::exception& error) {
        what = error.what();
      } catch (...) {
      }
      admission_.finished();
      if (reply) {
        task->finish(std::move(*reply));
      } else {
        failed(*task, what.c_str());
      }
    });
  };
  auto expire = [relay, task] { task->finish(relay->timedOutReply(task->request)); };
  admission_.submit(
      {relay->deadlineFor(task->request, arrival), std::move(start), std::move(expire)});
}

}  // namespace ostrela::linux_platform
