// The engine's root object: attaches to the debugger on its worker thread,
// lists boards and processors, and hands out one flash object per processor.
#pragma once

#include "Telmar.h"
#include "engine/ccs/CCSWrappers.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"

#include <map>
#include <memory>
#include <thread>
#include <vector>

class CFlash;

class CSystem : public IFSystem {
  public:
    CSystem(StateCallback callback, void* context, uint32_t timLibArg);
    ~CSystem() override;
    CSystem(const CSystem&) = delete;
    CSystem& operator=(const CSystem&) = delete;

    int GetState() override;
    int Connect() override;
    void GetBoardCount(int* count) override;
    void GetBoardName(int board, char* buffer, int* size) override;
    void GetProcessorCount(int board, int* count) override;
    void GetProcessorName(int board, int processor, char* buffer, int* size) override;
    IFFlash* GetFlash(int board, int processor) override;

  private:
    void WorkerLoop();
    void ConnectSequence();
    void SetState(int state);

    qel::platform::Event quitEvent_;
    qel::platform::Event connectEvent_;
    std::thread worker_;
    CCApplication application_;
    CCDspBoards boards_;
    int state_ = 0;
    StateCallback callback_;
    qel::platform::CriticalSection lock_;
    std::map<int, std::vector<std::unique_ptr<CFlash>>> flashTable_;
    void* context_;
    uint32_t timLibArg_;
};
