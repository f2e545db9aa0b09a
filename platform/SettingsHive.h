// Settings hives: the stand-in for the registry's HKEY_LOCAL_MACHINE and
// HKEY_CURRENT_USER. Each hive is one file in the registry editor's export
// format ("HKEY_LOCAL_MACHINE.reg", "HKEY_CURRENT_USER.reg") in the registry
// folder, so an administrator can read, edit, export and import it.
//
// Nothing is cached: every call reads the file afresh. Every change is made
// under an advisory lock on "<hive file>.lock", on a fresh read, and lands by
// an atomic rename, so concurrent writers in any number of processes lose
// nothing. A hive file that cannot be parsed is never written; it is reported
// once per process on standard error.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qel::platform {

enum class Hive { LocalMachine, CurrentUser };
enum class KeyAccess { Read, ReadWrite };

// $QEL4410_REGISTRY; otherwise $XDG_CONFIG_HOME/qel4410/registry, or
// ~/.config/qel4410/registry.
std::string RegistryFolder();
// "HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_USER".
const char* HiveName(Hive hive);
// folder + "/HKEY_LOCAL_MACHINE.reg" and the like.
std::string HiveFilePath(Hive hive, const std::string& folder);

// Hive files larger than this are refused as damaged (reported, never read).
inline constexpr long kMaxHiveBytes = 16L << 20;

// Why the hive cannot be opened for writing, in words with the system's
// reason; empty when it can.
std::string HiveWriteProblem(Hive hive, const std::string& folder = RegistryFolder());

// One open key. Key and value names compare without regard to case; the
// spelling first written is the one kept in the file.
class SettingsKey {
  public:
    // The same numbers as CRegEdit's result codes.
    enum Status : int { kDone = 0, kReadOnly = 1, kWriteFailed = 3, kNotFound = 4, kWrongType = 5 };
    enum Disposition : unsigned { kCreatedNewKey = 1, kOpenedExistingKey = 2 };

    // path: "SOFTWARE\Halvern\QEL4410\Kovra" (backslashes, below the hive).
    // ReadWrite: null unless the hive may be written (folder and file
    // writable, file readable and parseable); creates the key when missing.
    // Read: null unless the hive can be read and the key exists.
    static std::unique_ptr<SettingsKey> Open(Hive hive, std::string_view path, KeyAccess access,
                                             const std::string& folder = RegistryFolder());

    ~SettingsKey();
    SettingsKey(const SettingsKey&) = delete;
    SettingsKey& operator=(const SettingsKey&) = delete;

    bool IsWritable() const { return writable_; }
    unsigned GetDisposition() const { return disposition_; }
    // "HKEY_LOCAL_MACHINE\SOFTWARE\..." as spelled in the file.
    const std::string& FullName() const { return fullName_; }
    // The hive file (symbolic links resolved).
    const std::string& FilePath() const { return file_; }

    // kDone, kNotFound or kWrongType; out changes only on kDone.
    int GetString(std::string_view name, std::string& out) const;
    int GetDword(std::string_view name, uint32_t& out) const;
    // Binary values (hex:) only.
    int GetBinary(std::string_view name, std::vector<uint8_t>& out) const;
    // kDone, kReadOnly or kWriteFailed. A string is stored up to its first zero.
    int SetString(std::string_view name, std::string_view value);
    int SetDword(std::string_view name, uint32_t value);
    int SetBinary(std::string_view name, const uint8_t* data, size_t size);
    // kDone, kReadOnly, kWriteFailed, or kNotFound when there was no such value.
    int DeleteValue(std::string_view name);

  private:
    SettingsKey(std::string file, std::string fullName, bool writable, unsigned disposition);
    struct ValueUpdate;
    int Update(std::string_view name, const ValueUpdate& update);

    std::string file_;
    std::string fullName_;
    bool writable_;
    unsigned disposition_;
};

}  // namespace qel::platform
