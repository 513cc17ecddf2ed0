/* lock_like_the_extension(): minimal_lock.c. */
#pragma once

void lock_like_the_extension(void);
