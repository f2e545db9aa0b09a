#include "CarrierBoard.h"

#include "QelDrvErrors.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

namespace qel::drv {

namespace {

// More than any TIM's memory; a larger file is not a boot image.
constexpr uint64_t kMaxImage = 512ull * 1024 * 1024;

bool ReadWholeFile(const char* path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in)
        return false;
    const std::streamoff size = in.tellg();
    if (size < 0 || static_cast<uint64_t>(size) > kMaxImage)
        return false;
    bytes.resize(static_cast<size_t>(size));
    in.seekg(0);
    return bytes.empty() || static_cast<bool>(in.read(bytes.data(), size));
}

}  // namespace

CarrierBoard::CarrierBoard(const BenchCarrier& bench, uint32_t index, int32_t benchBoard)
    : bench_(bench), index_(index), benchBoard_(benchBoard), name_(bench.BoardName(benchBoard)) {}

uint32_t CarrierBoard::Result(uint32_t code) {
    lastError_ = code;
    return code;
}

uint32_t CarrierBoard::Unsupported() {
    return Result(kErrCarrierInterface);
}

uint32_t CarrierBoard::ResetTim() {
    return Result(bench_.ResetTim(benchBoard_));
}

uint32_t CarrierBoard::GetInfo(QelBoardInfo* info) const {
    if (!info)
        return kErrCarrierInterface;
    *info = QelBoardInfo{};
    info->index = index_;
    info->benchBoard = static_cast<uint32_t>(benchBoard_);
    info->processors = static_cast<uint32_t>(bench_.ProcessorCount(benchBoard_));
    snprintf(info->name, sizeof(info->name), "%s", name_.c_str());
    return 0;
}

uint32_t CarrierBoard::SetTimeout(uint32_t milliseconds) {
    timeout_ = milliseconds;
    return Result(0);
}

uint32_t CarrierBoard::Download(const char* path, uint32_t) {
    reason_.clear();
    std::string image;
    if (!path || !ReadWholeFile(path, image))
        return Result(kErrOpenFile);
    if (image.size() % 4 != 0)
        return Result(kErrNotMultipleOf4);
    return Result(bench_.SendBootImage(benchBoard_, image, reason_));
}

}  // namespace qel::drv
