#include "engine/WritePlan.h"

#include "engine/Exc.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <sys/mman.h>

namespace {
constexpr const char* kSource = "Flash";

void PutWord(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
    at[2] = static_cast<uint8_t>(value >> 16);
    at[3] = static_cast<uint8_t>(value >> 24);
}
}  // namespace

CWritePlan::CWritePlan(uint32_t sectorSize, uint8_t* staging, uint32_t stagingSize, Shipper ship)
    : sectorSize_(sectorSize),
      staging_(staging),
      stagingSize_(stagingSize),
      ship_(std::move(ship)) {
    Reset();
}

CWritePlan::PageBuffer::PageBuffer(size_t bytes) : size(bytes) {
    void* at = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (at == MAP_FAILED)
        throw std::bad_alloc();
    data = static_cast<uint8_t*>(at);
}

CWritePlan::PageBuffer::~PageBuffer() {
    munmap(data, size);
}

CWritePlan::CWritePlan(uint32_t sectorSize, uint32_t loadSize, Shipper ship)
    : sectorSize_(sectorSize),
      staging_(nullptr),
      stagingSize_(loadSize),
      ship_(std::move(ship)),
      owned_(true) {
    Reset();
}

void CWritePlan::EnsureStaging() {
    if (!owned_ || staging_)
        return;
    // A load that the counting pass closed by filling it takes the whole
    // buffer; the last one only what was queued into it.
    const bool last = current_ + 1 >= planned_.size();
    const uint32_t need = current_ < planned_.size() && last
                              ? std::max(planned_[current_], RecordHead)
                              : stagingSize_;
    bufferSize_ = std::min(need, stagingSize_);
    buffer_ = std::make_unique<PageBuffer>(bufferSize_);
    staging_ = buffer_->data;
}

void CWritePlan::GrowStaging(uint32_t size) {
    if (!owned_ || size <= bufferSize_)
        return;
    // Only when the writing pass queues more than the counting pass did.
    auto bigger = std::make_unique<PageBuffer>(stagingSize_);
    memcpy(bigger->data, buffer_->data, nodes_[current_].used);
    buffer_ = std::move(bigger);
    bufferSize_ = stagingSize_;
    staging_ = buffer_->data;
}

void CWritePlan::ReleaseStaging() {
    if (!owned_)
        return;
    buffer_.reset();
    bufferSize_ = 0;
    staging_ = nullptr;
}

void CWritePlan::Reset() {
    nodes_.assign(1, Node{});
    current_ = 0;
}

void CWritePlan::Rewind() {
    planned_.clear();
    for (Node& node : nodes_) {
        planned_.push_back(node.used);
        node.used = 0;
    }
    ReleaseStaging();
    current_ = 0;
}

void CWritePlan::CountSectors(uint32_t offset, uint32_t length) {
    if (length == 0)
        return;
    const uint64_t mask = ~static_cast<uint64_t>(sectorSize_ - 1);
    const int64_t first = static_cast<int64_t>((offset & mask) / sectorSize_);
    const int64_t end = static_cast<int64_t>(
        ((static_cast<uint64_t>(offset) + length - 1 + sectorSize_) & mask) / sectorSize_);
    Node& node = nodes_[current_];
    if (node.lastSector < first)
        node.lastSector = first;
    // A header laid over a kept image lies in sectors counted already.
    if (end > node.lastSector) {
        node.sectors += static_cast<uint32_t>(end - node.lastSector);
        node.lastSector = end;
    }
}

void CWritePlan::PutRecord(uint32_t source, uint32_t offset, uint32_t length, const uint8_t* data) {
    EnsureStaging();
    GrowStaging(nodes_[current_].used + RecordHead + (data ? length : 0));
    uint8_t* at = staging_ + nodes_[current_].used;
    PutWord(at + qel::fprog::kRecordSource, source);
    PutWord(at + qel::fprog::kRecordOffset, offset);
    PutWord(at + qel::fprog::kRecordLength, length);
    if (data && length)
        memcpy(at + RecordHead, data, length);
}

void CWritePlan::NextLoad(bool countOnly) {
    if (countOnly) {
        nodes_.push_back(Node{});
        current_ = nodes_.size() - 1;
        return;
    }
    EnsureStaging();
    GrowStaging(stagingSize_);
    Node& node = nodes_[current_];
    memset(staging_ + node.used, 0, stagingSize_ - node.used);
    node.used = stagingSize_;
    ship_(stagingSize_);
    ReleaseStaging();
    // The counting pass made this node; a writing pass that runs past it
    // would have planned differently, so it gets a node of its own.
    if (++current_ == nodes_.size())
        nodes_.push_back(Node{});
}

void CWritePlan::Queue(bool countOnly, uint32_t offset, uint32_t length, const uint8_t* data,
                       uint32_t savedImage) {
    if ((!owned_ && !staging_) || stagingSize_ < RecordHead)
        QEL_RAISE(ERR_NO_TRANSFER_BUFFER, kSource);
    uint32_t remaining = length;
    do {
        const uint32_t free = stagingSize_ - nodes_[current_].used;
        if (free < RecordHead) {
            NextLoad(countOnly);
            continue;
        }
        if (savedImage != 0) {
            if (countOnly) {
                CountSectors(offset, remaining);
            } else {
                PutRecord(savedImage, offset, remaining, nullptr);
            }
            nodes_[current_].used += RecordHead;
            return;
        }
        const uint32_t chunk =
            static_cast<uint32_t>(std::min<uint64_t>(free, uint64_t{remaining} + RecordHead)) -
            RecordHead;
        if (countOnly) {
            CountSectors(offset, chunk);
        } else {
            PutRecord(qel::fprog::kRecordSourceInline, offset, chunk, data);
        }
        nodes_[current_].used += chunk + RecordHead;
        offset += chunk;
        if (data)
            data += chunk;
        remaining -= chunk;
    } while (remaining > 0);
}

void CWritePlan::Flush(bool countOnly) {
    if (nodes_[current_].used == 0)
        return;
    const size_t before = current_;
    Queue(countOnly, 0, 0, nullptr, 0);
    if (countOnly)
        return;
    // When the end mark did not fit, Queue shipped the full buffer already.
    if (current_ == before && nodes_[current_].used != 0)
        ship_(nodes_[current_].used);
    // Nothing more goes out in this commit.
    ReleaseStaging();
}

uint32_t CWritePlan::TotalSectors() const {
    uint32_t total = 0;
    for (const Node& node : nodes_) total += node.sectors;
    return total;
}

uint32_t CWritePlan::SectorsBeforeCurrent() const {
    uint32_t total = 0;
    for (size_t i = 0; i < current_ && i < nodes_.size(); ++i) total += nodes_[i].sectors;
    return total;
}
