// A FUSE file system of one file, "card.img", that serves an image file as a
// dying card answers: chosen sectors fail with EIO, others answer slowly, and
// past a chosen sector the card stops answering altogether. Put a read-only
// loop device over the file and the tests read a block device that fails as a
// card in a reader does.
//
//   hx-faultyfs IMAGE CONTROL MOUNTPOINT [fuse options]
//
// CONTROL is a text file read again whenever it changes, one rule a line, in
// 512-byte sectors of the image (a byte is added to CONTROL.waits as each
// read that a rule keeps waiting begins to wait):
//   bad FIRST[-LAST]        reads touching these sectors fail (EIO)
//   slow FIRST[-LAST] MS    reads touching these sectors take MS milliseconds
//                           (a fraction too: 0.2 is a card of some 20 MB/s)
//   dies FIRST              from the first read that touches FIRST on, every
//                           read fails, until CONTROL changes (the card is back)
//   worn FIRST[-LAST] MS    reads touching these sectors answer at once the
//                           first time, then take MS milliseconds (a card that
//                           wears as it is read)
//   kill FIRST[-LAST]       the process that reads these sectors is ended
//                           (SIGKILL), as the system may end a program that
//                           reads a dying card; read the file, not a loop device
#define FUSE_USE_VERSION 31
#include <errno.h>
#include <fuse.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <fcntl.h>

enum kind { BAD, SLOW, DIES, KILL, WORN };
struct rule {
    enum kind kind;
    unsigned long long first, last;
    double ms;
    long reads;  // that touched it
};

static const char* image_path;
static const char* control_path;
static int image_fd = -1;
static struct rule rules[65536];
static int rule_count;
static struct timespec control_mtime;
static off_t control_size = -1;
static int dead;
static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;

static void load_rules(void) {
    struct stat st;
    if (stat(control_path, &st) != 0) {
        rule_count = 0;
        return;
    }
    if (st.st_mtim.tv_sec == control_mtime.tv_sec && st.st_mtim.tv_nsec == control_mtime.tv_nsec &&
        st.st_size == control_size)
        return;
    control_mtime = st.st_mtim;
    control_size = st.st_size;
    dead = 0;
    rule_count = 0;
    FILE* f = fopen(control_path, "r");
    if (!f) return;
    char line[256], word[16];
    while (fgets(line, sizeof line, f) && rule_count < (int)(sizeof rules / sizeof rules[0])) {
        unsigned long long a = 0, b = 0;
        double ms = 0;
        char range[128];
        if (sscanf(line, "%15s %127s %lf", word, range, &ms) < 2) continue;
        if (sscanf(range, "%llu-%llu", &a, &b) != 2) b = a = strtoull(range, NULL, 10);
        struct rule r = {BAD, a, b, ms, 0};
        if (!strcmp(word, "bad")) r.kind = BAD;
        else if (!strcmp(word, "slow")) r.kind = SLOW;
        else if (!strcmp(word, "dies")) r.kind = DIES;
        else if (!strcmp(word, "kill")) r.kind = KILL;
        else if (!strcmp(word, "worn")) r.kind = WORN;
        else continue;
        rules[rule_count++] = r;
    }
    fclose(f);
}

static int fs_getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
    (void)fi;
    memset(st, 0, sizeof *st);
    if (!strcmp(path, "/")) {
        st->st_mode = S_IFDIR | 0755;
        st->st_nlink = 2;
        return 0;
    }
    if (strcmp(path, "/card.img")) return -ENOENT;
    struct stat img;
    if (fstat(image_fd, &img) != 0) return -EIO;
    st->st_mode = S_IFREG | 0444;
    st->st_nlink = 1;
    st->st_size = img.st_size;
    return 0;
}

static int fs_readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t off, struct fuse_file_info* fi,
                      enum fuse_readdir_flags flags) {
    (void)off, (void)fi, (void)flags;
    if (strcmp(path, "/")) return -ENOENT;
    fill(buf, ".", NULL, 0, 0);
    fill(buf, "..", NULL, 0, 0);
    fill(buf, "card.img", NULL, 0, 0);
    return 0;
}

static int fs_open(const char* path, struct fuse_file_info* fi) {
    if (strcmp(path, "/card.img")) return -ENOENT;
    if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
    fi->direct_io = 1;  // every read reaches us, at the size asked
    return 0;
}

static int fs_read(const char* path, char* buf, size_t size, off_t off, struct fuse_file_info* fi) {
    (void)path, (void)fi;
    if (size == 0) return 0;
    const unsigned long long first = (unsigned long long)off / 512, last = ((unsigned long long)off + size - 1) / 512;
    double sleep_ms = 0;
    int fail = 0;
    pthread_mutex_lock(&lock);
    load_rules();
    for (int i = 0; i < rule_count; ++i) {
        struct rule* r = &rules[i];
        const int touches = r->first <= last && r->last >= first;
        if (r->kind == DIES && last >= r->first) dead = 1;
        if (!touches) continue;
        if (r->kind == BAD) fail = 1;
        if (r->kind == SLOW && r->ms > sleep_ms) sleep_ms = r->ms;
        if (r->kind == WORN && r->reads++ > 0 && r->ms > sleep_ms) sleep_ms = r->ms;
        if (r->kind == KILL) {
            const pid_t pid = fuse_get_context()->pid;
            if (pid > 1) kill(pid, SIGKILL);
            fail = 1;
        }
    }
    if (dead) fail = 1;
    pthread_mutex_unlock(&lock);
    if (sleep_ms > 0) {
        char waits[4096];
        snprintf(waits, sizeof waits, "%s.waits", control_path);
        const int w = open(waits, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (w >= 0) {
            (void)!write(w, "w", 1);
            close(w);
        }
        const long ns = (long)(sleep_ms * 1e6);
        struct timespec t = {ns / 1000000000L, ns % 1000000000L};
        nanosleep(&t, NULL);
    }
    if (fail) return -EIO;
    const ssize_t n = pread(image_fd, buf, size, off);
    return n < 0 ? -errno : (int)n;
}

static const struct fuse_operations ops = {
    .getattr = fs_getattr,
    .readdir = fs_readdir,
    .open = fs_open,
    .read = fs_read,
};

int main(int argc, char* argv[]) {
    if (argc < 4) {
        fprintf(stderr, "usage: %s IMAGE CONTROL MOUNTPOINT [fuse options]\n", argv[0]);
        return 2;
    }
    image_path = argv[1];
    control_path = argv[2];
    image_fd = open(image_path, O_RDONLY | O_CLOEXEC);
    if (image_fd < 0) {
        perror(image_path);
        return 1;
    }
    argv[2] = argv[0];
    return fuse_main(argc - 2, argv + 2, &ops, NULL);
}
