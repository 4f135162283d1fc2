// Runs a fuzz target's entry point once over every file named on the command line, or found in a
// directory named there, so that the corpus is checked by compilers without libFuzzer. A crash or
// sanitizer report ends the run like it would end a fuzzing session.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    std::vector<std::filesystem::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path given(argv[i]);
        if (!std::filesystem::is_directory(given))
            inputs.push_back(given);
        else
            for (const auto& entry : std::filesystem::directory_iterator(given))
                if (entry.is_regular_file())
                    inputs.push_back(entry.path());
    }
    for (const auto& file : inputs) {
        std::ifstream in(file, std::ios::binary);
        // libFuzzer never passes a null pointer, not even for an empty input.
        std::vector<std::uint8_t> bytes{0};
        bytes.insert(bytes.end(), std::istreambuf_iterator<char>(in),
                     std::istreambuf_iterator<char>());
        std::printf("%s (%zu bytes)\n", file.c_str(), bytes.size() - 1);
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(bytes.data() + 1, bytes.size() - 1);
    }
    std::printf("%zu inputs ran\n", inputs.size());
    return inputs.empty() ? 1 : 0;
}
