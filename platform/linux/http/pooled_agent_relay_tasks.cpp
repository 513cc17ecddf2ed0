#include "platform/linux/http/pooled_agent_relay_tasks.h"

#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/http/agent_relay.h"
#include "platform/linux/http/worker_pool.h"

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

RelayAdmission& PooledAgentRelayTasks::admissionFor(AgentRelayBudget budget) {
  return budget == AgentRelayBudget::identity ? identityAdmission_ : redactionAdmission_;
}

void PooledAgentRelayTasks::startDetached(AgentRelayRequest request,
                                          std::function<void(NativeReply)> finish) {
  const auto arrival = request.arrival.value_or(AgentRelay::Clock::now());
  auto task = std::make_shared<Task>(Task{std::move(request), {}, std::move(finish)});
  task->id = task->request.id;
  RelayAdmission& admission = admissionFor(task->request.budget);
  auto start = [this, &admission, task, arrival] {
    pool_.spawnDetached([this, &admission, task, arrival]() -> boost::asio::awaitable<void> {
      std::optional<NativeReply> reply;
      std::string what = "an exception of unknown type";  // what() dies with its exception
      try {
        reply = co_await relay_.send(std::move(task->request), arrival);
      } catch (const std::exception& error) {
        what = error.what();
      } catch (...) {
      }
      admission.finished();
      if (reply) {
        task->finish(std::move(*reply));
      } else {
        failed(*task, what.c_str());
      }
    });
  };
  auto expire = [this, task] { task->finish(relay_.timedOutReply(task->request)); };
  admission.submit(
      {relay_.deadlineFor(task->request, arrival), std::move(start), std::move(expire)});
}

}  // namespace ostrela::linux_platform
