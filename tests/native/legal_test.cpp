// Self-checking tests of the full rules. Exits non-zero when any check fails.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "velkorant/legal.hpp"

using namespace velkorant;

namespace {

int passed = 0;
int failed = 0;
const char* group = "";

void record(bool ok, const std::string& what, int line) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL [%s] line %d: %s\n", group, line, what.c_str());
    }
}

#define CHECK(cond) record((cond), #cond, __LINE__)
#define CHECK_EQ(a, b)                                                                          \
    do {                                                                                        \
        const auto va_ = (a);                                                                   \
        const auto vb_ = (b);                                                                   \
        record(va_ == vb_, std::string(#a " == " #b ": ") + std::to_string(va_) + " vs " +    \
                               std::to_string(vb_), __LINE__);                                  \
    } while (0)

// A board from the library's text form (rows 9 down to 1, columns 1 to 9, upper case Black)
// and the hands as "PPG" / "p" strings.
Board from_text(std::string_view placement, std::string_view black_hand = "", std::string_view white_hand = "") {
    constexpr std::string_view letters = "kgrbsnlp";
    Board board;
    unsigned row = 9, column = 1;
    bool promote = false;
    for (char ch : placement) {
        if (ch == '/') { --row; column = 1; continue; }
        if (ch >= '1' && ch <= '9') { column += static_cast<unsigned>(ch - '0'); continue; }
        if (ch == '+') { promote = true; continue; }
        const bool black = ch >= 'A' && ch <= 'Z';
        const char lower = black ? static_cast<char>(ch - 'A' + 'a') : ch;
        Kind kind = static_cast<Kind>(letters.find(lower) + 1);
        if (promote) kind = promoted(kind);
        promote = false;
        board.deploy(static_cast<std::uint8_t>(row * 11 + column), kind, black ? Color::Black : Color::White);
        ++column;
    }
    for (char ch : black_hand) board.hand.add_piece(Color::Black, static_cast<Kind>(letters.find(static_cast<char>(ch - 'A' + 'a')) + 1));
    for (char ch : white_hand) board.hand.add_piece(Color::White, static_cast<Kind>(letters.find(ch) + 1));
    return board;
}

bool legal(const Board& board, Color side, const char* text) { return is_legal(board, side, Move::parse(text)); }

void test_perft() {
    group = "perft";
    Board board;
    board.startpos();
    const std::uint64_t expected[] = {1, 30, 900, 25470, 719731};
    for (int depth = 0; depth <= 4; ++depth) CHECK_EQ(legal_perft(board, Color::Black, depth), expected[depth]);
}

void test_pawn_drop_mate() {
    group = "pawn drop mate";
    // White's king on 3i, its gold on 4i pinned by Black's dragon on 5i; the pawn on 3h is
    // guarded by the tokin on 3g and the rook on 4h, the horse on 1h covers the escapes.
    const Board pinned = from_text("2kg+R4/+B2R5/2+P6/9/9/9/4K4/9/9", "P");
    CHECK(!legal(pinned, Color::Black, "P*3h"));
    CHECK(legal(pinned, Color::Black, "P*3g") == false);  // occupied by the tokin
    CHECK(legal(pinned, Color::Black, "P*2h"));
    // Without the dragon the gold may take the pawn: a check, not a mate.
    const Board free_gold = from_text("2kg5/+B2R5/2+P6/9/9/9/4K4/9/9", "P");
    CHECK(legal(free_gold, Color::Black, "P*3h"));
}

}  // namespace

int main() {
    test_perft();
    test_pawn_drop_mate();
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
