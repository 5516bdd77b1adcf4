// qor_forgetful_fs: a passthrough FUSE file system over a folder that keeps,
// for every file and folder, what would survive a power cut under the strict
// rules POSIX gives and no more, and that can be cut like one:
//
//   qor_forgetful_fs -o control=SOCKET [-o OPTION...] FOLDER MOUNTPOINT [FUSE options]
//   qor_forgetful_fs --cut SOCKET
//
// What is durable:
// - a file's bytes, size, mode, owner and times once it is fsync'ed through
//   the mount (fdatasync: its bytes and size only); a close (flush) promises
//   nothing;
// - the names in a folder (made by create, mknod, mkdir, link, symlink,
//   rename, taken by unlink, rmdir, rename) once that folder is fsync'ed
//   through the mount: a rename needs both folders synced, the source folder
//   for the old name to go and the target for the new one to stay. A folder's
//   own mode and times become durable at its fsync too;
// - whatever FOLDER holds when the layer starts.
// syncfs(2) and sync(2) on the mount are not handed to a FUSE file system by
// the kernel, so they make nothing durable here (on some real file systems
// they would).
//
// How: the layer keeps the durable state beside the folder, in a shadow
// folder (-o shadow=PATH, an empty folder; else a fresh temporary folder,
// removed at the end). Every file and folder that has something durable is an
// object: its durable attributes in memory, a regular file's durable bytes in
// the shadow folder under the object's number, a folder's durable names as a
// table name -> object. A live file is known by its inode number beneath, so
// that its durable data follows the file, not the name: after a rename or a
// link the names made durable by a folder's fsync lead to the same object, and
// hard links stay one file. At a folder's fsync its durable names become
// exactly its live names; a name whose file had nothing durable yet gets a new
// object with the file's attributes of that moment and no bytes (a symbolic
// link its target). A folder left durably under two names (moved, and both
// folders synced at different times) comes back under one of them only.
// A file keeps the number it is shown under (st_ino) through a cut, as on a
// disk, though the folder beneath is made anew.
// Extended attributes and change times are not kept: after a cut a file has
// none, and the time of the cut as its change time. FOLDER must not be
// changed but through the mount while the layer runs.
//
// The cut: `qor_forgetful_fs --cut SOCKET` (or a connection to SOCKET that
// sends "cut\n") makes the layer wait for the requests under way, hold back
// new ones, throw away everything not durable, and rebuild FOLDER's content
// from the durable objects; then it answers "ok" (the client exits 0) and
// serves again, as a machine does after a power cut and a reboot. Files that
// were open before the cut stay dead: every request on them fails with EIO.
// A cut can also land at an exact step of a program's work: "freeze-after N"
// stops the layer right before its Nth request from then on that changes
// something or makes it durable (requests that come then wait), "frozen"
// tells whether it stopped and before what, and the cut that follows fails
// the waiting requests with EIO (their process is gone with the power).
// "cut PID" also fails every later request of the process PID, until the
// next freeze is armed: a request that process sent before the cut can
// reach the layer only after it (the kernel had it queued when the process
// was killed), and must not happen on the machine that came back. So does
// any request that the layer let through before a cut but that reached the
// folder beneath only after it (its thread kept from running on by the
// machine's load): it fails with EIO, and "late" counts it.
//
// Options that make it behave as some network file systems do:
//   no_rename_noreplace   a rename with RENAME_NOREPLACE fails with EINVAL;
//   no_links              link(2) fails with EPERM (as Linux's own file
//                         systems do where there are no hard links);
//   keep_ctime_on_rename  a renamed file keeps its change time (until
//                         something else changes it);
//   delay_us=N            every request waits N µs first, as on a share;
//   gap_us=N              one step in 32 waits up to N µs (at random)
//                         between the freeze's check and the gate, as its
//                         thread may on a loaded machine: the loop tries that
//                         interleaving far more often then.
// Mounting needs root; `umount MOUNTPOINT` ends it.
#define FUSE_USE_VERSION 314

#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <linux/fs.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/un.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

// What survives a cut of one file or folder.
struct Object {
  mode_t mode = 0;  // with the type
  uid_t uid = 0;
  gid_t gid = 0;
  dev_t rdev = 0;
  timespec atime{};
  timespec mtime{};
  bool has_bytes = false;                   // the shadow folder holds its bytes
  std::string target;                       // a symbolic link's
  std::map<std::string, uint64_t> entries;  // a folder's durable names
  uint64_t ino = 0;                         // the number it is shown under
};

// What the layer knows of a live inode beneath.
struct Live {
  uint64_t object = 0;  // 0: nothing durable yet
  int opens = 0;
  bool unnamed = false;  // its last name is gone, handles on it are still open
  bool ctime_kept = false;
  timespec ctime_before{};  // reported while the inode's ctime is ctime_after
  timespec ctime_after{};
};

struct Layer {
  timespec delay{};
  int gap_us = 0;
  int folder = -1;  // the folder beneath, opened before the mount may hide it
  int shadow = -1;  // the durable bytes
  int control = -1;
  bool no_rename_noreplace = false;
  bool no_links = false;
  bool keep_ctime_on_rename = false;
  // Every request holds it shared, a cut exclusively; writers first, so that
  // a cut is not put off forever by a stream of requests.
  pthread_rwlock_t gate;
  uint64_t generation = 0;  // of the cuts; changed under the exclusive gate
  std::mutex model;         // guards what follows
  std::unordered_map<uint64_t, Object> objects;
  uint64_t next_object = 1;
  uint64_t root = 0;
  std::unordered_map<ino_t, Live> live;
  // The numbers files are shown under, by their number beneath, which a cut
  // changes: a file keeps its number through a cut, as on a disk.
  std::unordered_map<ino_t, uint64_t> shown;
  uint64_t next_shown = 2;
};

Layer g;

