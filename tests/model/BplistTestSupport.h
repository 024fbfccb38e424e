#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace tessoral::test {

// A binary property list put together by hand from raw object bytes, for damage that no
// writer produces (cycles, references out of range, bad trailers).
struct RawBplist {
    std::vector<std::vector<std::uint8_t>> objects;
    std::uint64_t root = 0;
    int refSize = 1;
    int offsetSize = 1;

    std::vector<std::uint8_t> bytes() const {
        std::vector<std::uint8_t> out{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
        std::vector<std::uint64_t> offsets;
        for (const auto& o : objects) {
            offsets.push_back(out.size());
            out.insert(out.end(), o.begin(), o.end());
        }
        const std::uint64_t table = out.size();
        for (auto off : offsets) put(out, off, offsetSize);
        std::array<std::uint8_t, 32> trailer{};
        trailer[6] = static_cast<std::uint8_t>(offsetSize);
        trailer[7] = static_cast<std::uint8_t>(refSize);
        out.insert(out.end(), trailer.begin(), trailer.end());
        const std::size_t t = out.size() - 32;
        auto at = [&](std::size_t pos, std::uint64_t v) {
            for (int i = 7; i >= 0; --i, v >>= 8) out[pos + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v);
        };
        at(t + 8, objects.size());
        at(t + 16, root);
        at(t + 24, table);
        return out;
    }

    static void put(std::vector<std::uint8_t>& out, std::uint64_t v, int width) {
        for (int i = width - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
};

inline std::vector<std::uint8_t> readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeFile(const std::filesystem::path& p, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Runs a Python 3 program with the arguments; returns its standard output, or fails the
// calling test (through `ok`) when it exits with an error.
inline std::string python(const std::string& program, const std::vector<std::string>& args, bool* ok = nullptr) {
    const auto script = std::filesystem::temp_directory_path() /
                        ("tessoral-py-" + std::to_string(::getpid()) + "-" + std::to_string(reinterpret_cast<std::uintptr_t>(&program)) + ".py");
    {
        std::ofstream out(script);
        out << program;
    }
    std::string command = "python3 '" + script.string() + "'";
    for (const auto& a : args) command += " '" + a + "'";
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
        const int status = ::pclose(pipe);
        if (ok) *ok = status == 0;
    } else if (ok) {
        *ok = false;
    }
    std::filesystem::remove(script);
    return output;
}

// A fresh empty folder under the temporary directory, removed with the object.
class TempFolder {
public:
    TempFolder() {
        path_ = std::filesystem::temp_directory_path() /
                ("tessoral-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter()++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    static int& counter() {
        static int c = 0;
        return c;
    }
    std::filesystem::path path_;
};

}  // namespace tessoral::test
