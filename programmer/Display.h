// What the user sees while the engine works. Results (lists, chains,
// verification outcomes, what a job did) go to the result stream, standard
// output; status texts, progress, the engine's questions and the programmer's
// own remarks go to the status stream, standard error, so that a script
// reads the results alone. Progress is a bar redrawn in place, with rate and
// remaining time, when the status stream is a terminal, else a few plain
// lines. Questions are answered by --yes/--no or on the terminal.
// Used from the main thread only.
#pragma once

#include "programmer/Options.h"

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace qel::programmer {

class Display {
  public:
    // terminalStatus: draw a bar with carriage returns; terminalIn: questions
    // may be asked.
    Display(AnswerPolicy answers, bool terminalStatus, bool terminalIn, int columns,
            std::FILE* results = stdout, std::FILE* in = stdin, std::FILE* status = stderr);
    // Decides from the real standard streams.
    static Display ForConsole(AnswerPolicy answers, Verbosity verbosity);

    void SetVerbosity(Verbosity verbosity) { verbosity_ = verbosity; }
    Verbosity GetVerbosity() const { return verbosity_; }
    // Quiet displays drop status and progress (used while listing).
    void SetQuiet(bool quiet) { quiet_ = quiet; }
    // Seconds on a steady clock; tests give their own.
    void SetClock(std::function<double()> clock) { clock_ = std::move(clock); }
    // Descriptor that becomes readable when a question is to be given up
    // (Ctrl-C); -1 for none.
    void SetInterruptDescriptor(int fd) { interruptFd_ = fd; }

    void Status(const std::string& text);
    void Progress(uint32_t position, uint32_t total);
    // A result line, below any bar.
    void Line(const std::string& text);
    // A remark of the programmer's own on the status stream (not with -q).
    void Info(const std::string& text);
    // Only with -v.
    void Detail(const std::string& text);
    // What a command waits for, told when a step takes long (not with -q).
    void Waiting(const std::string& text);
    // Ends a bar that is drawn, so the next output starts on a fresh line.
    void EndProgress();
    // The status text last shown; empty when none.
    const std::string& LastStatus() const { return status_; }

    // Asks a yes/no question; true for yes. policyApplies: --yes/--no answer
    // it; otherwise only the terminal does.
    bool Ask(const std::string& question, bool policyApplies = true);
    // Shows a notice that needs no answer.
    void Notice(const std::string& text);

  private:
    void DrawBar();
    void ClearBar();
    void StatusLine(const std::string& text);
    std::string Rate() const;
    bool ReadAnswer(char* reply, int size);

    AnswerPolicy answers_;
    bool terminalStatus_;
    bool terminalIn_;
    int columns_;
    std::FILE* out_;
    std::FILE* in_;
    std::FILE* err_;
    Verbosity verbosity_ = Verbosity::Normal;
    bool quiet_ = false;
    std::function<double()> clock_;
    int interruptFd_ = -1;

    uint32_t position_ = 0;
    uint32_t total_ = 0;
    int lastPercentLine_ = -1;
    bool barDrawn_ = false;
    size_t barWidth_ = 0;
    std::string status_;
    std::string lastLines_[2];
    // The phase's start, for the rate: time and position.
    double phaseStart_ = 0;
    uint32_t phasePosition_ = 0;
};

}  // namespace qel::programmer