// A freeze (the control's "freeze-after N") stops the layer right before its
// Nth step from then on, as a power cut stops a disk between two requests: a
// step is a request that changes something or makes it durable. Requests that
// come while the layer is frozen wait, and after the cut that ends the freeze
// they fail with EIO: they came from the machine that lost its power.
struct Freeze {
  std::mutex mutex;
  std::condition_variable thawed;
  uint64_t steps = 0;  // counted since the layer started
  uint64_t at = 0;     // the step to freeze before; 0: none asked
  bool frozen = false;
  std::string before;  // the step it froze before: "OP PATH"
  // The process that lost its power at the last cut ("cut PID"), until the
  // next freeze is armed: the kernel may hand on a request it sent before
  // the cut only after it, and that request must fail, not happen.
  pid_t dead_process = 0;
  // The cuts begun so far, and the requests that were let through before
  // one began but reached the folder beneath only after it ("late").
  uint64_t cuts = 0;
  uint64_t late = 0;
  // "hold-next": the next step let through waits right there, before the
  // gate, until "let-go": as a thread of the layer that the machine's load
  // kept from running on while a cut came and went.
  bool hold_next = false;
  bool holding = false;
  std::condition_variable let_go;
};
Freeze freeze;

// The process (thread group) the thread `tid` belongs to; 0 when unknown.
pid_t process_of(pid_t tid) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(tid));
  FILE* status = std::fopen(path, "re");
  if (status == nullptr) return 0;
  char line[256];
  pid_t process = 0;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, "Tgid:", 5) == 0) {
      process = static_cast<pid_t>(std::atoi(line + 5));
      break;
    }
  }
  std::fclose(status);
  return process;
}

// How a request takes part in a freeze.
enum class Kind { kLook, kStep, kHousekeeping };

// The last requests, in memory (a trace written as they come slows the
// layer enough to hide the interleavings it is meant to show) since the
// last freeze was armed; "trace" hands them out, oldest first.
struct Trace {
  struct Entry {
    uint64_t generation;
    int64_t ns;
    pid_t tid;
    bool dead;
    char op[16];
    char path[112];
  };
  static constexpr size_t kSize = 1 << 16;
  std::mutex mutex;
  std::vector<Entry> entries = std::vector<Entry>(kSize);
  uint64_t next = 0;
  void add(const char* op, const char* path, pid_t tid, bool dead) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::lock_guard<std::mutex> lock(mutex);
    Entry& e = entries[next++ % kSize];
    e.generation = g.generation;
    e.ns = int64_t(now.tv_sec) * 1000000000 + now.tv_nsec;
    e.tid = tid;
    e.dead = dead;
    std::snprintf(e.op, sizeof e.op, "%s", op);
    std::snprintf(e.path, sizeof e.path, "%s", path != nullptr ? path : "");
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex);
    next = 0;
  }
  std::string take() {
    std::lock_guard<std::mutex> lock(mutex);
    std::string text;
    const uint64_t first = next > kSize ? next - kSize : 0;
    for (uint64_t i = first; i < next; ++i) {
      const Entry& e = entries[i % kSize];
      char line[256];
      std::snprintf(line, sizeof line, "%lld g%llu %d %s%s %s\n", static_cast<long long>(e.ns),
                    static_cast<unsigned long long>(e.generation), static_cast<int>(e.tid),
                    e.dead ? "DEAD " : "", e.op, e.path);
      text += line;
    }
    next = 0;
    return text;
  }
};
Trace trace;

class Request {
 public:
  // A look waits out a freeze, a step can start one; housekeeping (a close
  // the kernel hands on for a process) neither.
  explicit Request(Kind kind = Kind::kLook, const char* op = "", const char* path = nullptr) {
    timespec left = g.delay;
    if (left.tv_sec != 0 || left.tv_nsec != 0) {
      while (clock_nanosleep(CLOCK_MONOTONIC, 0, &left, &left) == EINTR) {
      }
    }
    const fuse_context* caller = fuse_get_context();
    const pid_t tid = caller != nullptr ? caller->pid : 0;
    uint64_t cuts_seen = 0;
    if (kind != Kind::kHousekeeping) {
      std::unique_lock<std::mutex> lock(freeze.mutex);
      cuts_seen = freeze.cuts;
      if (kind == Kind::kStep && !freeze.frozen && ++freeze.steps == freeze.at) {
        freeze.frozen = true;
        freeze.before = std::string(op) + " " + (path != nullptr ? path : "(open file)");
      }
      if (freeze.frozen) {
        freeze.thawed.wait(lock, [] { return !freeze.frozen; });
        dead_ = true;
      } else if (freeze.dead_process != 0) {
        dead_ = caller != nullptr && process_of(caller->pid) == freeze.dead_process;
      }
      if (kind == Kind::kStep && !dead_ && freeze.hold_next) {
        freeze.hold_next = false;
        freeze.holding = true;
        freeze.let_go.wait(lock, [] { return !freeze.holding; });
      }
    }
    if (g.gap_us > 0 && kind == Kind::kStep && std::rand() % 32 == 0) {
      // As a thread that the machine's load keeps from running on between
      // the freeze's check and the gate, now and then.
      const long us = std::rand() % g.gap_us;
      const timespec gap = {us / 1000000, (us % 1000000) * 1000L};
      clock_nanosleep(CLOCK_MONOTONIC, 0, &gap, nullptr);
    }
    pthread_rwlock_rdlock(&g.gate);
    if (kind != Kind::kHousekeeping && !dead_) {
      // A request let through before a cut that waited for the gate while
      // the cut held it would happen on the machine that came back: it came
      // from the one that lost its power, and fails as the others do.
      std::lock_guard<std::mutex> lock(freeze.mutex);
      if (freeze.cuts != cuts_seen) {
        dead_ = true;
        ++freeze.late;
      }
    }
    trace.add(op, path, tid, dead_);
  }
  ~Request() { pthread_rwlock_unlock(&g.gate); }
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;
  // It waited out a cut: nothing of it may happen.
  bool dead() const { return dead_; }

 private:
  bool dead_ = false;
};

// Every request starts so; a step names itself for the freeze's answer.
#define LOOK()                                  \
  Request request(Kind::kLook, __func__, path); \
  if (request.dead()) return -EIO
#define STEP(op, path)                    \
  Request request(Kind::kStep, op, path); \
  if (request.dead()) return -EIO

const char* rel(const char* path) {
  return path[1] != '\0' ? path + 1 : ".";
}

