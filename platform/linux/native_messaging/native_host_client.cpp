#include "platform/linux/native_messaging/native_host_client.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <thread>

#include "core/json.h"
#include "platform/linux/browser_registrations.h"
#include "platform/linux/native_messaging/frame_reader.h"
#include "platform/linux/preference_file.h"

extern char** environ;

namespace ostrela::linux_platform {
namespace {

void writeFrames(int fd, const std::vector<std::string>& bodies) {
  for (const std::string& body : bodies) {
    const auto length = static_cast<std::uint32_t>(body.size());
    std::string frame(sizeof length, '\0');
    std::memcpy(frame.data(), &length, sizeof length);
    frame += body;
    std::string_view rest = frame;
    while (!rest.empty()) {
      const ssize_t n = ::write(fd, rest.data(), rest.size());
      if (n <= 0) return;  // the host stopped reading
      rest.remove_prefix(static_cast<std::size_t>(n));
    }
  }
}

}  // namespace

std::optional<InstalledHost> findInstalledHost(std::string_view hostName) {
  for (const KnownBrowser& browser : knownBrowsers(BrowserEnvironment::fromEnvironment())) {
    for (const auto& folder : browser.manifestFolders) {
      const auto manifest = folder / (std::string(hostName) + ".json");
      const auto contents = readPreferenceFile(manifest);
      if (!contents) continue;
      const AnyValue* path = contents->find("path");
      if (path != nullptr && path->isString()) return InstalledHost{manifest, *path->asString()};
    }
  }
  return std::nullopt;
}

HostSession runHost(const std::filesystem::path& executable,
                    const std::vector<std::string>& arguments,
                    const std::vector<std::string>& frameBodies) {
  HostSession session;
  int toHost[2];
  int fromHost[2];
  if (::pipe2(toHost, O_CLOEXEC) != 0) return {{}, -1, std::strerror(errno)};
  if (::pipe2(fromHost, O_CLOEXEC) != 0) {
    ::close(toHost[0]);
    ::close(toHost[1]);
    return {{}, -1, std::strerror(errno)};
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toHost[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, fromHost[1], STDOUT_FILENO);
  std::vector<std::string> argv = {executable.string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::vector<char*> argp;
  for (auto& arg : argv) argp.push_back(arg.data());
  argp.push_back(nullptr);
  pid_t pid = -1;
  const int spawned =
      ::posix_spawn(&pid, executable.c_str(), &actions, nullptr, argp.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(toHost[0]);
  ::close(fromHost[1]);
  if (spawned != 0) {
    ::close(toHost[1]);
    ::close(fromHost[0]);
    return {{}, -1, executable.string() + ": " + std::strerror(spawned)};
  }

  std::thread writer([fd = toHost[1], &frameBodies] {
    writeFrames(fd, frameBodies);
    ::close(fd);
  });
  FrameReader reader(fromHost[0]);
  for (;;) {
    auto next = reader.next();
    auto* frame = std::get_if<Frame>(&next);
    if (frame == nullptr) break;
    session.replies.push_back(std::move(frame->body));
  }
  ::close(fromHost[0]);
  writer.join();
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  session.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return session;
}

}  // namespace ostrela::linux_platform
