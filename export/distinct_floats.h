// A list of distinct float tuples (texture coordinates, normals), each kept once in the order it
// was first met, and the place of a tuple in it: the shared `vt` and `vn` lists of an OBJ file.
// Tuples are told apart by their bits, so two corners share an entry only where a reader gets the
// very same numbers back (-0 and 0 are two entries; a NaN matches only its own bits).
//
// The table holds places in the list, not the tuples again: a large tree has millions of them.
// It is probed in a line from the tuple's hash and doubled when half full, so a look-up costs
// about one cache line whatever the tree's size.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace exporter {

template <std::size_t N> class DistinctFloats {
public:
    using Tuple = std::array<float, N>;

    // expected: about how many distinct tuples will come (room is made for them up front).
    explicit DistinctFloats(std::size_t expected = 0) { grow_to(expected * 2); }

    // The place of value in the list, appended at its end when it is new.
    int place_of(const Tuple &value)
    {
        const Bits bits = bits_of(value);
        std::size_t slot = hash(bits) & mask_;
        for (;; slot = (slot + 1) & mask_) {
            const int held = slots_[slot];
            if (held < 0)
                break;
            if (bits_of(list_[static_cast<std::size_t>(held)]) == bits)
                return held;
        }
        const int place = static_cast<int>(list_.size());
        list_.push_back(value);
        slots_[slot] = place;
        if (list_.size() * 2 > slots_.size())
            grow_to(slots_.size() * 2);
        return place;
    }

    const std::vector<Tuple> &list() const { return list_; }
    std::vector<Tuple> take_list() { return std::move(list_); }

private:
    using Bits = std::array<std::uint32_t, N>;

    static Bits bits_of(const Tuple &value)
    {
        Bits bits;
        std::memcpy(bits.data(), value.data(), sizeof bits);
        return bits;
    }
    // Every word mixed in by a multiply, the high half folded down: the slot is taken from the
    // low bits, and a tree's floats differ mostly in their low mantissa bits.
    static std::size_t hash(const Bits &bits)
    {
        std::uint64_t h = 0;
        for (const std::uint32_t word : bits)
            h = (h ^ word) * 0x9E3779B97F4A7C15ull;
        return static_cast<std::size_t>(h ^ (h >> 29));
    }

    // A power of two at least 16 and at least size; every listed tuple placed again.
    void grow_to(std::size_t size)
    {
        std::size_t room = 16;
        while (room < size)
            room *= 2;
        slots_.assign(room, -1);
        mask_ = room - 1;
        for (std::size_t place = 0; place < list_.size(); ++place) {
            std::size_t slot = hash(bits_of(list_[place])) & mask_;
            while (slots_[slot] >= 0)
                slot = (slot + 1) & mask_;
            slots_[slot] = static_cast<int>(place);
        }
    }

    std::vector<Tuple> list_;
    std::vector<int> slots_; // a place in list_, or -1 for none
    std::size_t mask_ = 0;
};

} // namespace exporter
