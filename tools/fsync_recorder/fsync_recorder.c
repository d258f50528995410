/* A native Linux library preloaded into a Wine process (LD_PRELOAD) that
 * records every fsync and fdatasync of a file below a folder, in call order.
 * Wine turns FlushFileBuffers into one of them in the calling process, so
 * the record shows which files a Windows program flushed to disk and when.
 *
 *   VELISK_FSYNC_LOG    file the records are appended to, one line each:
 *                       "fsync <unix path>"
 *   VELISK_FSYNC_UNDER  only paths that start with this text are recorded
 *
 * Nothing is recorded unless both are set; the calls themselves always go
 * through unchanged. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static void record(int fd) {
    const char *log = getenv("VELISK_FSYNC_LOG");
    const char *under = getenv("VELISK_FSYNC_UNDER");
    if (log == NULL || under == NULL || *under == '\0') return;
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0) return;
    path[n] = '\0';
    if (strncmp(path, under, strlen(under)) != 0) return;
    char line[4200];
    int length = snprintf(line, sizeof line, "fsync %s\n", path);
    if (length <= 0 || (size_t)length >= sizeof line) return;
    int out = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (out < 0) return;
    /* One write of one line: appends from several threads stay whole. */
    if (write(out, line, (size_t)length) != length) { /* nothing more to do */ }
    close(out);
}

int fsync(int fd) {
    static int (*next)(int);
    if (next == NULL) next = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    int result = next(fd);
    if (result == 0) record(fd);
    return result;
}

int fdatasync(int fd) {
    static int (*next)(int);
    if (next == NULL) next = (int (*)(int))dlsym(RTLD_NEXT, "fdatasync");
    int result = next(fd);
    if (result == 0) record(fd);
    return result;
}
