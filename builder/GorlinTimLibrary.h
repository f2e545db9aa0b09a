// The TIM description library as the builder holds it: bound when made (the
// binder throws QelExcept when the library or an entry point is missing), its
// database opened once and kept for the program's lifetime.
#pragma once

#include "QelTimInfoLoad.h"

class CGorlinTimLibrary {
  public:
    explicit CGorlinTimLibrary(const char* libraryName = "QelTimInfo.dll");
    ~CGorlinTimLibrary();
    CGorlinTimLibrary(const CGorlinTimLibrary&) = delete;
    CGorlinTimLibrary& operator=(const CGorlinTimLibrary&) = delete;

    // Opens the database; false when the library gives none.
    bool Open();
    // Null until Open succeeded.
    const CQelTimInfo* Database() const { return database_; }

  private:
    CQelTimInfoLoad binder_;
    CQelTimInfo* database_ = nullptr;
};