int status(int result) {
  return result == -1 ? -errno : 0;
}

struct Handle {
  int fd;
  uint64_t generation;
  ino_t ino;
  std::string path;  // the name it was opened by, for a freeze's answer
};

struct Dir {
  DIR* stream;
  uint64_t generation;
  std::string path;         // as Handle's
  dirent* entry = nullptr;  // read, but not yet taken by the kernel's buffer
  off_t offset = 0;
};

Handle* handle_of(const fuse_file_info* fi) {
  return reinterpret_cast<Handle*>(fi->fh);
}

Dir* dir_of(const fuse_file_info* fi) {
  return reinterpret_cast<Dir*>(fi->fh);
}

// A handle opened before the last cut belongs to a process that died in it.
bool stale(const Handle* h) {
  return h->generation != g.generation;
}

bool same_time(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// --- The durable state (all under g.model) ----------------------------------

void take_attributes(Object& object, const struct stat& st) {
  object.mode = st.st_mode;
  object.uid = st.st_uid;
  object.gid = st.st_gid;
  object.rdev = st.st_rdev;
  object.atime = st.st_atim;
  object.mtime = st.st_mtim;
}

// The object of a live inode, made (with the inode's attributes of now and
// nothing else) if it has none yet.
// The number the file numbered `beneath` is shown under (g.model held).
uint64_t shown_locked(ino_t beneath) {
  uint64_t& shown = g.shown[beneath];
  if (shown == 0) shown = g.next_shown++;
  return shown;
}

uint64_t object_of(const struct stat& st, bool* fresh) {
  Live& live = g.live[st.st_ino];
  *fresh = false;
  if (live.object != 0) {
    const auto found = g.objects.find(live.object);
    if (found != g.objects.end() && (found->second.mode & S_IFMT) == (st.st_mode & S_IFMT)) {
      return live.object;
    }
  }
  live.object = g.next_object++;
  take_attributes(g.objects[live.object], st);
  g.objects[live.object].ino = shown_locked(st.st_ino);
  *fresh = true;
  return live.object;
}

// The inode lost its last name: once nothing holds it its number may come
// back for another file, which must not inherit its durable state.
void forget(ino_t ino) {
  const auto found = g.live.find(ino);
  if (found == g.live.end()) return;
  if (found->second.opens > 0) {
    found->second.unnamed = true;
  } else {
    g.live.erase(found);
  }
}

std::string image_name(uint64_t id) {
  return std::to_string(id);
}

int copy_bytes(int from, int to) {
  std::vector<char> buffer(1 << 20);
  off_t offset = 0;
  for (;;) {
    const ssize_t n = pread(from, buffer.data(), buffer.size(), offset);
    if (n == 0) return 0;
    if (n == -1) {
      if (errno == EINTR) continue;
      return -errno;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = write(to, buffer.data() + done, size_t(n - done));
      if (w == -1) {
        if (errno == EINTR) continue;
        return -errno;
      }
      done += w;
    }
    offset += n;
  }
}

// The file's bytes of now become the object's durable bytes. The descriptor
// may be open for writing only, so the file is opened again to be read.
int take_bytes(uint64_t id, int fd) {
  const std::string own = "/proc/self/fd/" + std::to_string(fd);
  const int from = open(own.c_str(), O_RDONLY | O_CLOEXEC);
  if (from == -1) return -errno;
  const std::string name = image_name(id);
  const std::string draft = name + ".new";
  const int to = openat(g.shadow, draft.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  int result = to == -1 ? -errno : copy_bytes(from, to);
  close(from);
  if (to != -1) close(to);
  if (result == 0) result = status(renameat(g.shadow, draft.c_str(), g.shadow, name.c_str()));
  if (result != 0) {
    unlinkat(g.shadow, draft.c_str(), 0);
    return result;
  }
  g.objects[id].has_bytes = true;
  return 0;
}

// The folder's names of now become its durable names (and, for the state the
// layer starts from, everything beneath it becomes durable as well).
int take_folder(int fd, bool whole_tree, uint64_t* id_out) {
  struct stat st {};
  if (fstat(fd, &st) != 0) return -errno;
  bool fresh = false;
  const uint64_t id = object_of(st, &fresh);
  take_attributes(g.objects[id], st);
  if (id_out != nullptr) *id_out = id;
  const int copy = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (copy == -1) return -errno;
  DIR* stream = fdopendir(copy);
  if (stream == nullptr) {
    close(copy);
    return -errno;
  }
  std::map<std::string, uint64_t> names;
  int result = 0;
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(stream);
    if (entry == nullptr) {
      result = -errno;
      break;
    }
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    struct stat child {};
    if (fstatat(copy, name, &child, AT_SYMLINK_NOFOLLOW) != 0) {
      if (errno == ENOENT) continue;
      result = -errno;
      break;
    }
    bool child_fresh = false;
    const uint64_t child_id = object_of(child, &child_fresh);
    names[name] = child_id;
    if (S_ISLNK(child.st_mode) && child_fresh) {
      std::string target(size_t(child.st_size) + 1, '\0');
      const ssize_t n = readlinkat(copy, name, target.data(), target.size());
      if (n == -1) {
        result = -errno;
        break;
      }
      target.resize(size_t(n));
      g.objects[child_id].target = std::move(target);
    }
    if (!whole_tree || !child_fresh) continue;
    if (S_ISREG(child.st_mode)) {
      const int file = openat(copy, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
      result = file == -1 ? -errno : take_bytes(child_id, file);
      if (file != -1) close(file);
    } else if (S_ISDIR(child.st_mode)) {
      const int sub = openat(copy, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      result = sub == -1 ? -errno : take_folder(sub, true, nullptr);
      if (sub != -1) close(sub);
    }
    if (result != 0) break;
  }
  closedir(stream);
  if (result == 0) g.objects[id].entries = std::move(names);
  return result;
}

// --- The cut -------------------------------------------------------------------

int remove_content(int fd) {
  const int copy = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (copy == -1) return -errno;
  DIR* stream = fdopendir(copy);
  if (stream == nullptr) {
    close(copy);
    return -errno;
  }
  std::vector<std::string> names;
  while (const dirent* entry = readdir(stream)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      names.emplace_back(entry->d_name);
    }
  }
  int result = 0;
  for (const std::string& name : names) {
    struct stat st {};
    if (fstatat(copy, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      const int sub = openat(copy, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub == -1) return -errno;
      result = remove_content(sub);
      close(sub);
      if (result == 0) result = status(unlinkat(copy, name.c_str(), AT_REMOVEDIR));
    } else {
      result = status(unlinkat(copy, name.c_str(), 0));
    }
    if (result != 0) break;
  }
  closedir(stream);
  return result;
}

bool empty(int fd) {
  const int copy = openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* stream = copy == -1 ? nullptr : fdopendir(copy);
  if (stream == nullptr) {
    if (copy != -1) close(copy);
    return false;
  }
  bool none = true;
  while (const dirent* entry = readdir(stream)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) none = false;
  }
  closedir(stream);
  return none;
}

struct Rebuild {
  std::unordered_map<uint64_t, std::string> placed;  // object -> its first path
};

void note_live(int parent, const char* name, uint64_t id) {
  struct stat st {};
  if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  g.live[st.st_ino].object = id;
  uint64_t& ino = g.objects[id].ino;
  if (ino == 0) ino = g.next_shown++;
  g.shown[st.st_ino] = ino;
}

int set_attributes(int fd, const Object& object) {
  const timespec times[2] = {object.atime, object.mtime};
  if (fchown(fd, object.uid, object.gid) != 0 && errno != EPERM) return -errno;
  if (fchmod(fd, object.mode & 07777) != 0) return -errno;
  return status(futimens(fd, times));
}

int rebuild_folder(Rebuild& rebuild, int fd, const std::string& path, const Object& folder) {
  for (const auto& [name, id] : folder.entries) {
    const auto found = g.objects.find(id);
    if (found == g.objects.end()) continue;
    const Object& object = found->second;
    const char* at = name.c_str();
    const auto first = rebuild.placed.find(id);
    if (first != rebuild.placed.end()) {
      // Another durable name of a file placed already is a hard link; a
      // folder named twice (renamed, both folders synced at different
      // times) keeps its first name only.
      if (!S_ISDIR(object.mode) && linkat(g.folder, first->second.c_str(), fd, at, 0) != 0) {
        return -errno;
      }
      continue;
    }
    const std::string own_path = path + name;
    rebuild.placed.emplace(id, own_path);
    int result = 0;
    if (S_ISREG(object.mode)) {
      const int file = openat(fd, at, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (file == -1) return -errno;
      if (object.has_bytes) {
        const int image = openat(g.shadow, image_name(id).c_str(), O_RDONLY | O_CLOEXEC);
        result = image == -1 ? -errno : copy_bytes(image, file);
        if (image != -1) close(image);
      }
      if (result == 0) result = set_attributes(file, object);
      close(file);
    } else if (S_ISDIR(object.mode)) {
      if (mkdirat(fd, at, 0700) != 0) return -errno;
      const int sub = openat(fd, at, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (sub == -1) return -errno;
      result = rebuild_folder(rebuild, sub, own_path + "/", object);
      if (result == 0) result = set_attributes(sub, object);
      close(sub);
    } else if (S_ISLNK(object.mode)) {
      const timespec times[2] = {object.atime, object.mtime};
      if (symlinkat(object.target.c_str(), fd, at) != 0 ||
          (fchownat(fd, at, object.uid, object.gid, AT_SYMLINK_NOFOLLOW) != 0 && errno != EPERM) ||
          utimensat(fd, at, times, AT_SYMLINK_NOFOLLOW) != 0) {
        return -errno;
      }
    } else {
      const timespec times[2] = {object.atime, object.mtime};
      if (mknodat(fd, at, object.mode, object.rdev) != 0 ||
          (fchownat(fd, at, object.uid, object.gid, AT_SYMLINK_NOFOLLOW) != 0 && errno != EPERM) ||
          fchmodat(fd, at, object.mode & 07777, 0) != 0 ||
          utimensat(fd, at, times, AT_SYMLINK_NOFOLLOW) != 0) {
        return -errno;
      }
    }
    if (result != 0) return result;
    note_live(fd, at, id);
  }
  return 0;
}

// Throws away all that is not durable and leaves the folder beneath as the
// durable state describes it; answers what the control socket replies.
std::string cut(pid_t dead_process) {
  trace.add("CUT", std::to_string(dead_process).c_str(), 0, false);
  {
    std::lock_guard<std::mutex> lock(freeze.mutex);
    freeze.dead_process = dead_process;
    ++freeze.cuts;
  }
  pthread_rwlock_wrlock(&g.gate);
  std::string reply = "ok\n";
  {
    std::lock_guard<std::mutex> lock(g.model);
    ++g.generation;
    g.live.clear();
    g.shown.clear();
    int result = remove_content(g.folder);
    Rebuild rebuild;
    rebuild.placed.emplace(g.root, "");
    const Object& root = g.objects[g.root];
    if (result == 0) result = rebuild_folder(rebuild, g.folder, "", root);
    if (result == 0) result = set_attributes(g.folder, root);
    note_live(g.folder, ".", g.root);
    // Objects no durable name leads to any more are gone for good.
    for (auto it = g.objects.begin(); it != g.objects.end();) {
      if (rebuild.placed.count(it->first) != 0) {
        ++it;
        continue;
      }
      if (it->second.has_bytes) unlinkat(g.shadow, image_name(it->first).c_str(), 0);
      it = g.objects.erase(it);
    }
    if (result != 0) reply = std::string("error: ") + std::strerror(-result) + "\n";
  }
  pthread_rwlock_unlock(&g.gate);
  {
    std::lock_guard<std::mutex> lock(freeze.mutex);
    freeze.frozen = false;
    freeze.at = 0;
  }
  freeze.thawed.notify_all();
  return reply;
}

// The control's commands but the cut: "freeze-after N" (N >= 1 steps from
// now; "armed"), "steps" (counted so far), "frozen" ("no", or "yes OP PATH"),
// "late" (requests failed as late, see Request), "hold-next", "held" and
// "let-go" (see Freeze), "trace" (see Trace).
std::string answer(const std::string& request) {
  std::lock_guard<std::mutex> lock(freeze.mutex);
  if (request == "steps") return std::to_string(freeze.steps) + "\n";
  if (request == "late") return std::to_string(freeze.late) + "\n";
  if (request == "hold-next") {
    freeze.hold_next = true;
    return "armed\n";
  }
  if (request == "held") return freeze.holding ? "yes\n" : "no\n";
  if (request == "let-go") {
    freeze.holding = false;
    freeze.let_go.notify_all();
    return "ok\n";
  }
  if (request == "frozen") return freeze.frozen ? "yes " + freeze.before + "\n" : "no\n";
  const std::string arm = "freeze-after ";
  if (request.compare(0, arm.size(), arm) == 0) {
    char* end = nullptr;
    const unsigned long long n = std::strtoull(request.c_str() + arm.size(), &end, 10);
    if (n == 0 || end == nullptr || *end != '\0' || freeze.frozen) {
      return "error: freeze-after needs a number of steps from 1 on, and no freeze under way\n";
    }
    freeze.at = freeze.steps + n;
    freeze.dead_process = 0;  // long gone: the run after the cut has ended
    trace.clear();            // a fresh run to trace
    return "armed\n";
  }
  return "error: the commands are \"cut [PID]\", \"freeze-after N\", \"steps\", \"frozen\", "
         "\"late\", \"hold-next\", \"held\", \"let-go\" and \"trace\"\n";
}

void serve_control() {
  for (;;) {
    const int client = accept4(g.control, nullptr, nullptr, SOCK_CLOEXEC);
    if (client == -1) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    std::string request;
    char buffer[64];
    for (;;) {
      const ssize_t n = read(client, buffer, sizeof buffer);
      if (n <= 0) break;
      request.append(buffer, size_t(n));
      if (request.find('\n') != std::string::npos || request.size() > 256) break;
    }
    while (!request.empty() && (request.back() == '\n' || request.back() == '\r')) {
      request.pop_back();
    }
    std::string reply;
    if (request == "trace") {
      reply = trace.take();
    } else if (request == "cut") {
      reply = cut(0);
    } else if (request.compare(0, 4, "cut ") == 0) {
      reply = cut(static_cast<pid_t>(std::atoi(request.c_str() + 4)));
    } else {
      reply = answer(request);
    }
    for (size_t done = 0; done < reply.size();) {
      const ssize_t n = write(client, reply.data() + done, reply.size() - done);
      if (n <= 0) break;
      done += size_t(n);
    }
    close(client);
  }
}

// --- The file system ---------------------------------------------------------

void* layer_init(fuse_conn_info*, fuse_config* cfg) {
  cfg->use_ino = 1;
  cfg->hard_remove = 1;
  cfg->nullpath_ok = 1;
  if (fchdir(g.folder) != 0) {
    std::perror("qor_forgetful_fs: the folder beneath");
    fuse_exit(fuse_get_context()->fuse);
  }
  // After the library went to the background (if it does), so that the
  // thread is in the process that serves.
  std::thread(serve_control).detach();
  return &g;
}

void report_ctime(struct stat* st) {
  if (!g.keep_ctime_on_rename) return;
  std::lock_guard<std::mutex> lock(g.model);
  const auto found = g.live.find(st->st_ino);
  if (found == g.live.end() || !found->second.ctime_kept) return;
  if (same_time(st->st_ctim, found->second.ctime_after)) {
    st->st_ctim = found->second.ctime_before;
  } else {
    found->second.ctime_kept = false;  // changed since by something else
  }
}

int layer_getattr(const char* path, struct stat* st, fuse_file_info* fi) {
  LOOK();
  if (fi != nullptr && stale(handle_of(fi))) return -EIO;
  if ((fi != nullptr ? fstat(handle_of(fi)->fd, st) : lstat(rel(path), st)) != 0) return -errno;
  report_ctime(st);
  std::lock_guard<std::mutex> lock(g.model);
  st->st_ino = shown_locked(st->st_ino);
  return 0;
}

int layer_access(const char* path, int mask) {
  LOOK();
  return status(access(rel(path), mask));
}

int layer_readlink(const char* path, char* buffer, size_t size) {
  LOOK();
  const ssize_t n = readlink(rel(path), buffer, size - 1);
  if (n == -1) return -errno;
  buffer[n] = '\0';
  return 0;
}

int layer_mknod(const char* path, mode_t mode, dev_t device) {
  STEP("mknod", path);
  return status(mknod(rel(path), mode, device));
}

int layer_mkdir(const char* path, mode_t mode) {
  STEP("mkdir", path);
  return status(mkdir(rel(path), mode));
}

int layer_symlink(const char* target, const char* path) {
  STEP("symlink", path);
  return status(symlink(target, rel(path)));
}

// Removing a name: the model lock is held across, so that the count of links
// looked at before is still the count when the name goes.
int layer_unlink(const char* path) {
  STEP("unlink", path);
  std::lock_guard<std::mutex> lock(g.model);
  struct stat st {};
  const bool known = lstat(rel(path), &st) == 0;
  if (unlink(rel(path)) != 0) return -errno;
  if (known && st.st_nlink <= 1) forget(st.st_ino);
  return 0;
}

int layer_rmdir(const char* path) {
  STEP("rmdir", path);
  std::lock_guard<std::mutex> lock(g.model);
  struct stat st {};
  const bool known = lstat(rel(path), &st) == 0;
  if (rmdir(rel(path)) != 0) return -errno;
  if (known) forget(st.st_ino);
  return 0;
}

// The change time a file had before it moved (with keep_ctime_on_rename).
void keep_ctime(const struct stat& before, const char* now_at) {
  struct stat after {};
  if (lstat(now_at, &after) != 0 || after.st_ino != before.st_ino) return;
  Live& live = g.live[before.st_ino];
  timespec reported = before.st_ctim;
  if (live.ctime_kept && same_time(before.st_ctim, live.ctime_after)) reported = live.ctime_before;
  live.ctime_kept = true;
  live.ctime_before = reported;
  live.ctime_after = after.st_ctim;
}

int layer_rename(const char* from, const char* to, unsigned int flags) {
  STEP("rename", from);
  trace.add("rename-to", to, 0, false);
  if ((flags & ~unsigned{RENAME_NOREPLACE | RENAME_EXCHANGE}) != 0) return -EINVAL;  // whiteout
  if ((flags & RENAME_NOREPLACE) != 0 && g.no_rename_noreplace) return -EINVAL;
  std::lock_guard<std::mutex> lock(g.model);
  struct stat source {};
  struct stat victim {};
  const bool has_source = lstat(rel(from), &source) == 0;
  const bool has_victim = lstat(rel(to), &victim) == 0;
  if (renameat2(AT_FDCWD, rel(from), AT_FDCWD, rel(to), flags) != 0) return -errno;
  const bool exchange = (flags & RENAME_EXCHANGE) != 0;
  if (!exchange && has_source && has_victim && victim.st_ino != source.st_ino &&
      (S_ISDIR(victim.st_mode) || victim.st_nlink <= 1)) {
    forget(victim.st_ino);
  }
  if (g.keep_ctime_on_rename && has_source) {
    keep_ctime(source, rel(to));
    if (exchange && has_victim) keep_ctime(victim, rel(from));
  }
  return 0;
}

int layer_link(const char* from, const char* to) {
  STEP("link", from);
  if (g.no_links) return -EPERM;
  return status(link(rel(from), rel(to)));
}

int layer_chmod(const char* path, mode_t mode, fuse_file_info* fi) {
  STEP("chmod", path);
  if (fi != nullptr && stale(handle_of(fi))) return -EIO;
  return status(fi != nullptr ? fchmod(handle_of(fi)->fd, mode) : chmod(rel(path), mode));
}

int layer_chown(const char* path, uid_t uid, gid_t gid, fuse_file_info* fi) {
  STEP("chown", path);
  if (fi != nullptr && stale(handle_of(fi))) return -EIO;
  return status(fi != nullptr ? fchown(handle_of(fi)->fd, uid, gid) : lchown(rel(path), uid, gid));
}

int layer_truncate(const char* path, off_t size, fuse_file_info* fi) {
  STEP("truncate", path);
  if (fi != nullptr && stale(handle_of(fi))) return -EIO;
  return status(fi != nullptr ? ftruncate(handle_of(fi)->fd, size) : truncate(rel(path), size));
}

int layer_utimens(const char* path, const timespec times[2], fuse_file_info* fi) {
  STEP("utimens", path);
  if (fi != nullptr && stale(handle_of(fi))) return -EIO;
  return status(fi != nullptr ? futimens(handle_of(fi)->fd, times)
                              : utimensat(AT_FDCWD, rel(path), times, AT_SYMLINK_NOFOLLOW));
}

int opened(int fd, const char* path, fuse_file_info* fi) {
  if (fd == -1) return -errno;
  struct stat st {};
  fstat(fd, &st);
  {
    std::lock_guard<std::mutex> lock(g.model);
    // A file made now is new: nothing of a file that had its number before
    // is its own.
    if ((fi->flags & O_EXCL) != 0) g.live.erase(st.st_ino);
    ++g.live[st.st_ino].opens;
  }
  fi->fh = reinterpret_cast<uint64_t>(new Handle{fd, g.generation, st.st_ino, path});
  return 0;
}

int layer_create(const char* path, mode_t mode, fuse_file_info* fi) {
  STEP("create", path);
  return opened(open(rel(path), fi->flags, mode), path, fi);
}

int layer_open(const char* path, fuse_file_info* fi) {
  LOOK();
  return opened(open(rel(path), fi->flags), path, fi);
}

int layer_read(const char* path, char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
  LOOK();
  const Handle* h = handle_of(fi);
  if (stale(h)) return -EIO;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pread(h->fd, buffer + done, size - done, offset + off_t(done));
    if (n == 0) break;
    if (n == -1) {
      if (errno == EINTR) continue;
      return -errno;
    }
    done += size_t(n);
  }
  return int(done);
}

int layer_write(const char* path, const char* buffer, size_t size, off_t offset,
                fuse_file_info* fi) {
  STEP("write", path != nullptr ? path : handle_of(fi)->path.c_str());
  const Handle* h = handle_of(fi);
  if (stale(h)) return -EIO;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = pwrite(h->fd, buffer + done, size - done, offset + off_t(done));
    if (n == -1) {
      if (errno == EINTR) continue;
      return -errno;
    }
    done += size_t(n);
  }
  return int(done);
}

int layer_statfs(const char* path, struct statvfs* st) {
  LOOK();
  return status(statvfs(rel(path), st));
}

// Writes reach the folder beneath at once: a close (flush) has nothing to
// hand on, and promises nothing either.
int layer_flush(const char* path, fuse_file_info*) {
  Request request(Kind::kHousekeeping, "flush", path);
  return 0;
}

int layer_release(const char* path, fuse_file_info* fi) {
  Request request(Kind::kHousekeeping, "release", path);
  Handle* h = handle_of(fi);
  // Closed under the model's lock: the last descriptor of a file without
  // names frees its number beneath, and a file made meanwhile under that
  // number (ext4 hands it out again at once) must not find this one's state.
  // Closed first and counted after, that file inherited the state (its
  // durable object, "unnamed"), and its own release then dropped it while
  // the file still had its name: its bytes, made durable by an fsync, were
  // not the ones its name led to after a cut (a copy came back empty).
  std::lock_guard<std::mutex> lock(g.model);
  close(h->fd);
  if (!stale(h)) {
    const auto found = g.live.find(h->ino);
    if (found != g.live.end() && --found->second.opens <= 0) {
      const Live& live = found->second;
      if (live.unnamed || (live.object == 0 && !live.ctime_kept)) g.live.erase(found);
    }
  }
  delete h;
  return 0;
}

// The file's bytes (and, but for fdatasync, its attributes) become durable.
// The folder beneath is not synced itself: the durable state is the shadow.
int layer_fsync(const char* path, int data_only, fuse_file_info* fi) {
  STEP("fsync", path != nullptr ? path : handle_of(fi)->path.c_str());
  const Handle* h = handle_of(fi);
  if (stale(h)) return -EIO;
  std::lock_guard<std::mutex> lock(g.model);
  struct stat st {};
  if (fstat(h->fd, &st) != 0) return -errno;
  const auto found = g.live.find(st.st_ino);
  // A file without names that had nothing durable can never be found again.
  if (st.st_nlink == 0 && (found == g.live.end() || found->second.object == 0)) return 0;
  bool fresh = false;
  const uint64_t id = object_of(st, &fresh);
  if (data_only == 0) take_attributes(g.objects[id], st);
  const int taken = take_bytes(id, h->fd);
  // What became durable, for a finding's trace: the bytes, the object and
  // the number beneath.
  const std::string took = std::to_string(st.st_size) + "B o" + std::to_string(id) + " i" +
                           std::to_string(st.st_ino) + (taken != 0 ? " failed" : "");
  trace.add("took", took.c_str(), 0, false);
  return taken;
}

int layer_fallocate(const char* path, int mode, off_t offset, off_t length, fuse_file_info* fi) {
  STEP("fallocate", path != nullptr ? path : handle_of(fi)->path.c_str());
  if (stale(handle_of(fi))) return -EIO;
  return status(fallocate(handle_of(fi)->fd, mode, offset, length));
}

int layer_setxattr(const char* path, const char* name, const char* value, size_t size, int flags) {
  STEP("setxattr", path);
  return status(lsetxattr(rel(path), name, value, size, flags));
}

int layer_getxattr(const char* path, const char* name, char* value, size_t size) {
  LOOK();
  const ssize_t n = lgetxattr(rel(path), name, value, size);
  return n == -1 ? -errno : int(n);
}

int layer_listxattr(const char* path, char* list, size_t size) {
  LOOK();
  const ssize_t n = llistxattr(rel(path), list, size);
  return n == -1 ? -errno : int(n);
}

int layer_removexattr(const char* path, const char* name) {
  STEP("removexattr", path);
  return status(lremovexattr(rel(path), name));
}

int layer_opendir(const char* path, fuse_file_info* fi) {
  LOOK();
  DIR* stream = opendir(rel(path));
  if (stream == nullptr) return -errno;
  fi->fh = reinterpret_cast<uint64_t>(new Dir{stream, g.generation, path});
  return 0;
}

int layer_readdir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t offset,
                  fuse_file_info* fi, fuse_readdir_flags) {
  LOOK();
  Dir& dir = *dir_of(fi);
  if (dir.generation != g.generation) return -EIO;
  if (offset != dir.offset) {
    seekdir(dir.stream, offset);
    dir.entry = nullptr;
    dir.offset = offset;
  }
  for (;;) {
    if (dir.entry == nullptr) {
      errno = 0;
      dir.entry = readdir(dir.stream);
      if (dir.entry == nullptr) return -errno;  // 0 at the end
    }
    struct stat st {};
    {
      std::lock_guard<std::mutex> lock(g.model);
      st.st_ino = shown_locked(dir.entry->d_ino);
    }
    st.st_mode = static_cast<mode_t>(DTTOIF(dir.entry->d_type));
    const off_t next = telldir(dir.stream);
    if (fill(buffer, dir.entry->d_name, &st, next, fuse_fill_dir_flags{}) != 0) return 0;
    dir.entry = nullptr;
    dir.offset = next;
  }
}

int layer_releasedir(const char* path, fuse_file_info* fi) {
  Request request(Kind::kHousekeeping, "releasedir", path);
  Dir* dir = dir_of(fi);
  closedir(dir->stream);
  delete dir;
  return 0;
}

// The folder's names (and its own attributes) become durable.
int layer_fsyncdir(const char* path, int, fuse_file_info* fi) {
  STEP("fsyncdir", path != nullptr ? path : dir_of(fi)->path.c_str());
  const Dir* dir = dir_of(fi);
  if (dir->generation != g.generation) return -EIO;
  std::lock_guard<std::mutex> lock(g.model);
  struct stat st {};
  if (fstat(dirfd(dir->stream), &st) != 0) return -errno;
  if (st.st_nlink == 0) return 0;  // removed: no name can lead to it again
  return take_folder(dirfd(dir->stream), false, nullptr);
}

fuse_operations operations() {
  fuse_operations ops{};
  ops.getattr = layer_getattr;
  ops.readlink = layer_readlink;
  ops.mknod = layer_mknod;
  ops.mkdir = layer_mkdir;
  ops.unlink = layer_unlink;
  ops.rmdir = layer_rmdir;
  ops.symlink = layer_symlink;
  ops.rename = layer_rename;
  ops.link = layer_link;
  ops.chmod = layer_chmod;
  ops.chown = layer_chown;
  ops.truncate = layer_truncate;
  ops.open = layer_open;
  ops.read = layer_read;
  ops.write = layer_write;
  ops.statfs = layer_statfs;
  ops.flush = layer_flush;
  ops.release = layer_release;
  ops.fsync = layer_fsync;
  ops.setxattr = layer_setxattr;
  ops.getxattr = layer_getxattr;
  ops.listxattr = layer_listxattr;
  ops.removexattr = layer_removexattr;
  ops.opendir = layer_opendir;
  ops.readdir = layer_readdir;
  ops.releasedir = layer_releasedir;
  ops.fsyncdir = layer_fsyncdir;
  ops.init = layer_init;
  ops.access = layer_access;
  ops.create = layer_create;
  ops.utimens = layer_utimens;
  ops.fallocate = layer_fallocate;
  return ops;
}

// --- The command line -------------------------------------------------------------

struct Options {
  int delay_us = 0;
  int gap_us = 0;
  char* control = nullptr;
  char* shadow = nullptr;
  int no_rename_noreplace = 0;
  int no_links = 0;
  int keep_ctime_on_rename = 0;
  char* folder = nullptr;
  int help = 0;
};

enum { kHelp };

const fuse_opt kOptions[] = {
    {"delay_us=%d", offsetof(Options, delay_us), 0},
    {"gap_us=%d", offsetof(Options, gap_us), 0},
    {"control=%s", offsetof(Options, control), 0},
    {"shadow=%s", offsetof(Options, shadow), 0},
    {"no_rename_noreplace", offsetof(Options, no_rename_noreplace), 1},
    {"no_links", offsetof(Options, no_links), 1},
    {"keep_ctime_on_rename", offsetof(Options, keep_ctime_on_rename), 1},
    FUSE_OPT_KEY("-h", kHelp),
    FUSE_OPT_KEY("--help", kHelp),
    FUSE_OPT_END,
};

int take_option(void* data, const char* arg, int key, fuse_args*) {
  auto& options = *static_cast<Options*>(data);
  if (key == kHelp) {
    options.help = 1;
    return 0;
  }
  if (key == FUSE_OPT_KEY_NONOPT && options.folder == nullptr) {
    options.folder = strdup(arg);
    return 0;
  }
  return 1;
}

sockaddr_un socket_address(const char* path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path, sizeof address.sun_path - 1);
  return address;
}

