// A growable array of plain values for the mesh's large arrays. It grows with realloc, which
// moves a large block by remapping its pages instead of copying them, so a layer of millions of
// points never holds its old and new arrays side by side. Allocation failure throws
// std::bad_alloc, which a build reports as "Memory allocation error"; after a failed growth the
// array holds what it held before. That is its only error condition.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <type_traits>
#include <utility>

namespace host {

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
    ~FlatArray() { std::free(data_); }

    std::size_t size() const { return size_; }
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
    // Gives back the room grown beyond the values held; realloc shrinks a block where it lies.
    void shrink_to_fit()
    {
        if (size_ == capacity_)
            return;
        if (size_ == 0) {
            std::free(data_);
            data_ = nullptr;
            capacity_ = 0;
            return;
        }
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
        if (count > static_cast<std::size_t>(PTRDIFF_MAX) / sizeof(T))
            throw std::bad_alloc();
        void *block = std::realloc(static_cast<void *>(data_), count * sizeof(T));
        if (!block)
            throw std::bad_alloc();
        data_ = static_cast<T *>(block);
        capacity_ = count;
    }

    T *data_ = nullptr;
    std::size_t size_ = 0, capacity_ = 0;
};

} // namespace host
