// A growable array of trivially copyable items that reports exhausted memory by its
// return value instead of throwing.
#pragma once
#include <cstdlib>
#include <cstring>
#include <type_traits>

namespace corvane::json_in {

template <class T>
class PodStack {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    PodStack() noexcept = default;
    PodStack(const PodStack&) = delete;
    PodStack& operator=(const PodStack&) = delete;
    ~PodStack() { std::free(data_); }

    bool push(const T& v) noexcept {
        if (size_ == cap_ && !grow(size_ + 1)) return false;
        data_[size_++] = v;
        return true;
    }
    bool append(const T* v, size_t n) noexcept {
        if (cap_ - size_ < n && !grow(size_ + n)) return false;
        if (n) std::memcpy(data_ + size_, v, n * sizeof(T));
        size_ += n;
        return true;
    }
    // Room for `n` more items; false when memory is exhausted.
    bool reserve_more(size_t n) noexcept { return cap_ - size_ >= n || grow(size_ + n); }
    // After reserve_more: append without a capacity check.
    void push_reserved(const T& v) noexcept { data_[size_++] = v; }
    void extend_reserved(size_t n) noexcept { size_ += n; }
    // Sets all `n` items to `v`.
    bool assign(size_t n, const T& v) noexcept {
        size_ = 0;
        if (!reserve_more(n)) return false;
        for (size_t i = 0; i < n; ++i) data_[i] = v;
        size_ = n;
        return true;
    }

    T* data() noexcept { return data_; }
    const T* data() const noexcept { return data_; }
    size_t size() const noexcept { return size_; }
    T& operator[](size_t i) noexcept { return data_[i]; }
    const T& operator[](size_t i) const noexcept { return data_[i]; }
    void truncate(size_t n) noexcept { size_ = n; }

private:
    bool grow(size_t need) noexcept {
        size_t cap = cap_ ? cap_ * 2 : 32;
        while (cap < need) cap *= 2;
        void* p = std::realloc(data_, cap * sizeof(T));
        if (!p) return false;
        data_ = static_cast<T*>(p);
        cap_ = cap;
        return true;
    }

    T* data_ = nullptr;
    size_t size_ = 0;
    size_t cap_ = 0;
};

}  // namespace corvane::json_in
