#include "tool/TelmarLoad.h"

CTelmarLoad::CTelmarLoad(const MessageSink& message, const std::string& library) {
    if (!library_.Load(library)) {
        message("Could not find Telmar.dll", "Error");
        return;
    }
    open_ = reinterpret_cast<TelmarOpenFn>(library_.Symbol("TelmarOpen"));
    close_ = reinterpret_cast<TelmarCloseFn>(library_.Symbol("TelmarClose"));
    if (!open_)
        message("Could not locate TelmarOpen() function.", "Invalid DLL");
    else if (!close_)
        message("Could not locate TelmarClose() function.", "Invalid DLL");
}

CTelmarLoad::~CTelmarLoad() = default;

IFSystem* CTelmarLoad::Open(StateCallback callback, void* context, uint32_t argument) {
    if (!open_)
        throw LoadExc{argument};
    return open_(callback, context, argument);
}

void CTelmarLoad::Close(IFSystem* system) {
    if (close_ && system)
        close_(system);
}
