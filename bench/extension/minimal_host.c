/* Baseline: the least a native-messaging host can do. Reads one frame and
 * writes one reply frame. */
#include <stdint.h>
#include <string.h>
#include <unistd.h>

#include "minimal_lock.h"

static int read_all(char* p, size_t n) {
  while (n > 0) {
    ssize_t r = read(0, p, n);
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
  uint32_t length = 0;
  if (read_all((char*)&length, 4) != 0 || length > sizeof body) return 1;
  if (read_all(body, length) != 0) return 1;
  static const char reply[] = "{\"ok\":true,\"config\":{}}";
  uint32_t out = sizeof reply - 1;
  char frame[4 + sizeof reply];
  memcpy(frame, &out, 4);
  memcpy(frame + 4, reply, out);
  return write(1, frame, 4 + out) == (ssize_t)(4 + out) ? 0 : 1;
}
