// Self-checking tests of the board picture. Exits non-zero when any check fails.
//
// The picture is read back as a viewer would place it: a piece's square from its translate()
// against the board rectangle, its orientation from the half turn, its colour from its fill.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "velkorant/svg.hpp"

using namespace velkorant;

namespace {

int passed = 0;
int failed = 0;

void record(bool ok, const std::string& what, int line) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL line %d: %s\n", line, what.c_str());
    }
}
#define CHECK(cond) record((cond), #cond, __LINE__)
#define CHECK_EQ(a, b) record((a) == (b), std::string(#a " == " #b ": ") + std::to_string(a) + " vs " + std::to_string(b), __LINE__)

std::size_t count(std::string_view text, std::string_view what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != text.npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The elements that start with `open`, each up to its closing "</g>" or "/>".
std::vector<std::string> elements(const std::string& svg, std::string_view open) {
    std::vector<std::string> out;
    for (auto at = svg.find(open); at != svg.npos; at = svg.find(open, at + 1)) {
        const auto end = svg.find('\n', at);
        out.push_back(svg.substr(at, end - at));
    }
    return out;
}

// The element holds `text` as the whole content of a text element.
bool shows(const std::string& element, std::string_view text) {
    std::string content(">");
    content += text;
    content += "<";
    return element.find(content) != element.npos;
}

int attribute(const std::string& element, const std::string& name) {
    const auto at = element.find(" " + name + "=\"");
    return at == element.npos ? -1 : std::stoi(element.substr(at + name.size() + 3));
}

// The picture's square of a piece element: (file, rank) as USI numbers them, 9a top-left.
struct Square {
    int file, rank;
};
Square square_of(const std::string& svg, const std::string& piece) {
    const std::string board = elements(svg, "<rect id=\"board\"").at(0);
    const int left = attribute(board, "x"), top = attribute(board, "y");
    const int width = attribute(board, "width") / 9, height = attribute(board, "height") / 9;
    const auto at = piece.find("translate(") + 10;
    const int x = std::stoi(piece.substr(at)), y = std::stoi(piece.substr(piece.find(',', at) + 1));
    return {9 - (x - left) / width, 1 + (y - top) / height};
}

std::uint8_t index_of(int column, int row) { return static_cast<std::uint8_t>(row * 11 + column); }

void test_document() {
    Board board;
    board.startpos();
    const std::string svg = to_svg(board);
    CHECK(svg.starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\""));
    CHECK(svg.ends_with("</svg>\n"));
    const std::string root = elements(svg, "<svg ").at(0);
    CHECK_EQ(attribute(root, "width"), kSvgWidth);
    CHECK_EQ(attribute(root, "height"), kSvgHeight);
    CHECK(root.find("viewBox=\"0 0 " + std::to_string(kSvgWidth) + " " + std::to_string(kSvgHeight) + "\"") != root.npos);
    CHECK_EQ(count(svg, "<script"), 0u);
    CHECK_EQ(count(svg, "href"), 0u);
    CHECK(svg == to_svg(Board(board)));
    // Forty pieces, White's twenty turned; the kings are 玉 below and 王 above.
    const auto pieces = elements(svg, "<g class=\"piece\"");
    CHECK_EQ(pieces.size(), 40u);
    for (const auto& piece : pieces) {
        const Square s = square_of(svg, piece);
        CHECK((piece.find("rotate(180") != piece.npos) == (s.rank <= 3));
        if (s.file == 5 && s.rank == 9) CHECK(shows(piece, "玉"));
        if (s.file == 5 && s.rank == 1) CHECK(shows(piece, "王"));
        if (s.file == 2 && s.rank == 8) CHECK(shows(piece, "飛"));
        if (s.file == 8 && s.rank == 8) CHECK(shows(piece, "角"));
    }
}

