#include "extension/relay/agent_url.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace ostrela {
namespace {

bool isHostCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '.' || c == '_' ||
         c == '~';
}

bool isHexDigit(char c) {
  return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// The characters a path or query may hold unencoded (unreserved, sub-delims,
// ":", "@", "/" and "?"); "%" only as the start of a percent-encoding.
bool isValidReference(std::string_view text) {
  static constexpr std::string_view kAllowed = "-._~!$&'()*+,;=:@/?";
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size()) return false;
      if (!isHexDigit(text[i + 1]) || !isHexDigit(text[i + 2])) return false;
      i += 2;
    } else if (std::isalnum(static_cast<unsigned char>(c)) == 0 &&
               kAllowed.find(c) == std::string_view::npos) {
      return false;
    }
  }
  return true;
}

// Removes "." and ".." segments, as relative resolution does.
std::string removeDotSegments(std::string_view path) {
  std::vector<std::string_view> segments;
  const bool absolute = !path.empty() && path.front() == '/';
  if (absolute) path.remove_prefix(1);
  bool trailingSlash = false;
  while (true) {
    const std::size_t slash = path.find('/');
    const std::string_view segment = path.substr(0, slash);
    const bool last = slash == std::string_view::npos;
    if (segment == ".") {
      trailingSlash = last;
    } else if (segment == "..") {
      if (!segments.empty()) segments.pop_back();
      trailingSlash = last;
    } else {
      segments.push_back(segment);
      trailingSlash = false;
    }
    if (last) break;
    path.remove_prefix(slash + 1);
  }
  std::string result = absolute ? "/" : "";
  for (std::size_t i = 0; i < segments.size(); ++i) {
    if (i > 0) result += '/';
    result += segments[i];
  }
  if (trailingSlash && !segments.empty()) result += '/';
  return result;
}

}  // namespace

std::optional<HttpUrl> HttpUrl::fromComponents(std::string_view scheme, std::string_view host,
                                               std::uint16_t port) {
  if (scheme != kAgentScheme || host.empty() ||
      !std::all_of(host.begin(), host.end(), isHostCharacter)) {
    return std::nullopt;
  }
  return HttpUrl(std::string(host), port);
}

std::optional<HttpUrl> HttpUrl::resolving(std::string_view reference) const {
  if (!isValidReference(reference)) return std::nullopt;
  const std::size_t question = reference.find('?');
  const std::string_view path = reference.substr(0, question);
  // A colon in the first segment would make it a scheme; "//" starts an authority.
  if (path.substr(0, path.find('/')).find(':') != std::string_view::npos) return std::nullopt;
  if (path.starts_with("//")) return std::nullopt;

  HttpUrl result(host_, port_);
  std::optional<std::string> query;
  if (question != std::string_view::npos) query = std::string(reference.substr(question + 1));
  if (path.empty()) {
    result.path_ = path_;
    result.query_ = query ? query : query_;
  } else if (path.front() == '/') {
    result.path_ = removeDotSegments(path);
    result.query_ = std::move(query);
  } else {
    // Merge with the base path; a base with an authority and no path counts as "/".
    const std::size_t lastSlash = path_.rfind('/');
    const std::string directory =
        lastSlash == std::string::npos ? "/" : path_.substr(0, lastSlash + 1);
    result.path_ = removeDotSegments(directory + std::string(path));
    result.query_ = std::move(query);
  }
  return result;
}

std::string HttpUrl::authority() const {
  return host_ + ":" + std::to_string(port_);
}

std::string HttpUrl::requestTarget() const {
  std::string target = path_.empty() ? "/" : path_;
  if (query_) target += "?" + *query_;
  return target;
}

std::string HttpUrl::absoluteString() const {
  std::string text = std::string(kAgentScheme) + "://" + authority() + path_;
  if (query_) text += "?" + *query_;
  return text;
}

std::optional<HttpUrl> agentBaseURL() {
  return HttpUrl::fromComponents(kAgentScheme, kAgentHost, kAgentPort);
}

}  // namespace ostrela
