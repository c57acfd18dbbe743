// The packed move word and its text form.
//
//   bits 0..6   from: source square, or the piece code of a drop
//   bits 7..13  to: destination square
//   bit 14      promote
//   bit 15      drop
#pragma once

#include <algorithm>
#include <memory>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "velkorant/address.hpp"
#include "velkorant/piece.hpp"

namespace velkorant {

struct Move {
    std::uint16_t word = 0;

    // from | to << 7 | promote << 14 | drop << 15 in 16 bits, nothing masked to its field.
    static constexpr Move base_constructor(std::uint8_t from, std::uint8_t to,
                                           std::uint8_t promote, std::uint8_t drop) {
        return Move{static_cast<std::uint16_t>(from | (to << 7) | (promote << 14) | (drop << 15))};
    }

    // A board move, a board move that promotes on arrival, a drop of the piece with `piece_code`
    // (kind + 64 * owner). Squares and codes are below 128.
    static constexpr Move normal(unsigned from, unsigned to) {
        return Move{static_cast<std::uint16_t>(from | to << 7)};
    }
    static constexpr Move promoting(unsigned from, unsigned to) {
        return Move{static_cast<std::uint16_t>(from | to << 7 | 1u << 14)};
    }
    static constexpr Move drop_of(unsigned piece_code, unsigned to) {
        return Move{static_cast<std::uint16_t>(piece_code | to << 7 | 1u << 15)};
    }

    // The seven bits starting k places below the most significant bit: k = 9 reads `from`,
    // k = 2 reads `to`.
    constexpr std::uint8_t get_base(unsigned k) const {
        return static_cast<std::uint8_t>(static_cast<std::uint16_t>(word << k) >> 9);
    }
    constexpr std::uint8_t from() const { return word & 127; }
    constexpr std::uint8_t to() const { return (word >> 7) & 127; }
    constexpr bool is_promote() const { return (word >> 14) & 1; }
    constexpr bool is_drop() const { return (word >> 15) & 1; }

    constexpr Address get_from() const { return Address::from_index(from()); }
    constexpr Address get_to() const { return Address::from_index(to()); }
    constexpr Piece get_piece() const { return Piece::from_u8(from()); }

    // Parses "7g7f", "7g7f+", "P*5e" from UTF-8 bytes. Texts too short to hold the destination
    // square panic; nothing else is validated.
    static Move parse(std::string_view utf8);
    // The move text: "7g7f", "7g7f+", "P*5e".
    std::string to_string() const;

    // The USI text: "7g7f", "8h2b+", "P*5e" (files 9..1 right to left from Black's side, ranks
    // a..i from White's side). A move whose squares lie off the playing area, or a drop that is
    // not of Gold or Rook..Pawn or carries the promote flag, has none: ValueError naming the
    // move text.
    std::string usi() const;
    // Parses the USI text of a move of `color` (Black or White, the owner of a dropped piece):
    // exactly [1-9][a-i][1-9][a-i] with an optional "+", or [RBGSNLP]*[1-9][a-i]. Anything else
    // is a ValueError quoting the text.
    static Move from_usi(std::string_view usi, Color color);
};

// The result of move generation. The first kInline moves live inside the list itself, which
// covers the generator's worst-case reservation for any position with up to 40 pieces of the
// side to move, so a list made for one call allocates nothing; larger lists (odd positions)
// move to the heap. Storage is never cleared: only the moves written count.
class MoveList {
public:
    static constexpr std::size_t kInline = 8192;

    MoveList() = default;
    MoveList(const MoveList& other) { *this = other; }
    MoveList& operator=(const MoveList& other) {
        if (this != &other) {
            size_ = 0;
            std::uint16_t* out = append_space(other.size_);
            std::copy(other.data(), other.data() + other.size_, out);
            size_ = other.size_;
        }
        return *this;
    }

    void clear() { size_ = 0; }
    void push_back(Move m) { *append_space(1) = m.word, ++size_; }
    // Direct filling, for the move generator: makes room for `n` more moves and returns where
    // the next one goes; `commit` then keeps every move written before `end`.
    std::uint16_t* append_space(std::size_t n) {
        if (size_ + n > capacity_) {
            std::size_t grown = capacity_ * 2;
            if (grown < size_ + n) grown = size_ + n;
            auto bigger = std::make_unique_for_overwrite<std::uint16_t[]>(grown);
            std::copy(data(), data() + size_, bigger.get());
            heap_ = std::move(bigger);
            capacity_ = grown;
        }
        return data() + size_;
    }
    void commit(const std::uint16_t* end) { size_ = static_cast<std::size_t>(end - data()); }
    std::size_t size() const { return size_; }
    Move operator[](std::size_t i) const { return Move{data()[i]}; }
    const std::uint16_t* data() const { return heap_ ? heap_.get() : inline_; }
    std::uint16_t* data() { return heap_ ? heap_.get() : inline_; }

private:
    std::uint16_t inline_[kInline];
    std::unique_ptr<std::uint16_t[]> heap_;
    std::size_t capacity_ = kInline;
    std::size_t size_ = 0;
};

}  // namespace velkorant
