// Colours (sides) and piece kinds: the numbering that the bit sets, the hand slots, the piece
// code and the move generator all index by.
#pragma once

#include <cstdint>
#include <string_view>

namespace velkorant {

// Stored as one byte; None is -1 as a signed number (stored byte 255).
enum class Color : std::uint8_t { Black = 0, White = 1, ColorNumber = 2, None = 255 };

enum class Kind : std::uint8_t {
    None = 0, King, Gold, Rook, Bichop, Silver, Knight, Lance, Pawn,
    Dragon, Horse, ProSilver, ProKnight, ProLance, ProPawn,
};

inline constexpr int kKinds = 15;

// 0, 1, 2 name Black, White, ColorNumber; every other byte is None.
constexpr Color color_from_number(std::uint8_t n) {
    return n <= 2 ? static_cast<Color>(n) : Color::None;
}

// 1..14 name that kind; everything else is None.
constexpr Kind kind_from_number(std::uint64_t n) {
    return (n >= 1 && n <= 14) ? static_cast<Kind>(n) : Kind::None;
}

constexpr std::uint8_t byte_of(Color c) { return static_cast<std::uint8_t>(c); }
constexpr std::int8_t signed_number(Color c) { return static_cast<std::int8_t>(c); }
constexpr std::uint8_t number(Kind k) { return static_cast<std::uint8_t>(k); }

constexpr bool is_side(Color c) { return c == Color::Black || c == Color::White; }
constexpr Color opponent(Color c) { return c == Color::White ? Color::Black : Color::White; }

// Rook..Pawn promote to Dragon..ProPawn (kind + 6); King and Gold never promote.
constexpr bool is_promotable(Kind k) { return number(k) >= 3 && number(k) <= 8; }
constexpr Kind promoted(Kind k) { return is_promotable(k) ? static_cast<Kind>(number(k) + 6) : k; }
// The kind a captured piece becomes in hand: promoted kinds fall back to their base kind.
constexpr Kind unpromoted(Kind k) { return number(k) >= 9 ? static_cast<Kind>(number(k) - 6) : k; }

constexpr std::string_view debug_name(Color c) {
    switch (c) {
        case Color::Black: return "Black";
        case Color::White: return "White";
        case Color::ColorNumber: return "ColorNumber";
        case Color::None: return "None";
    }
    return "None";
}

constexpr std::string_view debug_name(Kind k) {
    constexpr std::string_view names[kKinds] = {
        "None", "King", "Gold", "Rook", "Bichop", "Silver", "Knight", "Lance", "Pawn",
        "Dragon", "Horse", "ProSilver", "ProKnight", "ProLance", "ProPawn",
    };
    return number(k) < kKinds ? names[number(k)] : "None";
}

}  // namespace velkorant
