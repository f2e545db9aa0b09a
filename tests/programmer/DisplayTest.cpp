// The programmer's display without a process around it: the bar on a
// terminal, plain lines otherwise, repeated status texts, questions.
#include "programmer/Display.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <string>

namespace qel::programmer {
namespace {

// Output into memory, input from a string.
class Console {
  public:
    explicit Console(const std::string& input = "") : input_(input) {
        out_ = open_memstream(&buffer_, &size_);
        in_ = fmemopen(input_.data(), input_.size() + 1, "r");
    }
    ~Console() {
        std::fclose(out_);
        std::fclose(in_);
        std::free(buffer_);
    }
    Display Make(AnswerPolicy answers, bool terminalOut, bool terminalIn) {
        // Results and status in one stream, as a terminal shows them.
        return Display(answers, terminalOut, terminalIn, 100, out_, in_, out_);
    }
    std::string Text() {
        std::fflush(out_);
        return std::string(buffer_, size_);
    }

  private:
    std::string input_;
    char* buffer_ = nullptr;
    size_t size_ = 0;
    std::FILE* out_ = nullptr;
    std::FILE* in_ = nullptr;
};

size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

TEST(DisplayTest, TerminalBarIsRedrawnInPlaceAndEndsWithALine) {
    Console console;
    Display display = console.Make(AnswerPolicy::Ask, true, true);
    display.SetClock([] { return 0.0; });
    display.Status("Erasing the flash ...");
    for (uint32_t p = 0; p <= 8; ++p) display.Progress(p * 0x10000, 8 * 0x10000);
    display.Status("Flash contents inconcistent. Reverting to default");
    display.EndProgress();
    const std::string text = console.Text();

    EXPECT_EQ(Count(text, "\r  ["), 9u) << text;
    const size_t full = text.find("[##############################] 100%  512.0 KiB of 512.0 KiB");
    ASSERT_NE(full, std::string::npos) << text;
    // No line break while the bar runs, one when it is full, then the status.
    const size_t barStart = text.find("\r  [");
    EXPECT_EQ(text.find('\n', barStart), text.find('\n', full)) << text;
    EXPECT_NE(text.find("\nFlash contents inconcistent. Reverting to default\n", full),
              std::string::npos)
        << text;
}

// The rate is what moved since the phase began over the time it took; the
// time left is what remains at that rate.
TEST(DisplayTest, BarAndLinesTellRateAndTimeLeft) {
    for (const bool terminal : {true, false}) {
        Console console;
        Display display = console.Make(AnswerPolicy::Ask, terminal, false);
        double now = 100.0;
        display.SetClock([&] { return now; });
        display.Progress(0, 4 << 20);
        now += 2.0;
        display.Progress(1 << 20, 4 << 20);  // 1 MiB in 2 s: 3 MiB left, 6 s
        const std::string text = console.Text();
        EXPECT_NE(text.find("25%  1.0 MiB of 4.0 MiB  512.0 KiB/s, 0:06 left"), std::string::npos)
            << text;
        now += 70.0;
        display.Progress(2 << 20, 4 << 20);  // 2 MiB in 72 s: 2 MiB left, 72 s
        EXPECT_NE(console.Text().find("28.4 KiB/s, 1:12 left"), std::string::npos)
            << console.Text();
    }
}

TEST(DisplayTest, QuietDropsStatusAndProgressButNotResultsOrQuestions) {
    Console console;
    Display display = console.Make(AnswerPolicy::No, false, false);
    display.SetVerbosity(Verbosity::Quiet);
    display.Status("Writing to flash ...");
    display.Progress(50, 100);
    display.Info("a remark");
    display.Detail("a detail");
    display.Line("a result");
    EXPECT_FALSE(display.Ask("Go on?"));
    EXPECT_EQ(console.Text(), "a result\nGo on?\n(answered no by --no)\n");
    // A question --yes/--no must not answer is asked on the terminal or answered no.
    Console other;
    Display asking = other.Make(AnswerPolicy::Yes, false, false);
    EXPECT_FALSE(asking.Ask("Replace everything?", false));
    EXPECT_NE(other.Text().find("(answered no: no terminal to ask on)"), std::string::npos)
        << other.Text();
}

TEST(DisplayTest, PlainOutputGivesALineAtEachQuarter) {
    Console console;
    Display display = console.Make(AnswerPolicy::Ask, false, false);
    display.SetClock([] { return 0.0; });
    for (uint32_t p = 0; p <= 100; p += 10) display.Progress(p, 100);
    const std::string text = console.Text();
    EXPECT_EQ(text.find('\r'), std::string::npos) << text;
    EXPECT_EQ(Count(text, "\n"), 5u) << text;
    for (const char* line : {"    0%  0 bytes of 100 bytes\n", "   30%  30 bytes", "   50%",
                             "   80%", "  100%  100 bytes of 100 bytes\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
}

TEST(DisplayTest, AlternatingStatusTextsAreShownOnce) {
    Console console;
    Display display = console.Make(AnswerPolicy::Ask, false, false);
    display.Status("Writing to flash ...");
    for (int i = 0; i < 5; ++i) {
        display.Status("Loading data to DSP ...");
        display.Status("Writing to flash ...");
    }
    display.Status("");  // ends nothing: only a finished command does
    display.Status("Calculating write cost ...");
    display.Status("Writing to flash ...");
    EXPECT_EQ(console.Text(),
              "Writing to flash ...\nLoading data to DSP ...\nCalculating write cost ...\n"
              "Writing to flash ...\n");
}

struct AskCase {
    AnswerPolicy policy;
    bool terminal;
    const char* input;
    bool answer;
    const char* shows;
};

void PrintTo(const AskCase& c, std::ostream* os) {
    *os << "policy " << static_cast<int>(c.policy) << (c.terminal ? ", terminal" : "")
        << ", input \"" << c.input << "\"";
}

class DisplayAskTest : public ::testing::TestWithParam<AskCase> {};

TEST_P(DisplayAskTest, AnswersAsTold) {
    const AskCase& c = GetParam();
    Console console(c.input);
    Display display = console.Make(c.policy, false, c.terminal);
    EXPECT_EQ(display.Ask("Do you wish to continue?"), c.answer);
    const std::string text = console.Text();
    EXPECT_EQ(text.rfind("Do you wish to continue?\n", 0), 0u) << text;
    EXPECT_NE(text.find(c.shows), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DisplayAskTest,
    ::testing::Values(AskCase{AnswerPolicy::Yes, false, "", true, "(answered yes by --yes)"},
                      AskCase{AnswerPolicy::No, true, "y\n", false, "(answered no by --no)"},
                      AskCase{AnswerPolicy::Ask, false, "y\n", false, "no terminal to ask on"},
                      AskCase{AnswerPolicy::Ask, true, "yes\n", true, "[y/n] "},
                      AskCase{AnswerPolicy::Ask, true, "what?\nN\n", false, "[y/n] [y/n] "},
                      AskCase{AnswerPolicy::Ask, true, "", false, "end of input"}));

}  // namespace
}  // namespace qel::programmer
