// Replays fuzz inputs without libFuzzer: every file named on the command line
// (or every file inside a named folder) is fed once to the target, and a few
// thousand generated inputs besides, so a build without clang still exercises it.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

static void runFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<std::vector<std::uint8_t>> seeds;
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        fs::path p(argv[i]);
        std::error_code ec;
        if (fs::is_directory(p, ec)) {
            for (auto& e : fs::directory_iterator(p, ec))
                if (e.is_regular_file()) { runFile(e.path()); ++files; }
        } else if (fs::exists(p, ec)) {
            runFile(p); ++files;
        }
    }
    // Random mutations of nothing in particular: cheap insurance against crashes
    // on short and odd inputs.
    std::mt19937 rng(12345);
    for (int n = 0; n < 3000; ++n) {
        std::vector<std::uint8_t> buf(rng() % 4096);
        for (auto& b : buf) b = static_cast<std::uint8_t>(rng());
        LLVMFuzzerTestOneInput(buf.data(), buf.size());
    }
    std::printf("replayed %d files and 3000 random inputs\n", files);
    return 0;
}
