/* Counts the heap allocations of a process (LD_PRELOAD), so that a load run
 * can tell the allocations per request: every malloc, calloc, realloc and
 * aligned allocation (operator new ends in malloc) adds one. A thread writes
 * the running count to the file named by ALLOC_COUNT_FILE ten times a
 * second; bench/loopback/allocs.sh reads it before and after a wrk run.
 *
 *   cc -O2 -shared -fPIC -o alloc_count.so alloc_count.c -lpthread
 */
#define _GNU_SOURCE
#include <fcntl.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

extern void* __libc_malloc(size_t);
extern void* __libc_calloc(size_t, size_t);
extern void* __libc_realloc(void*, size_t);
extern void* __libc_memalign(size_t, size_t);

static atomic_ullong allocations;

static void count(void) { atomic_fetch_add_explicit(&allocations, 1, memory_order_relaxed); }

void* malloc(size_t n) {
  count();
  return __libc_malloc(n);
}
void* calloc(size_t a, size_t b) {
  count();
  return __libc_calloc(a, b);
}
void* realloc(void* p, size_t n) {
  count();
  return __libc_realloc(p, n);
}
void* memalign(size_t align, size_t n) {
  count();
  return __libc_memalign(align, n);
}
void* aligned_alloc(size_t align, size_t n) {
  count();
  return __libc_memalign(align, n);
}
int posix_memalign(void** out, size_t align, size_t n) {
  count();
  void* p = __libc_memalign(align, n);
  if (p == NULL) return 12; /* ENOMEM */
  *out = p;
  return 0;
}

static char path[4096];
static char temp[4100];

static void* writer(void* arg) {
  (void)arg;
  const struct timespec tenth = {0, 100000000};
  for (;;) {
    char text[32];
    const int len = snprintf(text, sizeof text, "%llu\n", (unsigned long long)atomic_load(&allocations));
    /* Written beside and renamed over, so that a reader never sees half. */
    const int fd = open(temp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd >= 0) {
      const int ok = write(fd, text, (size_t)len) == len;
      close(fd);
      if (ok) rename(temp, path);
    }
    nanosleep(&tenth, NULL);
  }
  return NULL;
}

__attribute__((constructor)) static void start(void) {
  const char* name = getenv("ALLOC_COUNT_FILE");
  if (name == NULL || strlen(name) >= sizeof path) return;
  strcpy(path, name);
  snprintf(temp, sizeof temp, "%s.tmp", name);
  /* Only the process that was started with it counts, not its children. */
  unsetenv("LD_PRELOAD");
  pthread_t t;
  if (pthread_create(&t, NULL, writer, NULL) == 0) pthread_detach(t);
}
