// Entry points of libQelTimInfo.so.
//
// The data folder is, in this order: the folder named by QEL4410_TIMDATA;
// "timdata" beside this library's file (where the build and the install put
// the shipped descriptions); the source tree's timinfo/data, so a build
// that was moved still finds something. A folder named by the variable but
// missing is an error rather than a silent fall-back to other data.
// QelTimInfoOpen's argument selects nothing here: there is one database.
#include "timinfo/QelTimInfoDiag.h"
#include "timinfo/TimDatabase.h"

#include "platform/ModulePath.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace {

// The last open failure of each thread. Not thread-local storage: this
// library is loaded and unloaded at run time, and dynamic thread-local
// storage outliving the library trips up the leak checker at exit.
class LastErrors {
  public:
    void Set(std::string text) {
        std::lock_guard lock(mutex_);
        if (text.empty())
            texts_.erase(std::this_thread::get_id());
        else
            texts_[std::this_thread::get_id()] = std::move(text);
    }
    // Valid until this thread's next Set.
    const char* Get() {
        std::lock_guard lock(mutex_);
        const auto found = texts_.find(std::this_thread::get_id());
        return found == texts_.end() ? "" : found->second.c_str();
    }

  private:
    std::mutex mutex_;
    std::map<std::thread::id, std::string> texts_;
};

LastErrors lastErrors;

bool IsFolder(const std::string& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_directory(path, error);
}

std::string DataFolder() {
    const char* named = std::getenv(kTimDataVariable);
    if (named && *named) {
        if (!IsFolder(named))
            throw qel::timinfo::TimFileError(
                named, 0, std::string("is not a folder (named by ") + kTimDataVariable + ")");
        return named;
    }
    const std::string beside =
        qel::platform::ModuleFolder(reinterpret_cast<const void*>(&QelTimInfoOpen));
    if (!beside.empty() && IsFolder(beside + "/timdata"))
        return beside + "/timdata";
#ifdef QEL_TIMINFO_SOURCE_DATA
    if (IsFolder(QEL_TIMINFO_SOURCE_DATA))
        return QEL_TIMINFO_SOURCE_DATA;
#endif
    throw qel::timinfo::TimFileError(
        beside + "/timdata", 0,
        std::string("not found, and ") + kTimDataVariable + " names no data folder");
}

// The module-library pair is bound by every caller but never called; a
// non-null handle keeps a caller that does call it on its success path.
int moduleLibraryHandle;

}  // namespace

QELTIMINFO_API CQelTimInfo* QelTimInfoOpen(uint32_t /*argument*/) {
    std::string error;
    try {
        CQelTimInfo* database = new qel::timinfo::CTimDatabase(DataFolder());
        lastErrors.Set({});
        return database;
    } catch (const std::exception& e) {
        error = e.what();
    } catch (...) {
        error = "unexpected failure";
    }
    std::fprintf(stderr, "QelTimInfo: %s\n", error.c_str());
    lastErrors.Set(std::move(error));
    return nullptr;
}

QELTIMINFO_API void QelTimInfoClose(CQelTimInfo* database) {
    delete database;
}

QELTIMINFO_API void* QelModLibOpen(uint32_t /*argument*/) {
    return &moduleLibraryHandle;
}

QELTIMINFO_API void QelModLibClose(void* /*library*/) {}

QELTIMINFO_API const char* QelTimInfoLastError() {
    return lastErrors.Get();
}
