#include "platform/journal_key.h"

// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include "platform/files.h"
#include "platform/temporary_names.h"
#include "platform/win32/listing.h"
#include "platform/win32/run_journal.h"
#include "platform/win32/wide.h"

namespace qor::platform {

namespace {

bool Succeeded(NTSTATUS status) {
  return status >= 0;
}

// The key in `path`: true when read; false with `why` empty when there is
// none yet.
bool ReadKey(const std::wstring& path, JournalKey& key, std::string& why) {
  const Handle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.IsValid()) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) why = "it cannot be opened (" + ErrorText(LastError()) + ")";
    return false;
  }
  // As a journal: this user's, open to no one else, with no further name.
  if (const std::string stranger = Stranger(file.get()); !stranger.empty()) {
    why = "it is not a file of this user's alone (" + stranger + ")";
    return false;
  }
  LARGE_INTEGER size;
  DWORD read = 0;
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart != LONGLONG{sizeof key.bytes} ||
      !::ReadFile(file.get(), key.bytes.data(), sizeof key.bytes, &read, nullptr) ||
      read != sizeof key.bytes) {
    why = "it is not as this program makes it";
    return false;
  }
  return true;
}

// A fresh key at `path`, whole on the disk before it takes its name, which
// it takes only where no other process's key has it yet.
bool MakeKey(const std::wstring& folder, const std::wstring& path, std::string& why) {
  JournalKey key;
  if (!Succeeded(::BCryptGenRandom(nullptr, key.bytes.data(), sizeof key.bytes,
                                   BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    why = "no random bytes for it";
    return false;
  }
  const std::wstring making = folder + Widen(RandomName(".journal.key-"));
  bool made = false;
  {
    const Handle file = CreateJournalFile(making);
    DWORD written = 0;
    made = file.IsValid() &&
           ::WriteFile(file.get(), key.bytes.data(), sizeof key.bytes, &written, nullptr) &&
           written == sizeof key.bytes && ::FlushFileBuffers(file.get());
  }
  if (made && ::MoveFileExW(making.c_str(), path.c_str(), MOVEFILE_WRITE_THROUGH)) return true;
  const DWORD error = ::GetLastError();
  ::DeleteFileW(making.c_str());
  if (made && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)) return true;
  why = "it cannot be made (" + ErrorText(static_cast<int>(error)) + ")";
  return false;
}

}  // namespace

KeyedDigest KeyedHash(const JournalKey& key, std::string_view data) {
  static const BCRYPT_ALG_HANDLE algorithm = [] {
    BCRYPT_ALG_HANDLE opened = nullptr;
    if (!Succeeded(::BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr,
                                                 BCRYPT_ALG_HANDLE_HMAC_FLAG))) {
      opened = nullptr;
    }
    return opened;
  }();
  // A digest of zeros where the system gives none, which UserJournalKey
  // takes for no key at all.
  KeyedDigest digest{};
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (algorithm == nullptr ||
      !Succeeded(::BCryptCreateHash(algorithm, &hash, nullptr, 0,
                                    const_cast<PUCHAR>(key.bytes.data()),
                                    static_cast<ULONG>(key.bytes.size()), 0))) {
    return digest;
  }
  if (!Succeeded(::BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                                  static_cast<ULONG>(data.size()), 0)) ||
      !Succeeded(::BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0))) {
    digest = {};
  }
  ::BCryptDestroyHash(hash);
  return digest;
}

bool ReadOrMakeJournalKey(const std::string& folder, JournalKey& key, std::string& why) {
  why.clear();
  if (folder.empty()) {
    why = "no configuration folder is known";
    return false;
  }
  const std::wstring own = WithBackslash(SystemPath(folder));
  // The user's application data is the user's alone; the program's folder
  // in it is made with an access list for the user alone as well.
  if (!::CreateDirectoryW(own.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    why = folder + " cannot be made (" + ErrorText(LastError()) + ")";
    return false;
  }
  const std::wstring path = own + Widen(kJournalKeyName);
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (ReadKey(path, key, why)) return true;
    if (!why.empty() || !MakeKey(own, path, why)) break;
  }
  if (why.empty()) why = "it cannot be read";
  why = folder + "\\" + std::string(kJournalKeyName) + ": " + why;
  return false;
}

}  // namespace qor::platform
