// Reading a big file into fresh memory is bound by the page faults that
// zero that memory, not by the copy: one reader thread per processor, each
// faulting in its own part of the buffer, cuts the time by about as many.
#include "text/file_read.h"
#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <unistd.h>

namespace {
struct File_Part {
    int fd;
    u8 *into;
    u64 offset, length;
    u64 done;
    int error; // errno of a failed read, 0 for none
};
}

static void *read_file_part(void *argument) {
    File_Part *part = (File_Part *)argument;
    while (part->done < part->length) {
        ssize_t got = pread(part->fd, part->into + part->done, part->length - part->done, (off_t)(part->offset + part->done));
        if (got < 0) part->error = errno;
        if (got <= 0) break;
        part->done += (u64)got;
    }
    return nullptr;
}

static u32 file_read_num_readers(u64 size) {
    if (size < FILE_READ_PARALLEL_FROM) return 1;
    cpu_set_t set;
    u32 n = sched_getaffinity(0, sizeof set, &set) == 0 ? (u32)CPU_COUNT(&set) : 1;
    return n < 1 ? 1 : n > FILE_READ_MAX_READERS ? FILE_READ_MAX_READERS : n;
}

s64 file_read_whole(int fd, u8 *into, u64 size) {
    u32 readers = file_read_num_readers(size);
    // Parts start on 2 MiB boundaries of the buffer, so no huge page is
    // faulted by two readers.
    const u64 huge = 2ull << 20;
    u64 part_size = readers == 1 ? size : (size / readers + huge - 1) & ~(huge - 1);
    u32 n = readers == 1 ? 1 : (u32)((size + part_size - 1) / part_size);
    File_Part parts[FILE_READ_MAX_READERS];
    pthread_t threads[FILE_READ_MAX_READERS];
    bool started[FILE_READ_MAX_READERS] = {};
    for (u32 i = 0; i < n; i++) {
        u64 offset = (u64)i * part_size;
        parts[i] = File_Part{fd, into + offset, offset, size - offset < part_size ? size - offset : part_size, 0, 0};
        if (i > 0) started[i] = pthread_create(&threads[i], nullptr, read_file_part, &parts[i]) == 0;
        if (i > 0 && !started[i]) read_file_part(&parts[i]);
    }
    read_file_part(&parts[0]);
    u64 total = 0;
    int error = 0;
    for (u32 i = 0; i < n; i++) {
        if (started[i]) pthread_join(threads[i], nullptr);
        if (parts[i].error && !error) error = parts[i].error;
        total += parts[i].done;
    }
    if (error) {
        errno = error;
        return -1;
    }
    if (total < size) return (s64)total;
    // A byte past the size the status gave: the file grew meanwhile.
    u8 extra;
    ssize_t more = pread(fd, &extra, 1, (off_t)size);
    if (more < 0) return -1;
    return (s64)(size + (u64)more);
}
