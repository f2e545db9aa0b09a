#include "programmer/Display.h"

#include "platform/Terminal.h"

#include <algorithm>

namespace qel::programmer {

namespace {

std::string Bytes(uint64_t n) {
    char text[48];
    if (n >= (1u << 20))
        std::snprintf(text, sizeof(text), "%.1f MiB", static_cast<double>(n) / (1u << 20));
    else if (n >= 1024)
        std::snprintf(text, sizeof(text), "%.1f KiB", static_cast<double>(n) / 1024);
    else
        std::snprintf(text, sizeof(text), "%llu bytes", static_cast<unsigned long long>(n));
    return text;
}

int Percent(uint32_t position, uint32_t total) {
    if (total == 0)
        return 0;
    return static_cast<int>(std::min<uint64_t>(100, uint64_t{position} * 100 / total));
}

}  // namespace

Display::Display(AnswerPolicy answers, bool terminalOut, bool terminalIn, int columns,
                 std::FILE* out, std::FILE* in)
    : answers_(answers),
      terminalOut_(terminalOut),
      terminalIn_(terminalIn),
      columns_(columns > 20 ? columns : 80),
      out_(out),
      in_(in) {}

Display Display::ForConsole(AnswerPolicy answers) {
    using platform::StandardStream;
    return Display(answers, platform::IsTerminal(StandardStream::Output),
                   platform::IsTerminal(StandardStream::Input),
                   platform::TerminalColumns(StandardStream::Output));
}

void Display::Status(const std::string& text) {
    if (quiet_ || text.empty())
        return;
    status_ = text;
    // Status texts alternate while data is shipped load by load ("Loading data
    // to DSP ...", "Writing to flash ..."): a text seen in the last two lines
    // is only shown in the bar.
    if (text != lastLines_[0] && text != lastLines_[1]) {
        ClearBar();
        std::fprintf(out_, "%s\n", text.c_str());
        lastLines_[1] = lastLines_[0];
        lastLines_[0] = text;
    }
    if (barDrawn_)
        DrawBar();
    std::fflush(out_);
}

void Display::Progress(uint32_t position, uint32_t total) {
    if (quiet_ || total == 0)
        return;
    if (total != total_)
        lastPercentLine_ = -1;  // a new phase (reading, writing)
    position_ = position;
    total_ = total;
    if (terminalOut_) {
        DrawBar();
        if (position >= total) {
            // Complete: keep the full bar and go on below it.
            std::fprintf(out_, "\n");
            barDrawn_ = false;
            barWidth_ = 0;
        }
    } else {
        // Plain output: a line at every quarter.
        const int percent = Percent(position, total);
        if (percent / 25 * 25 > lastPercentLine_) {
            lastPercentLine_ = percent / 25 * 25;
            std::fprintf(out_, "  %3d%%  %s of %s\n", percent, Bytes(position).c_str(),
                         Bytes(total).c_str());
        }
    }
    std::fflush(out_);
}

void Display::DrawBar() {
    if (!terminalOut_ || total_ == 0)
        return;
    const int percent = Percent(position_, total_);
    const int cells = 30;
    const int filled = percent * cells / 100;
    std::string line = "  [" + std::string(static_cast<size_t>(filled), '#') +
                       std::string(static_cast<size_t>(cells - filled), '.') + "] ";
    char figures[64];
    std::snprintf(figures, sizeof(figures), "%3d%%  %s of %s", percent, Bytes(position_).c_str(),
                  Bytes(total_).c_str());
    line += figures;
    if (!status_.empty())
        line += "  " + status_;
    const size_t room = static_cast<size_t>(columns_ - 1);
    if (line.size() > room)
        line.resize(room);
    const size_t drawn = line.size();
    if (drawn < barWidth_)
        line += std::string(barWidth_ - drawn, ' ');
    std::fprintf(out_, "\r%s", line.c_str());
    barWidth_ = drawn;
    barDrawn_ = true;
}

void Display::ClearBar() {
    if (!barDrawn_)
        return;
    std::fprintf(out_, "\r%s\r", std::string(barWidth_, ' ').c_str());
}

void Display::EndProgress() {
    if (barDrawn_) {
        DrawBar();
        std::fprintf(out_, "\n");
    }
    barDrawn_ = false;
    barWidth_ = 0;
    total_ = 0;
    position_ = 0;
    lastPercentLine_ = -1;
    status_.clear();
    lastLines_[0].clear();
    lastLines_[1].clear();
    std::fflush(out_);
}

void Display::Line(const std::string& text) {
    ClearBar();
    std::fprintf(out_, "%s\n", text.c_str());
    if (barDrawn_)
        DrawBar();
    std::fflush(out_);
}

void Display::Notice(const std::string& text) {
    Line(text);
}

bool Display::Ask(const std::string& question) {
    ClearBar();
    std::fprintf(out_, "%s\n", question.c_str());
    bool yes = false;
    if (answers_ != AnswerPolicy::Ask) {
        yes = answers_ == AnswerPolicy::Yes;
        std::fprintf(out_, "(answered %s by %s)\n", yes ? "yes" : "no", yes ? "--yes" : "--no");
    } else if (!terminalIn_) {
        std::fprintf(out_, "(answered no: no terminal to ask on; --yes or --no answers it)\n");
    } else {
        for (;;) {
            std::fprintf(out_, "[y/n] ");
            std::fflush(out_);
            char reply[64];
            if (!std::fgets(reply, sizeof(reply), in_)) {
                std::fprintf(out_, "\n(answered no: end of input)\n");
                break;
            }
            const char c = reply[0];
            if (c == 'y' || c == 'Y') {
                yes = true;
                break;
            }
            if (c == 'n' || c == 'N')
                break;
        }
    }
    if (barDrawn_)
        DrawBar();
    std::fflush(out_);
    return yes;
}

}  // namespace qel::programmer
