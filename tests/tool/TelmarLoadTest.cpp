// The engine binder: which message a missing library or entry point gives,
// and that Open without TelmarOpen throws LoadExc with the argument.
#include "tests/tool/FakeEngine.h"
#include "tool/TelmarLoad.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using Shown = std::vector<std::pair<std::string, std::string>>;

struct BindCase {
    const char* name;
    const char* library;
    Shown messages;
    bool open;
    bool close;
};

void PrintTo(const BindCase& c, std::ostream* os) {
    *os << c.name;
}

class TelmarLoadTest : public ::testing::TestWithParam<BindCase> {};

TEST_P(TelmarLoadTest, TellsWhatIsMissing) {
    const BindCase& c = GetParam();
    Shown shown;
    CTelmarLoad binder([&](const std::string& text,
                           const std::string& caption) { shown.emplace_back(text, caption); },
                       c.library);
    EXPECT_EQ(shown, c.messages);
    EXPECT_EQ(binder.IsComplete(), c.open && c.close);
    if (!c.open) {
        try {
            binder.Open(nullptr, nullptr, 1234);
            ADD_FAILURE() << "Open without TelmarOpen returned";
        } catch (const CTelmarLoad::LoadExc& e) {
            EXPECT_EQ(e.argument, 1234u);
        }
    }
    binder.Close(nullptr);  // nothing to close: nothing happens
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, TelmarLoadTest,
    ::testing::Values(BindCase{"Absent",
                               "libKovraNoSuchEngine.so",
                               {{"Could not find Telmar.dll", "Error"}},
                               false,
                               false},
                      BindCase{"OpenOnly",
                               "libkovra_open_only_telmar.so",
                               {{"Could not locate TelmarClose() function.", "Invalid DLL"}},
                               true,
                               false},
                      // A library without either export.
                      BindCase{"NoExports",
                               "libQelTimInfo.so",
                               {{"Could not locate TelmarOpen() function.", "Invalid DLL"}},
                               false,
                               false},
                      BindCase{"Engine", "Telmar.dll", {}, true, true}),
    kovra_test::CaseName());

}  // namespace
