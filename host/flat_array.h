// A growable array of plain values for the mesh's large arrays. A small array lives on the heap;
// once it outgrows a few pages it has pages of its own, which grow by remapping them instead of
// copying, so a layer of millions of points never holds its old and new arrays side by side and
// the room grown ahead takes no memory until a value is written there. Allocation failure throws
// std::bad_alloc, which a build reports as "Memory allocation error"; after a failed growth the
// array holds what it held before. That is its only error condition.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

namespace host {

// The blocks under FlatArray: the heap for small ones, pages of their own for large ones.
namespace flat_block {
// Bytes from which a block has pages of its own, unless the process asks for more.
constexpr std::size_t own_pages_from = std::size_t{256} << 10;
// Blocks up to bytes stay on the heap from now on: for a process whose heap lies on huge pages
// (the build command's), where a small tree's arrays are then faulted in two megabytes at a
// time, not four kilobytes, at the cost of a copy as they grow. Never below own_pages_from.
// False, changing nothing, once any block has had pages of its own (a block's size tells
// where it lies, so the line is drawn before the first such block or never) and where no block
// ever has them (sanitizer builds, whose allocator watches heap blocks only).
bool keep_on_heap_up_to(std::size_t bytes);
// A block of bytes holding the first keep bytes of block (of old_bytes), which it replaces;
// null when there is no memory (block is then untouched). bytes 0 frees block.
void *resize(void *block, std::size_t old_bytes, std::size_t bytes, std::size_t keep);
} // namespace flat_block

template <typename T> class FlatArray {
    static_assert(std::is_trivially_copyable_v<T>, "a flat array holds plain values");

public:
    FlatArray() = default;
    FlatArray(std::initializer_list<T> values) { append(values.begin(), values.size()); }
    FlatArray(const FlatArray &other) { append(other.data_, other.size_); }
    FlatArray(FlatArray &&other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
          capacity_(std::exchange(other.capacity_, 0))
    {
    }
    FlatArray &operator=(const FlatArray &other)
    {
        if (this != &other) {
            size_ = 0;
            append(other.data_, other.size_);
        }
        return *this;
    }
    FlatArray &operator=(FlatArray &&other) noexcept
    {
        std::swap(data_, other.data_);
        std::swap(size_, other.size_);
        std::swap(capacity_, other.capacity_);
        return *this;
    }
    ~FlatArray() { flat_block::resize(data_, capacity_ * sizeof(T), 0, 0); }

    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    // The bytes the array's block holds, grown room included.
    std::size_t bytes() const { return capacity_ * sizeof(T); }
    bool empty() const { return size_ == 0; }
    T *data() { return data_; }
    const T *data() const { return data_; }
    T *begin() { return data_; }
    T *end() { return data_ + size_; }
    const T *begin() const { return data_; }
    const T *end() const { return data_ + size_; }
    T &operator[](std::size_t i) { return data_[i]; }
    const T &operator[](std::size_t i) const { return data_[i]; }
    T &back() { return data_[size_ - 1]; }
    const T &back() const { return data_[size_ - 1]; }

    void push_back(const T &value)
    {
        if (size_ == capacity_)
            grow(size_ + 1);
        data_[size_++] = value;
    }
    // Whether count more elements fit in the room grown already.
    bool has_room(std::size_t count) const { return count <= capacity_ - size_; }
    // count more elements, their values left to the caller to write; the first of them.
    T *extend(std::size_t count)
    {
        if (count > capacity_ - size_)
            grow(size_ + count);
        T *first = data_ + size_;
        size_ += count;
        return first;
    }
    void append(const T *values, std::size_t count)
    {
        if (count == 0)
            return;
        if (count > capacity_ - size_)
            grow(size_ + count);
        std::memcpy(static_cast<void *>(data_ + size_), values, count * sizeof(T));
        size_ += count;
    }
    // New elements take value.
    void resize(std::size_t count, const T &value = T{})
    {
        if (count > capacity_)
            grow(count);
        for (std::size_t i = size_; i < count; ++i)
            data_[i] = value;
        size_ = count;
    }
    void reserve(std::size_t count)
    {
        if (count > capacity_)
            resize_block(count);
    }
    void clear() { size_ = 0; }
    // Gives back the room grown beyond the values held; a block is shrunk where it lies.
    void shrink_to_fit()
    {
        if (size_ == capacity_)
            return;
        resize_block(size_);
    }

private:
    // At least half as much again, so that pushing one value at a time costs little.
    void grow(std::size_t least)
    {
        std::size_t target = capacity_ + capacity_ / 2;
        if (target < least)
            target = least;
        if (target < 16)
            target = 16;
        resize_block(target);
    }
    void resize_block(std::size_t count)
    {
        if (count > static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max()) / sizeof(T))
            throw std::bad_alloc();
        void *block = flat_block::resize(static_cast<void *>(data_), capacity_ * sizeof(T), count * sizeof(T),
                                         size_ * sizeof(T));
        if (!block && count > 0)
            throw std::bad_alloc();
        data_ = static_cast<T *>(block);
        capacity_ = count;
    }

    T *data_ = nullptr;
    std::size_t size_ = 0, capacity_ = 0;
};

} // namespace host
