/* Baseline: a native-messaging host that relays one message to the agent over
 * a raw loopback socket: read a frame, POST it to 127.0.0.1:47653, write the
 * response body back as a frame. No checks beyond what it needs to work. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include "minimal_lock.h"

static int read_all(int fd, char* p, size_t n) {
  while (n > 0) {
    ssize_t r = read(fd, p, n);
    if (r <= 0) return -1;
    p += r;
    n -= (size_t)r;
  }
  return 0;
}

int main(void) {
#ifdef OSTRELA_LOCKED
  lock_like_the_extension();
#endif
  static char body[65536];
  static char buffer[131072];
  uint32_t length = 0;
  if (read_all(0, (char*)&length, 4) != 0 || length > sizeof body) return 1;
  if (read_all(0, body, length) != 0) return 1;

  int s = socket(AF_INET, SOCK_STREAM, 0);
  struct sockaddr_in agent = {.sin_family = AF_INET, .sin_port = htons(47653)};
  agent.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(s, (struct sockaddr*)&agent, sizeof agent) != 0) return 1;
  int head = snprintf(buffer, sizeof buffer,
                      "POST /browser-extension/native-message HTTP/1.1\r\nHost: 127.0.0.1:47653\r\n"
                      "Content-Type: application/json\r\nAccept: application/json\r\n"
                      "Content-Length: %u\r\n\r\n",
                      length);
  memcpy(buffer + head, body, length);
  if (write(s, buffer, (size_t)head + length) < 0) return 1;

  size_t got = 0;
  char* end = NULL;
  long content = -1;
  for (;;) {
    ssize_t r = read(s, buffer + got, sizeof buffer - 1 - got);
    if (r <= 0) return 1;
    got += (size_t)r;
    buffer[got] = 0;
    if (!end && (end = strstr(buffer, "\r\n\r\n")) != NULL) {
      char* cl = strcasestr(buffer, "content-length:");
      content = cl ? atol(cl + 15) : 0;
    }
    if (end && (long)(got - (size_t)(end + 4 - buffer)) >= content) break;
  }
  uint32_t out = (uint32_t)content;
  char frame[4];
  memcpy(frame, &out, 4);
  if (write(1, frame, 4) != 4 || write(1, end + 4, out) != (ssize_t)out) return 1;
  return 0;
}