// --cut SOCKET: asks the layer for a cut and waits until it is done.
int ask_for_cut(const char* program, const char* path) {
  if (std::strlen(path) >= sizeof(sockaddr_un::sun_path)) {
    std::fprintf(stderr, "%s: %s: the path is too long for a socket\n", program, path);
    return 2;
  }
  const sockaddr_un address = socket_address(path);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd == -1 || connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    std::fprintf(stderr, "%s: %s: %s\n", program, path, std::strerror(errno));
    return 2;
  }
  std::string reply;
  if (write(fd, "cut\n", 4) == 4) {
    char buffer[256];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) reply.append(buffer, size_t(n));
  }
  close(fd);
  std::fputs(reply.empty() ? "error: no answer\n" : reply.c_str(), stdout);
  return reply == "ok\n" ? 0 : 1;
}

// The library moves to / when it goes to the background and the layer into
// the folder beneath: paths used at the end must not depend on either.
std::string absolute(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  char* here = getcwd(nullptr, 0);
  if (here == nullptr) return path;
  std::string whole = std::string(here) + "/" + path;
  std::free(here);
  return whole;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc == 3 && std::strcmp(argv[1], "--cut") == 0) return ask_for_cut(argv[0], argv[2]);
  fuse_args args = FUSE_ARGS_INIT(argc, argv);
  Options options;
  if (fuse_opt_parse(&args, &options, kOptions, take_option) != 0) return 2;
  if (options.help != 0 || options.folder == nullptr || options.control == nullptr) {
    std::fprintf(options.help != 0 ? stdout : stderr,
                 "usage: %s -o control=SOCKET [-o shadow=FOLDER] [-o no_rename_noreplace]\n"
                 "         [-o no_links] [-o keep_ctime_on_rename] [-o delay_us=N]\n"
                 "         FOLDER MOUNTPOINT [FUSE options]\n"
                 "       %s --cut SOCKET\n"
                 "  Mounts FOLDER at MOUNTPOINT, keeping what an fsync made durable; --cut\n"
                 "  throws away everything else, as a power cut would.\n",
                 argv[0], argv[0]);
    return options.help != 0 ? 0 : 2;
  }
  g.no_rename_noreplace = options.no_rename_noreplace != 0;
  g.no_links = options.no_links != 0;
  g.keep_ctime_on_rename = options.keep_ctime_on_rename != 0;
  g.gap_us = options.gap_us;
  g.delay = {static_cast<time_t>(options.delay_us / 1000000),
             static_cast<long>(options.delay_us % 1000000) * 1000L};
  pthread_rwlockattr_t kind;
  pthread_rwlockattr_init(&kind);
  pthread_rwlockattr_setkind_np(&kind, PTHREAD_RWLOCK_PREFER_WRITER_NONRECURSIVE_NP);
  pthread_rwlock_init(&g.gate, &kind);

  g.folder = open(options.folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (g.folder == -1) {
    std::fprintf(stderr, "%s: %s: %s\n", argv[0], options.folder, std::strerror(errno));
    return 2;
  }
  std::string own_shadow;  // made here, removed at the end
  if (options.shadow == nullptr) {
    const char* tmp = std::getenv("TMPDIR");
    own_shadow = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/var/tmp") +
                 "/qor-forgetful-shadow.XXXXXX";
    if (mkdtemp(own_shadow.data()) == nullptr) {
      std::fprintf(stderr, "%s: %s: %s\n", argv[0], own_shadow.c_str(), std::strerror(errno));
      return 2;
    }
    own_shadow = absolute(own_shadow);
  }
  const char* shadow = options.shadow != nullptr ? options.shadow : own_shadow.c_str();
  g.shadow = open(shadow, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  int result = g.shadow == -1 ? -errno : 0;
  if (result == 0 && !empty(g.shadow)) result = -ENOTEMPTY;  // not ours to clear
  if (result == 0) {
    std::lock_guard<std::mutex> lock(g.model);
    result = take_folder(g.folder, true, &g.root);
  }
  if (result != 0) {
    std::fprintf(stderr, "%s: the state to start from (%s, %s): %s\n", argv[0], options.folder,
                 shadow, std::strerror(-result));
    return 2;
  }

  const std::string control = absolute(options.control);
  const sockaddr_un address = socket_address(options.control);
  g.control = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  unlink(options.control);  // one left by a layer that was killed
  if (std::strlen(options.control) >= sizeof address.sun_path || g.control == -1 ||
      bind(g.control, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      listen(g.control, 4) != 0) {
    std::fprintf(stderr, "%s: %s: %s\n", argv[0], options.control,
                 errno != 0 ? std::strerror(errno) : "cannot listen there");
    return 2;
  }

  // No caching in the kernel, and several requests served at a time; ahead of
  // the caller's options, so that those still win.
  fuse_opt_insert_arg(
      &args, 1,
      "-oentry_timeout=0,negative_timeout=0,attr_timeout=0,max_threads=64,max_idle_threads=64");
  const fuse_operations ops = operations();
  result = fuse_main(args.argc, args.argv, &ops, &g);
  fuse_opt_free_args(&args);
  unlink(control.c_str());
  if (!own_shadow.empty()) {
    remove_content(g.shadow);
    rmdir(own_shadow.c_str());
  }
  std::free(options.folder);
  std::free(options.control);
  std::free(options.shadow);
  return result;
}
