#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessoral {

// Where a file writer puts its bytes, in order.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void write(const void* bytes, std::size_t count) = 0;
};

// Collects the bytes in memory.
class VectorSink final : public ByteSink {
public:
    void write(const void* bytes, std::size_t count) override {
        const auto* p = static_cast<const std::uint8_t*>(bytes);
        data.insert(data.end(), p, p + count);
    }
    std::vector<std::uint8_t> data;
};

}  // namespace tessoral
