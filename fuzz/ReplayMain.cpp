// Runs a fuzz target's entry point over every file of the given folders (or files), so the
// committed corpora are replayed by CTest with the normal compiler. Exits non-zero when an
// input throws out of the entry point or a folder is empty.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::filesystem::path> files;
        if (std::filesystem::is_directory(argv[i])) {
            for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
                if (entry.is_regular_file()) files.push_back(entry.path());
        } else {
            files.emplace_back(argv[i]);
        }
        for (const auto& file : files) {
            std::ifstream in(file, std::ios::binary);
            const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
            try {
                LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            } catch (const std::exception& e) {
                std::fprintf(stderr, "%s: uncaught exception: %s\n", file.c_str(), e.what());
                return 1;
            }
            ++count;
        }
    }
    std::printf("replayed %zu inputs\n", count);
    return count > 0 ? 0 : 1;
}
