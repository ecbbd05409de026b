// Memory aligned for unbuffered transfers (tests only).
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <span>

namespace sw::test {

class Aligned {
  public:
    explicit Aligned(size_t size, size_t alignment = 65536)
        : size_(size),
          data_(static_cast<std::byte*>(::operator new(size, std::align_val_t(alignment)))),
          alignment_(alignment) {
        for (size_t i = 0; i < size; ++i)
            data_[i] = std::byte{0};
    }
    ~Aligned() { ::operator delete(data_, std::align_val_t(alignment_)); }
    Aligned(const Aligned&) = delete;
    Aligned& operator=(const Aligned&) = delete;

    std::span<std::byte> span() { return {data_, size_}; }
    std::byte* data() { return data_; }
    size_t size() const { return size_; }
    void fill(unsigned seed) {
        for (size_t i = 0; i < size_; ++i)
            data_[i] = static_cast<std::byte>((i * 31 + seed + i / 512) & 0xFF);
    }

  private:
    size_t size_;
    std::byte* data_;
    size_t alignment_;
};

}  // namespace sw::test
