// Self-checking tests of the board picture's odd corners: records the full rules never make,
// hands, and the game marks. Exits non-zero when any check fails. (Where each piece stands is
// checked from Python against the board text form, and the rendering in a real browser.)
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "velkorant/svg.hpp"

#include "check.hpp"

using namespace velkorant;

namespace {


// The lines of the document that start with `open`: one element each.
std::vector<std::string> elements(const std::string& svg, std::string_view open) {
    std::vector<std::string> out;
    for (auto at = svg.find(open); at != svg.npos; at = svg.find(open, at + 1))
        out.push_back(svg.substr(at, svg.find('\n', at) - at));
    return out;
}

bool has(const std::string& text, std::string_view part) { return text.find(part) != text.npos; }

std::uint8_t index_of(int column, int row) { return static_cast<std::uint8_t>(row * 11 + column); }

void test_odd_records() {
    Board board;
    // Off the playing area and kind None on an occupied square: nothing is drawn.
    for (std::uint8_t i : {0, 11, 21, 109, 120, 121, 127}) board.deploy(i, Kind::Rook, Color::Black);
    board.deploy(index_of(5, 5), Kind::None, Color::White);
    CHECK(elements(to_svg(board), "<g class=\"piece\"").empty());
    // A piece of no side stands upright in grey, its king is 玉.
    board.deploy(index_of(5, 1), Kind::King, Color::None);
    board.deploy(index_of(5, 9), Kind::Dragon, Color::ColorNumber);
    const auto pieces = elements(to_svg(board), "<g class=\"piece\"");
    CHECK(pieces.size() == 2);
    for (const auto& piece : pieces) CHECK(!has(piece, "rotate") && has(piece, "#dddddd"));
    CHECK(pieces.size() == 2 && has(pieces[0], ">龍<") && has(pieces[1], ">玉<"));
}

void test_hands() {
    Board board;
    CHECK(has(to_svg(board), ">☖ なし</text>") && has(to_svg(board), ">☗ なし</text>"));
    board.hand.add_pieces(Color::Black, Kind::Pawn, 2);
    board.hand.add_pieces(Color::Black, Kind::Silver, 1);
    board.hand.add_pieces(Color::Black, Kind::Rook, 1);
    board.hand.add_pieces(Color::White, Kind::Lance, 12);
    board.hand.add_pieces(Color::White, Kind::King, 1);
    const std::string svg = to_svg(board);
    CHECK(has(svg, ">☗ 飛 銀 歩2</text>") && has(svg, ">☖ 王 香12</text>"));
    CHECK(!has(svg, "textLength"));
    // A hand too long for the board's width is squeezed into it rather than cut off.
    for (Kind k : {Kind::King, Kind::Bichop, Kind::Gold, Kind::Silver, Kind::Knight, Kind::Lance})
        board.hand.add_pieces(Color::Black, k, 200);
    const auto hands = elements(to_svg(board), "<text class=\"hand\"");
    CHECK(hands.size() == 2 && !has(hands[0], "textLength") && has(hands[1], "textLength"));
}

void test_marks() {
    const Move step = Move::base_constructor(index_of(3, 3), index_of(3, 4), 0, 0);
    // A White pawn's drop code (72) is also the index of a playing square: never marked.
    const Move drop = Move::base_constructor(8 | 64, index_of(5, 5), 0, 1);
    const Move off_area = Move::base_constructor(0, index_of(5, 5), 1, 0);
    struct Case {
        SvgMarks marks;
        std::size_t marked;
        std::string_view caption;
    };
    const Case cases[] = {
        {{}, 0, ""},
        {{Color::Black, false, {}}, 0, ">☗ to move<"},
        {{Color::White, true, step}, 2, ">☖ to move<"},
        {{Color::ColorNumber, true, drop}, 1, ""},
        {{Color::None, true, off_area}, 1, ""},
    };
    for (const Case& c : cases) {
        const std::string svg = to_svg(Board(), c.marks);
        CHECK(elements(svg, "<rect class=\"last-move\"").size() == c.marked);
        CHECK(elements(svg, "<text class=\"turn\"").size() == (c.caption.empty() ? 0u : 1u));
        if (!c.caption.empty()) CHECK(has(svg, c.caption));
    }
}

}  // namespace

int main() {
    test_odd_records();
    test_hands();
    test_marks();
    return check::finish();
}
