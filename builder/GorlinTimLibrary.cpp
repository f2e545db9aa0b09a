#include "builder/GorlinTimLibrary.h"

CGorlinTimLibrary::CGorlinTimLibrary(const char* libraryName) : binder_(libraryName) {}

CGorlinTimLibrary::~CGorlinTimLibrary() {
    // The database lives as long as the program; handing it back before the
    // library is unloaded keeps the end of the program clean.
    if (database_)
        binder_.QelTimInfoClose(database_);
}

bool CGorlinTimLibrary::Open() {
    if (!database_)
        database_ = binder_.QelTimInfoOpen(0);
    return database_ != nullptr;
}
