// A second process on the same bench: programs half of each of the first
// four sectors of module 0 again and again. Arguments: state folder,
// description file, half (0 or 1), rounds.
#include "BenchClient.h"
#include "TestBench.h"

#include <cstdio>
#include <cstdlib>

using namespace benchtest;

namespace {

class Writer : public BenchTest {
  public:
    int Main(const std::string& state, const std::string& description, int half, int rounds) {
        BenchOptions o;
        o.descriptionPath = description;
        o.stateFolder = state;
        if (QelBenchCreate(o, &app_) != kOk)
            return 2;
        int rc = 0;
        {
            Client c(app_, 0, 0);
            if (StartProgrammer(c) != 0)
                rc = 3;
            for (int r = 0; r < rounds && rc == 0; ++r) {
                std::vector<Rec> recs;
                for (uint32_t s = 0; s < 4; ++s)
                    recs.push_back({0, s * kSector + half * (kSector / 2),
                                    std::vector<uint8_t>(kSector / 2, static_cast<uint8_t>(r))});
                if (Program(c, recs) != 0)
                    rc = 4;
            }
        }
        app_->Release();
        app_ = nullptr;
        return rc;
    }
    void TestBody() override {}
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: bench_writer STATE DESCRIPTION HALF ROUNDS\n");
        return 1;
    }
    Writer w;
    return w.Main(argv[1], argv[2], std::atoi(argv[3]), std::atoi(argv[4]));
}
