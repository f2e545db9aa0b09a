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
#include <string>
#include <system_error>

namespace {

thread_local std::string lastError;

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
    lastError.clear();
    try {
        return new qel::timinfo::CTimDatabase(DataFolder());
    } catch (const std::exception& e) {
        lastError = e.what();
    } catch (...) {
        lastError = "unexpected failure";
    }
    std::fprintf(stderr, "QelTimInfo: %s\n", lastError.c_str());
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
    return lastError.c_str();
}
