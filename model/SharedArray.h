#pragma once

#include <algorithm>
#include <cstddef>
#include <memory>
#include <span>
#include <vector>

namespace tessoral {

// An immutable array shared between copies; the first write through mutableVector()
// makes a private copy when another value still shares the storage (copy-on-write).
template <class T>
class SharedArray {
public:
    SharedArray() = default;
    SharedArray(std::vector<T> values)
        : storage_(values.empty() ? nullptr : std::make_shared<const std::vector<T>>(std::move(values))) {}

    std::size_t size() const { return storage_ ? storage_->size() : 0; }
    bool empty() const { return size() == 0; }
    const T* data() const { return storage_ ? storage_->data() : nullptr; }
    const T& operator[](std::size_t i) const { return (*storage_)[i]; }
    const T* begin() const { return data(); }
    const T* end() const { return data() + size(); }
    std::span<const T> span() const { return {data(), size()}; }
    std::vector<T> toVector() const { return storage_ ? *storage_ : std::vector<T>{}; }

    // The array for writing; copies it first when it is shared.
    std::vector<T>& mutableVector() {
        if (!storage_) {
            storage_ = std::make_shared<std::vector<T>>();
        } else if (storage_.use_count() > 1) {
            storage_ = std::make_shared<std::vector<T>>(*storage_);
        }
        return const_cast<std::vector<T>&>(*storage_);
    }

    // Whether this value alone holds the storage (mutableVector() would not copy).
    bool unshared() const { return storage_ && storage_.use_count() == 1; }

    bool sharesStorageWith(const SharedArray& other) const { return storage_ && storage_ == other.storage_; }

    friend bool operator==(const SharedArray& a, const SharedArray& b) {
        if (a.storage_ == b.storage_) return true;
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin());
    }

private:
    std::shared_ptr<const std::vector<T>> storage_;
};

}  // namespace tessoral
