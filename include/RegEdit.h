// Short-lived access to one application's string settings under
// HKEY_LOCAL_MACHINE\<base key>\<application>. Nothing is cached: make one per
// access and drop it right after.
#pragma once

#include <memory>
#include <string>

namespace qel::platform {
class SettingsKey;
}

class CRegEdit {
  public:
    enum Result { Done = 0, ReadOnly = 1, WriteFailed = 3, NotFound = 4, NotString = 5 };

    CRegEdit(const std::string& baseKey, const std::string& application);
    virtual ~CRegEdit();
    CRegEdit(const CRegEdit&) = delete;
    CRegEdit& operator=(const CRegEdit&) = delete;

    // 0, 4 or 5; out changes only on 0.
    int GetString(const std::string& name, std::string& out) const;
    // 0, 1 or 3.
    int SetString(const std::string& name, const std::string& value);

    bool IsWritable() const { return writable_; }
    const std::string& Path() const { return path_; }

  private:
    std::unique_ptr<qel::platform::SettingsKey> key_;
    std::string path_;
    unsigned disposition_ = 0;
    bool writable_ = false;
};
