// The packed move word and its text form.
//
//   bits 0..6   from: source square, or the piece code of a drop
//   bits 7..13  to: destination square
//   bit 14      promote
//   bit 15      drop
#pragma once

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

// The result of move generation. Reused between calls so that generating allocates nothing
// once the buffer has grown to the largest list seen.
class MoveList {
public:
    void clear() { size_ = 0; }
    void push_back(Move m) {
        if (size_ == words_.size()) words_.resize(words_.empty() ? 1024 : words_.size() * 2);
        words_[size_++] = m.word;
    }
    // Direct filling, for the move generator: makes room for `n` more moves and returns where
    // the next one goes; `commit` then keeps every move written before `end`.
    std::uint16_t* append_space(std::size_t n) {
        if (size_ + n > words_.size()) {
            std::size_t grown = words_.empty() ? 1024 : words_.size() * 2;
            words_.resize(grown > size_ + n ? grown : size_ + n);
        }
        return words_.data() + size_;
    }
    void commit(const std::uint16_t* end) { size_ = static_cast<std::size_t>(end - words_.data()); }
    std::size_t size() const { return size_; }
    Move operator[](std::size_t i) const { return Move{words_[i]}; }
    const std::uint16_t* data() const { return words_.data(); }

private:
    std::vector<std::uint16_t> words_;
    std::size_t size_ = 0;
};

}  // namespace velkorant
