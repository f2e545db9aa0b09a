#include "BenchCarrier.h"

#include "QelDrvErrors.h"

namespace qel::drv {

using namespace qel::bench;

namespace {

template <class T>
void ReleaseInto(T*& p) {
    if (p)
        p->Release();
    p = nullptr;
}

}  // namespace

BenchCarrier::~BenchCarrier() {
    Close();
}

uint32_t BenchCarrier::Open() {
    if (IsOpen())
        return 0;
    IUnknown* object = nullptr;
    if (Failed(QelBenchGetActiveObject(kClsidApplication, &object)) || !object) {
        void* created = nullptr;
        if (Failed(QelBenchCreateInstance(kClsidApplication, IUnknown::kIid, &created)) || !created)
            return kErrCarrierInterface;
        object = static_cast<IUnknown*>(created);
        if (Failed(QelBenchRun(object))) {
            object->Release();
            return kErrCarrierInterface;
        }
    }
    void* app = nullptr;
    void* link = nullptr;
    const bool ok = Succeeded(object->QueryInterface(IApplication::kIid, &app)) && app &&
                    Succeeded(object->QueryInterface(IComportLink::kIid, &link)) && link;
    object->Release();
    application_ = static_cast<IApplication*>(app);
    link_ = static_cast<IComportLink*>(link);
    if (!ok) {
        Close();
        return kErrCarrierInterface;
    }
    return 0;
}

void BenchCarrier::Close() {
    ReleaseInto(link_);
    ReleaseInto(application_);
}

int32_t BenchCarrier::CarrierCount() const {
    int32_t count = 0;
    if (!link_ || Failed(link_->GetCarrierCount(&count)))
        return 0;
    return count;
}

int32_t BenchCarrier::BenchBoard(int32_t carrier) const {
    int32_t board = -1;
    if (!link_ || Failed(link_->GetCarrierBoard(carrier, &board)))
        return -1;
    return board;
}

std::string BenchCarrier::BoardName(int32_t benchBoard) const {
    std::string name;
    IDspBoards* boards = nullptr;
    if (application_ && Succeeded(application_->GetDspBoards(&boards)) && boards) {
        IDspBoard* board = nullptr;
        if (Succeeded(boards->Item(benchBoard, &board)) && board) {
            board->GetName(&name);
            board->Release();
        }
        boards->Release();
    }
    return name;
}

int32_t BenchCarrier::ProcessorCount(int32_t benchBoard) const {
    int32_t count = 0;
    IDspBoards* boards = nullptr;
    if (application_ && Succeeded(application_->GetDspBoards(&boards)) && boards) {
        IDspBoard* board = nullptr;
        if (Succeeded(boards->Item(benchBoard, &board)) && board) {
            IDspTasks* tasks = nullptr;
            if (Succeeded(board->GetDspTasks(&tasks)) && tasks) {
                tasks->Count(&count);
                tasks->Release();
            }
            board->Release();
        }
        boards->Release();
    }
    return count;
}

uint32_t BenchCarrier::ResetTim(int32_t benchBoard) const {
    if (!link_ || Failed(link_->ResetTim(benchBoard)))
        return kErrCarrierInterface;
    return 0;
}

uint32_t BenchCarrier::SendBootImage(int32_t benchBoard, const std::string& image,
                                     std::string& reason) const {
    if (!link_)
        return kErrCarrierInterface;
    if (image.size() > UINT32_MAX)
        return kErrTransmissionTimeout;
    const HResult r = link_->SendBootImage(benchBoard, image.data(),
                                           static_cast<uint32_t>(image.size()), &reason);
    if (r == kBootRefused)
        return kErrTransmissionTimeout;  // the boot loader stops reading: the write times out
    return Failed(r) ? kErrCarrierInterface : 0;
}

}  // namespace qel::drv