// One piece on one square: where it is drawn and how.
void test_pieces() {
    struct Case {
        int column, row;
        Kind kind;
        Color color;
        std::string_view kanji;
        int file, rank;
        bool turned, red, grey;
    };
    const Case cases[] = {
        {1, 9, Kind::Lance, Color::White, "香", 9, 1, true, false, false},
        {9, 9, Kind::Knight, Color::Black, "桂", 1, 1, false, false, false},
        {1, 1, Kind::Silver, Color::Black, "銀", 9, 9, false, false, false},
        {9, 1, Kind::Gold, Color::White, "金", 1, 9, true, false, false},
        {3, 3, Kind::Pawn, Color::Black, "歩", 7, 7, false, false, false},
        {5, 5, Kind::Dragon, Color::White, "龍", 5, 5, true, true, false},
        {2, 8, Kind::Horse, Color::Black, "馬", 8, 2, false, true, false},
        {4, 6, Kind::ProSilver, Color::Black, "全", 6, 4, false, true, false},
        {6, 4, Kind::ProKnight, Color::White, "圭", 4, 6, true, true, false},
        {7, 2, Kind::ProLance, Color::Black, "杏", 3, 8, false, true, false},
        {8, 7, Kind::ProPawn, Color::White, "と", 2, 3, true, true, false},
        {5, 1, Kind::King, Color::None, "玉", 5, 9, false, false, true},
        {5, 9, Kind::Rook, Color::ColorNumber, "飛", 5, 1, false, false, true},
        {6, 9, Kind::Bichop, Color::White, "角", 4, 1, true, false, false},
    };
    for (const Case& c : cases) {
        Board board;
        board.deploy(index_of(c.column, c.row), c.kind, c.color);
        const std::string svg = to_svg(board);
        const auto pieces = elements(svg, "<g class=\"piece\"");
        CHECK_EQ(pieces.size(), 1u);
        if (pieces.size() != 1) continue;
        const std::string& piece = pieces[0];
        const Square s = square_of(svg, piece);
        CHECK_EQ(s.file, c.file);
        CHECK_EQ(s.rank, c.rank);
        CHECK(shows(piece, c.kanji));
        CHECK((piece.find("rotate(180") != piece.npos) == c.turned);
        CHECK((piece.find("#c8102e") != piece.npos) == c.red);
        CHECK((piece.find("#dddddd") != piece.npos) == c.grey);
    }
    // Nothing off the playing area, nothing for an occupied square of kind None.
    Board board;
    for (std::uint8_t i : {0, 11, 21, 109, 120, 121, 127}) board.deploy(i, Kind::Rook, Color::Black);
    board.deploy(index_of(5, 5), Kind::None, Color::Black);
    CHECK_EQ(count(to_svg(board), "class=\"piece\""), 0u);
}

void test_hands_and_marks() {
    Board board;
    board.hand.add_pieces(Color::Black, Kind::Pawn, 2);
    board.hand.add_pieces(Color::Black, Kind::Silver, 1);
    board.hand.add_pieces(Color::Black, Kind::Rook, 1);
    board.hand.add_pieces(Color::White, Kind::Lance, 12);
    std::string svg = to_svg(board);
    CHECK(svg.find(">☗ 飛 銀 歩2</text>") != svg.npos);
    CHECK(svg.find(">☖ 香12</text>") != svg.npos);
    CHECK(to_svg(Board()).find(">☖ なし</text>") != svg.npos);
    CHECK_EQ(count(svg, "textLength"), 0u);
    // A hand too long for the board's width is squeezed into it, not cut off.
    for (Kind k : {Kind::King, Kind::Rook, Kind::Bichop, Kind::Gold, Kind::Silver, Kind::Knight, Kind::Lance})
        board.hand.add_pieces(Color::Black, k, 200);
    CHECK_EQ(count(to_svg(board), "textLength"), 1u);

    struct Case {
        SvgMarks marks;
        std::size_t highlighted;
        std::string_view caption;
    };
    const Case cases[] = {
        {{}, 0, ""},
        {{Color::Black, false, {}}, 0, "☗ to move"},
        {{Color::White, true, Move::base_constructor(index_of(3, 3), index_of(3, 4), 0, 0)}, 2, "☖ to move"},
        {{Color::ColorNumber, true, Move::base_constructor(8 | 64, index_of(5, 5), 0, 1)}, 1, ""},
        {{Color::None, true, Move::base_constructor(0, index_of(5, 5), 1, 0)}, 1, ""},
    };
    for (const Case& c : cases) {
        svg = to_svg(Board(), c.marks);
        CHECK_EQ(count(svg, "class=\"last-move\""), c.highlighted);
        CHECK_EQ(count(svg, "class=\"turn\""), c.caption.empty() ? 0u : 1u);
        if (!c.caption.empty()) CHECK(svg.find(std::string(c.caption) + "</text>") != svg.npos);
    }
    // The highlighted squares are the move's: 7g and 7f.
    svg = to_svg(Board(), cases[2].marks);
    std::vector<std::pair<int, int>> marked;
    const std::string b = elements(svg, "<rect id=\"board\"").at(0);
    for (const auto& rect : elements(svg, "<rect class=\"last-move\""))
        marked.emplace_back(9 - (attribute(rect, "x") - attribute(b, "x")) / attribute(rect, "width"),
                            1 + (attribute(rect, "y") - attribute(b, "y")) / attribute(rect, "height"));
    CHECK(marked == (std::vector<std::pair<int, int>>{{7, 7}, {7, 6}}));
}

}  // namespace

int main() {
    test_document();
    test_pieces();
    test_hands_and_marks();
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
