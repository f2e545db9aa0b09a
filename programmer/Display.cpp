#include "programmer/Display.h"

#include "platform/Terminal.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstring>

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

double SteadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

Display::Display(AnswerPolicy answers, bool terminalStatus, bool terminalIn, int columns,
                 std::FILE* results, std::FILE* in, std::FILE* status)
    : answers_(answers),
      terminalStatus_(terminalStatus),
      terminalIn_(terminalIn),
      columns_(columns > 20 ? columns : 80),
      out_(results),
      in_(in),
      err_(status),
      clock_(SteadySeconds) {}

Display Display::ForConsole(AnswerPolicy answers, Verbosity verbosity) {
    using platform::StandardStream;
    Display d(answers, platform::IsTerminal(StandardStream::Error),
              platform::IsTerminal(StandardStream::Input),
              platform::TerminalColumns(StandardStream::Error));
    d.SetVerbosity(verbosity);
    return d;
}

void Display::Status(const std::string& text) {
    if (text.empty())
        return;
    status_ = text;  // also when quiet: it tells what a long wait is at
    if (quiet_ || verbosity_ == Verbosity::Quiet)
        return;
    // Status texts alternate while data is shipped load by load ("Loading data
    // to DSP ...", "Writing to flash ..."): a text seen in the last two lines
    // is only shown in the bar.
    if (text != lastLines_[0] && text != lastLines_[1]) {
        StatusLine(text);
        lastLines_[1] = lastLines_[0];
        lastLines_[0] = text;
    } else if (barDrawn_) {
        DrawBar();
    }
    std::fflush(err_);
}

void Display::StatusLine(const std::string& text) {
    ClearBar();
    std::fprintf(err_, "%s\n", text.c_str());
    if (barDrawn_)
        DrawBar();
    std::fflush(err_);
}

std::string Display::Rate() const {
    const double elapsed = clock_() - phaseStart_;
    if (elapsed < 0.5 || position_ <= phasePosition_)
        return {};
    const double rate = (position_ - phasePosition_) / elapsed;
    char text[64];
    const auto left = static_cast<long>((total_ - std::min(position_, total_)) / rate + 0.5);
    std::snprintf(text, sizeof(text), "%s/s, %ld:%02ld left",
                  Bytes(static_cast<uint64_t>(rate)).c_str(), left / 60, left % 60);
    return text;
}

void Display::Progress(uint32_t position, uint32_t total) {
    if (quiet_ || verbosity_ == Verbosity::Quiet || total == 0)
        return;
    if (total != total_ || position < position_) {
        // A new phase (reading, writing).
        lastPercentLine_ = -1;
        phaseStart_ = clock_();
        phasePosition_ = position;
    }
    position_ = position;
    total_ = total;
    if (terminalStatus_) {
        DrawBar();
        if (position >= total) {
            // Complete: keep the full bar and go on below it.
            std::fprintf(err_, "\n");
            barDrawn_ = false;
            barWidth_ = 0;
        }
    } else {
        // Plain output: a line at every quarter.
        const int percent = Percent(position, total);
        if (percent / 25 * 25 > lastPercentLine_) {
            lastPercentLine_ = percent / 25 * 25;
            const std::string rate = position < total ? Rate() : std::string();
            std::fprintf(err_, "  %3d%%  %s of %s%s%s\n", percent, Bytes(position).c_str(),
                         Bytes(total).c_str(), rate.empty() ? "" : "  ", rate.c_str());
        }
    }
    std::fflush(err_);
}

void Display::DrawBar() {
    if (!terminalStatus_ || total_ == 0)
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
    if (position_ < total_) {
        const std::string rate = Rate();
        if (!rate.empty())
            line += "  " + rate;
    }
    if (!status_.empty())
        line += "  " + status_;
    const size_t room = static_cast<size_t>(columns_ - 1);
    if (line.size() > room)
        line.resize(room);
    const size_t drawn = line.size();
    if (drawn < barWidth_)
        line += std::string(barWidth_ - drawn, ' ');
    std::fprintf(err_, "\r%s", line.c_str());
    barWidth_ = drawn;
    barDrawn_ = true;
}

void Display::ClearBar() {
    if (!barDrawn_)
        return;
    std::fprintf(err_, "\r%s\r", std::string(barWidth_, ' ').c_str());
}

void Display::EndProgress() {
    if (barDrawn_) {
        DrawBar();
        std::fprintf(err_, "\n");
    }
    barDrawn_ = false;
    barWidth_ = 0;
    total_ = 0;
    position_ = 0;
    lastPercentLine_ = -1;
    status_.clear();
    lastLines_[0].clear();
    lastLines_[1].clear();
    std::fflush(err_);
}

void Display::Line(const std::string& text) {
    if (out_ == err_)
        ClearBar();
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
    if (out_ == err_ && barDrawn_)
        DrawBar();
}

void Display::Info(const std::string& text) {
    if (verbosity_ != Verbosity::Quiet)
        StatusLine(text);
}

void Display::Detail(const std::string& text) {
    if (verbosity_ == Verbosity::Verbose)
        StatusLine(text);
}

void Display::Waiting(const std::string& text) {
    if (verbosity_ != Verbosity::Quiet)
        StatusLine(text);
}

void Display::Notice(const std::string& text) {
    StatusLine(text);
}

bool Display::ReadAnswer(char* reply, int size) {
    if (interruptFd_ >= 0) {
        pollfd fds[2] = {{fileno(in_), POLLIN, 0}, {interruptFd_, POLLIN, 0}};
        for (;;) {
            const int n = poll(fds, 2, -1);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 || (fds[1].revents & POLLIN))
                return false;
            if (fds[0].revents)
                break;
        }
    }
    return std::fgets(reply, size, in_) != nullptr;
}

bool Display::Ask(const std::string& question, bool policyApplies) {
    ClearBar();
    std::fprintf(err_, "%s\n", question.c_str());
    bool yes = false;
    if (policyApplies && answers_ != AnswerPolicy::Ask) {
        yes = answers_ == AnswerPolicy::Yes;
        std::fprintf(err_, "(answered %s by %s)\n", yes ? "yes" : "no", yes ? "--yes" : "--no");
    } else if (!terminalIn_) {
        std::fprintf(err_, policyApplies
                               ? "(answered no: no terminal to ask on; --yes or --no answers it)\n"
                               : "(answered no: no terminal to ask on)\n");
    } else {
        for (;;) {
            std::fprintf(err_, "[y/n] ");
            std::fflush(err_);
            char reply[64];
            if (!ReadAnswer(reply, sizeof(reply))) {
                std::fprintf(err_, "\n(answered no: end of input)\n");
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
    std::fflush(err_);
    return yes;
}

}  // namespace qel::programmer
