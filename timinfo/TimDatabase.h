// The TIM database behind QelTimInfoOpen: every *.tim file of one folder,
// read once; the objects are immutable afterwards, so any number of threads
// may read one database at the same time.
#pragma once

#include "QelTimInfo.h"
#include "timinfo/TimFile.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace qel::timinfo {

class CTimRecord final : public CQelTimRecord {
  public:
    explicit CTimRecord(TimDescription description);

    const char* Name() const override;
    uint32_t Code() const override;
    int GetEntry(const char* section, TIMRec* out, int index) const override;
    // Every key holds one value, so n is not used; callers pass 0 or a count.
    int GetInt(const char* key, int n) const override;
    // The value's text as written, quotes removed; valid while the database lives.
    const char* GetString(const char* key, const char* unused) const override;

    const TimDescription& Description() const { return description_; }

  private:
    TimDescription description_;
    const std::string* name_;
    uint32_t code_ = 0;
};

class CTimDatabase final : public CQelTimInfo {
  public:
    // Reads every *.tim file of folder, in file name order. Throws
    // TimFileError for a folder without descriptions, a malformed file, or a
    // "Name" or "TimType" given by two files.
    explicit CTimDatabase(const std::string& folder);

    const char* Version() const override;
    uint32_t Count() const override;
    CQelTimRecord* FindByName(const char* name) const override;
    CQelTimRecord* At(uint32_t index) const override;
    const char* DataFolder() const override;
    // "Unknown TIM type" for a code no description has, never null: callers
    // format the result straight into messages.
    const char* NameOf(uint32_t code) const override;
    CQelTimRecord* Find(uint32_t code) const override;

  private:
    std::string folder_;
    std::vector<std::unique_ptr<CTimRecord>> records_;
    std::map<std::string, CTimRecord*, std::less<>> byName_;
    std::map<uint32_t, CTimRecord*> byCode_;
};

}  // namespace qel::timinfo
