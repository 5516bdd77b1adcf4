#include "platform/journal_key.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"
#include "platform/ini_location.h"
#include "platform/posix/fd.h"
#include "platform/posix/file_system_abilities.h"
#include "platform/posix/run_journal.h"
#include "platform/posix/write_all.h"
#include "platform/temporary_names.h"

namespace qor::platform {

namespace {

// A folder this user owns and no one else may write into, opened; made
// (0700) where it is missing and `make` (else missing gives why "").
Fd OwnFolder(int at, const char* name, std::string& why, bool make = true) {
  if (make && ::mkdirat(at, name, 0700) != 0 && errno != EEXIST) {
    why = std::string(name) + " cannot be made (" + ErrorText(errno) + ")";
    return Fd();
  }
  Fd folder(::openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st;
  if (!folder.IsValid() || ::fstat(folder.get(), &st) != 0) {
    if (!make && errno == ENOENT) return Fd();
    why = std::string(name) + " cannot be opened (" + ErrorText(errno) + ")";
    return Fd();
  }
  if (st.st_uid != ::geteuid() || (st.st_mode & 022) != 0) {
    why = std::string(name) + " is not this user's alone";
    return Fd();
  }
  // No one else needs to look into it either.
  if ((st.st_mode & 077) != 0) static_cast<void>(::fchmod(folder.get(), 0700));
  return folder;
}

// The key in `folder`: true when read; false with `why` empty when there is
// none yet.
bool ReadKey(int folder, JournalKey& key, std::string& why) {
  const Fd file(
      ::openat(folder, kJournalKeyName.data(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file.IsValid()) {
    if (errno != ENOENT) why = "it cannot be opened (" + ErrorText(errno) + ")";
    return false;
  }
  struct stat st;
  if (::fstat(file.get(), &st) != 0) {
    why = "it cannot be read (" + ErrorText(errno) + ")";
    return false;
  }
  if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || (st.st_mode & 077) != 0 ||
      st.st_nlink != 1) {
    why = "it is not a file of this user's alone";
    return false;
  }
  if (static_cast<std::size_t>(st.st_size) != key.bytes.size() ||
      ::pread(file.get(), key.bytes.data(), key.bytes.size(), 0) !=
          static_cast<ssize_t>(key.bytes.size())) {
    why = "it is not as this program makes it";
    return false;
  }
  return true;
}

// A fresh key into `folder`, whole on the disk before it takes its name,
// which it takes only where no other process's key has it yet.
bool MakeKey(int folder, std::string& why) {
  JournalKey key;
  if (::getrandom(key.bytes.data(), key.bytes.size(), 0) !=
      static_cast<ssize_t>(key.bytes.size())) {
    why = "no random bytes for it (" + ErrorText(errno) + ")";
    return false;
  }
  const std::string making = RandomName(".journal.key-");
  const Fd file(
      ::openat(folder, making.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  int error = file.IsValid() ? 0 : errno;
  if (error == 0) {
    error = WriteAll(file.get(), std::string_view(reinterpret_cast<const char*>(key.bytes.data()),
                                                  key.bytes.size()));
  }
  if (error == 0 && ::fsync(file.get()) != 0) error = errno;
  if (error == 0) error = RenameNoReplace(folder, making.c_str(), folder, kJournalKeyName.data());
  if (error != 0) ::unlinkat(folder, making.c_str(), 0);
  if (error != 0 && error != EEXIST) {
    why = "it cannot be made (" + ErrorText(error) + ")";
    return false;
  }
  static_cast<void>(::fsync(folder));
  return true;
}

}  // namespace

KeyedDigest KeyedHash(const JournalKey& key, std::string_view data) {
  KeyedDigest digest{};
  unsigned int length = 0;
  HMAC(EVP_sha256(), key.bytes.data(), static_cast<int>(key.bytes.size()),
       reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest.data(), &length);
  return digest;
}

bool ReadOrMakeJournalKey(const std::string& folder, JournalKey& key, std::string& why) {
  why.clear();
  const std::size_t slash = folder.rfind('/');
  if (folder.empty() || folder[0] != '/' || slash + 1 >= folder.size()) {
    why = "no configuration folder is known";
    return false;
  }
  const std::string parent = slash == 0 ? "/" : folder.substr(0, slash);
  // The configuration folder itself is made where missing, as settings
  // would; the program's own folder below it must be this user's alone.
  if (::mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) {
    why = parent + " cannot be made (" + ErrorText(errno) + ")";
    return false;
  }
  const Fd above(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!above.IsValid()) {
    why = parent + " cannot be opened (" + ErrorText(errno) + ")";
    return false;
  }
  const Fd own = OwnFolder(above.get(), folder.c_str() + slash + 1, why);
  if (!own.IsValid()) {
    why = parent + "/" + why;
    return false;
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (ReadKey(own.get(), key, why)) return true;
    if (!why.empty() || !MakeKey(own.get(), why)) break;
  }
  if (why.empty()) why = "it cannot be read";
  why = folder + "/" + std::string(kJournalKeyName) + ": " + why;
  return false;
}

Fd UserJournalFolder(std::string& why, bool make) {
  why.clear();
  const std::string state = UserStateFolder();
  if (state.empty()) {
    why = "no folder for this user's state is known";
    return Fd();
  }
  if (make) {
    // The folders above are made where missing, as any program's state
    // would; the program's own below them must be this user's alone.
    for (std::size_t slash = state.find('/', 1);; slash = state.find('/', slash + 1)) {
      const std::string folder = state.substr(0, slash);
      if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        why = folder + " cannot be made (" + ErrorText(errno) + ")";
        return Fd();
      }
      if (slash == std::string::npos) break;
    }
  }
  const Fd above(::open(state.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!above.IsValid()) {
    if (make || errno != ENOENT) why = state + " cannot be opened (" + ErrorText(errno) + ")";
    return Fd();
  }
  const Fd program = OwnFolder(above.get(), "qor", why, make);
  Fd folder = program.IsValid() ? OwnFolder(program.get(), "journals", why, make) : Fd();
  if (!why.empty()) why = state + "/" + why;
  return folder;
}

}  // namespace qor::platform
