// What the user sees while the engine works: status texts as lines, progress
// as a bar redrawn in place on a terminal or as a few plain lines otherwise,
// and the engine's questions, answered by --yes/--no or on the terminal.
// Used from the main thread only.
#pragma once

#include "programmer/Options.h"

#include <cstdint>
#include <cstdio>
#include <string>

namespace qel::programmer {

class Display {
  public:
    // terminalOut: draw a bar with carriage returns; terminalIn: questions
    // may be asked.
    Display(AnswerPolicy answers, bool terminalOut, bool terminalIn, int columns,
            std::FILE* out = stdout, std::FILE* in = stdin);
    // Decides from the real standard streams.
    static Display ForConsole(AnswerPolicy answers);

    // Quiet displays drop status and progress (used while listing).
    void SetQuiet(bool quiet) { quiet_ = quiet; }

    void Status(const std::string& text);
    void Progress(uint32_t position, uint32_t total);
    // A line of the programmer's own, below any bar.
    void Line(const std::string& text);
    // Ends a bar that is drawn, so the next output starts on a fresh line.
    void EndProgress();

    // Asks a yes/no question; true for yes.
    bool Ask(const std::string& question);
    // Shows a notice that needs no answer.
    void Notice(const std::string& text);

  private:
    void DrawBar();
    void ClearBar();

    AnswerPolicy answers_;
    bool terminalOut_;
    bool terminalIn_;
    int columns_;
    std::FILE* out_;
    std::FILE* in_;
    bool quiet_ = false;

    uint32_t position_ = 0;
    uint32_t total_ = 0;
    int lastPercentLine_ = -1;
    bool barDrawn_ = false;
    size_t barWidth_ = 0;
    std::string status_;
    std::string lastLines_[2];
};

}  // namespace qel::programmer
