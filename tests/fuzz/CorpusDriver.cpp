// Runs a fuzz target's entry point once over every file named on the command line, or found in a
// directory named there, so that the corpus is checked by compilers without libFuzzer. A crash or
// sanitizer report ends the run like it would end a fuzzing session.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

void runOne(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    std::printf("%s (%zu bytes)\n", file.c_str(), bytes.size());
    std::fflush(stdout);
    // libFuzzer never passes a null pointer, not even for an empty input.
    static const char none = 0;
    const char* start = bytes.empty() ? &none : bytes.data();
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(start), bytes.size());
}

} // namespace

int main(int argc, char** argv) {
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        const fs::path given(argv[i]);
        if (!fs::is_directory(given)) {
            runOne(given);
            ++count;
            continue;
        }
        for (const auto& entry : fs::directory_iterator(given)) {
            if (entry.is_regular_file()) {
                runOne(entry.path());
                ++count;
            }
        }
    }
    if (count == 0) {
        std::fprintf(stderr, "no corpus files given\n");
        return 1;
    }
    std::printf("%zu inputs ran\n", count);
    return 0;
}
