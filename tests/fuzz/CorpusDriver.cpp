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
    std::size_t ran = 0;
    const auto run = [&ran](const std::filesystem::path& file) {
        std::ifstream in(file, std::ios::binary);
        // libFuzzer never passes a null pointer, not even for an empty input.
        std::vector<std::uint8_t> bytes{0};
        bytes.insert(bytes.end(), std::istreambuf_iterator<char>(in), {});
        std::printf("%s (%zu bytes)\n", file.c_str(), bytes.size() - 1);
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(bytes.data() + 1, bytes.size() - 1);
        ++ran;
    };
    for (int i = 1; i < argc; ++i)
        if (!std::filesystem::is_directory(argv[i]))
            run(argv[i]);
        else
            for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
                if (entry.is_regular_file())
                    run(entry.path());
    std::printf("%zu inputs ran\n", ran);
    return ran == 0 ? 1 : 0;
}
