#include "RegEdit.h"

#include "platform/SettingsHive.h"

using qel::platform::Hive;
using qel::platform::KeyAccess;
using qel::platform::SettingsKey;

CRegEdit::CRegEdit(const std::string& baseKey, const std::string& application)
    : path_(baseKey + "\\" + application) {
    key_ = SettingsKey::Open(Hive::LocalMachine, path_, KeyAccess::ReadWrite);
    writable_ = key_ != nullptr;
    // A user who may not write the hive still reads it.
    if (!key_)
        key_ = SettingsKey::Open(Hive::LocalMachine, path_, KeyAccess::Read);
    if (key_)
        disposition_ = key_->GetDisposition();
}

CRegEdit::~CRegEdit() = default;

int CRegEdit::GetString(const std::string& name, std::string& out) const {
    if (!key_)
        return NotFound;
    return key_->GetString(name, out);
}

int CRegEdit::SetString(const std::string& name, const std::string& value) {
    if (!writable_ || !key_)
        return ReadOnly;
    return key_->SetString(name, value) == SettingsKey::kDone ? Done : WriteFailed;
}
