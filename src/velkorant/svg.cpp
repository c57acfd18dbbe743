#include "velkorant/svg.hpp"

#include <array>
#include <cstddef>
#include <string_view>

namespace velkorant {

namespace {

// Layout, in pixels. Squares are a little taller than wide, as on a real board.
constexpr int kSquareWidth = 44;
constexpr int kSquareHeight = 48;
constexpr int kBoardWidth = 9 * kSquareWidth;
constexpr int kBoardHeight = 9 * kSquareHeight;
constexpr int kBoardLeft = 38;
constexpr int kBoardTop = 72;
constexpr int kBoardRight = kBoardLeft + kBoardWidth;
constexpr int kBoardBottom = kBoardTop + kBoardHeight;
constexpr int kWhiteHandBaseline = 38;
constexpr int kFileLabelBaseline = 64;
constexpr int kBlackHandBaseline = kBoardBottom + 32;
constexpr int kCaptionBaseline = kBoardBottom + 60;
constexpr int kHandFontSize = 20;
constexpr int kPieceFontSize = 27;
constexpr int kPieceBaseline = 36;
static_assert(kCaptionBaseline + 12 < kSvgHeight, "the caption must fit above the bottom edge");
static_assert(kBoardRight + 36 < kSvgWidth, "the rank labels must fit beside the board");

constexpr std::string_view kFonts =
    "'Noto Serif CJK JP','Source Han Serif JP','Hiragino Mincho ProN','Yu Mincho','MS Mincho',"
    "'IPAMincho','Noto Sans CJK JP','Source Han Sans JP',serif";
constexpr std::string_view kBackground = "#ffffff";
constexpr std::string_view kWood = "#f1d59b";
constexpr std::string_view kLine = "#3b2a14";
constexpr std::string_view kHighlight = "#a9d98b";
constexpr std::string_view kPieceFace = "#fdf1d6";
constexpr std::string_view kPieceEdge = "#7a5a2c";
constexpr std::string_view kInk = "#1a1a1a";
constexpr std::string_view kPromotedInk = "#c8102e";
constexpr std::string_view kStrayFace = "#dddddd";
constexpr std::string_view kStrayInk = "#707070";

// The five corners of a piece standing in a square whose top-left corner is (0, 0), point up.
// It is symmetric under a half turn about the square's centre, so a turned piece keeps to its
// square.
constexpr std::string_view kPieceOutline = "22,4 33,9 37,44 7,44 11,9";

// Kanji by kind number; the king is 玉 for Black and 王 for White.
constexpr std::array<std::string_view, kKinds> kKanji = {
    "", "玉", "金", "飛", "角", "銀", "桂", "香", "歩", "龍", "馬", "全", "圭", "杏", "と",
};
constexpr std::string_view kWhiteKing = "王";
constexpr std::array<std::string_view, 9> kRankKanji = {
    "一", "二", "三", "四", "五", "六", "七", "八", "九",
};
constexpr std::string_view kBlackMark = "☗";
constexpr std::string_view kWhiteMark = "☖";

// Order of the pieces in a hand as players write it: most valuable first.
constexpr std::array<Kind, 8> kHandOrder = {
    Kind::King, Kind::Rook, Kind::Bichop, Kind::Gold,
    Kind::Silver, Kind::Knight, Kind::Lance, Kind::Pawn,
};

// Text content, written with the five XML special characters escaped.
struct Escaped {
    std::string_view text;
};

void put(std::string& out, std::string_view text) { out += text; }
void put(std::string& out, const char* text) { out += text; }
void put(std::string& out, int n) { out += std::to_string(n); }
void put(std::string& out, Escaped escaped) {
    for (char ch : escaped.text) {
        switch (ch) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&apos;"; break;
            default: out += ch;
        }
    }
}

// Appends each part in turn: markup, numbers in decimal, escaped text.
template <class... Parts>
void emit(std::string& out, const Parts&... parts) {
    (put(out, parts), ...);
}

bool on_playing_area(unsigned index) {
    const unsigned row = index / 11, column = index % 11;
    return row >= 1 && row <= 9 && column >= 1 && column <= 9;
}

// Top-left corner of a playing square: column 1 is the left edge, row 9 the top.
int square_left(unsigned index) { return kBoardLeft + static_cast<int>(index % 11 - 1) * kSquareWidth; }
int square_top(unsigned index) { return kBoardTop + static_cast<int>(9 - index / 11) * kSquareHeight; }

// The owner as drawn: the colour set that holds the square, or None when neither does
// (a piece deployed with colour None or ColorNumber).
Color drawn_owner(const Board& board, unsigned index) {
    if (board.color_boards[0].test(index)) return Color::Black;
    if (board.color_boards[1].test(index)) return Color::White;
    return Color::None;
}

// "☗ 飛 歩2", "☖ なし" when the hand is empty.
std::string hand_text(const Board& board, Color side) {
    std::string text(side == Color::Black ? kBlackMark : kWhiteMark);
    bool any = false;
    for (Kind kind : kHandOrder) {
        const int count = board.hand.counts[static_cast<std::size_t>(byte_of(side) * 8 + number(kind) - 1)];
        if (count == 0) continue;
        any = true;
        emit(text, " ", kind == Kind::King && side == Color::White ? kWhiteKing : kKanji[number(kind)]);
        if (count > 1) emit(text, count);
    }
    if (!any) emit(text, " なし");
    return text;
}

// Rough advance of a line in tenths of an em: ASCII digits and spaces are narrow, everything
// else (kanji, kana, the side marks) is a full em.
int estimated_tenths(std::string_view utf8) {
    int tenths = 0;
    for (unsigned char ch : utf8) {
        if (ch == ' ') tenths += 3;
        else if (ch < 0x80) tenths += 6;
        else if (ch >= 0xC0) tenths += 10;  // lead byte of a multi-byte character
    }
    return tenths;
}

// One line of hand text; squeezed into the board's width if it would run past it.
void append_hand(std::string& out, const Board& board, Color side) {
    const std::string text = hand_text(board, side);
    const bool black = side == Color::Black;
    emit(out, "<text class=\"hand\" x=\"", black ? kBoardRight : kBoardLeft, "\" y=\"",
         black ? kBlackHandBaseline : kWhiteHandBaseline, "\" font-size=\"", kHandFontSize,
         "\" text-anchor=\"", black ? "end" : "start", "\"");
    if (estimated_tenths(text) * kHandFontSize > kBoardWidth * 10)
        emit(out, " textLength=\"", kBoardWidth, "\" lengthAdjust=\"spacingAndGlyphs\"");
    emit(out, ">", Escaped{text}, "</text>\n");
}

void append_highlight(std::string& out, unsigned index) {
    if (!on_playing_area(index)) return;
    emit(out, "<rect class=\"last-move\" x=\"", square_left(index), "\" y=\"", square_top(index),
         "\" width=\"", kSquareWidth, "\" height=\"", kSquareHeight, "\" fill=\"", kHighlight,
         "\"/>\n");
}

// The board's lines: eight inner lines each way, the outer frame and the four star points.
void append_grid(std::string& out) {
    emit(out, "<path d=\"");
    for (int i = 1; i < 9; ++i) {
        emit(out, "M", kBoardLeft + i * kSquareWidth, " ", kBoardTop, "V", kBoardBottom);
        emit(out, "M", kBoardLeft, " ", kBoardTop + i * kSquareHeight, "H", kBoardRight);
    }
    emit(out, "\" stroke=\"", kLine, "\" stroke-width=\"1\" shape-rendering=\"crispEdges\"/>\n");
    emit(out, "<rect x=\"", kBoardLeft, "\" y=\"", kBoardTop, "\" width=\"", kBoardWidth,
         "\" height=\"", kBoardHeight, "\" fill=\"none\" stroke=\"", kLine,
         "\" stroke-width=\"2\"/>\n");
    for (int i : {3, 6})
        for (int j : {3, 6})
            emit(out, "<circle cx=\"", kBoardLeft + i * kSquareWidth, "\" cy=\"",
                 kBoardTop + j * kSquareHeight, "\" r=\"3\" fill=\"", kLine, "\"/>\n");
}

void append_piece(std::string& out, unsigned index, Kind kind, Color owner) {
    const bool stray = !is_side(owner);
    emit(out, "<g class=\"piece\" transform=\"translate(", square_left(index), ",",
         square_top(index), ")");
    // White's pieces face Black: a half turn about the square's centre.
    if (owner == Color::White) emit(out, " rotate(180 ", kSquareWidth / 2, " ", kSquareHeight / 2, ")");
    emit(out, "\"><polygon points=\"", kPieceOutline, "\" fill=\"", stray ? kStrayFace : kPieceFace,
         "\" stroke=\"", kPieceEdge, "\" stroke-width=\"1\"/><text x=\"", kSquareWidth / 2,
         "\" y=\"", kPieceBaseline, "\" font-size=\"", kPieceFontSize,
         "\" font-weight=\"bold\" text-anchor=\"middle\" fill=\"",
         stray ? kStrayInk : number(kind) >= 9 ? kPromotedInk : kInk, "\">",
         Escaped{kind == Kind::King && owner == Color::White ? kWhiteKing : kKanji[number(kind)]},
         "</text></g>\n");
}

}  // namespace

std::string to_svg(const Board& board, const SvgMarks& marks) {
    std::string out;
    out.reserve(12000);
    emit(out, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    emit(out, "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"", kSvgWidth,
         "\" height=\"", kSvgHeight, "\" viewBox=\"0 0 ", kSvgWidth, " ", kSvgHeight,
         "\" font-family=\"", kFonts, "\" fill=\"", kInk, "\">\n");
    emit(out, "<title>", Escaped{"Shogi position "}, Escaped{board.placement()}, "</title>\n");
    emit(out, "<rect width=\"", kSvgWidth, "\" height=\"", kSvgHeight, "\" fill=\"", kBackground,
         "\"/>\n");

    append_hand(out, board, Color::White);

    // Files 9..1 left to right above the board, ranks 一..九 top to bottom on its right.
    emit(out, "<g class=\"coordinates\" font-size=\"16\" text-anchor=\"middle\">\n");
    for (int i = 0; i < 9; ++i)
        emit(out, "<text x=\"", kBoardLeft + i * kSquareWidth + kSquareWidth / 2, "\" y=\"",
             kFileLabelBaseline, "\">", 9 - i, "</text>\n");
    for (int i = 0; i < 9; ++i)
        emit(out, "<text x=\"", kBoardRight + 18, "\" y=\"",
             kBoardTop + i * kSquareHeight + kSquareHeight / 2 + 6, "\">",
             kRankKanji[static_cast<std::size_t>(i)], "</text>\n");
    emit(out, "</g>\n");

    emit(out, "<rect id=\"board\" x=\"", kBoardLeft, "\" y=\"", kBoardTop, "\" width=\"",
         kBoardWidth, "\" height=\"", kBoardHeight, "\" fill=\"", kWood, "\"/>\n");
    if (marks.has_last) {
        if (!marks.last.is_drop()) append_highlight(out, marks.last.from());
        append_highlight(out, marks.last.to());
    }
    append_grid(out);

    // Top row first, each row from the left: the order a reader's eye takes.
    for (unsigned row = 9; row >= 1; --row) {
        for (unsigned column = 1; column <= 9; ++column) {
            const unsigned index = row * 11 + column;
            if (!board.occupied.test(index)) continue;
            const Kind kind = board.kind_at(static_cast<std::uint8_t>(index));
            if (kind == Kind::None) continue;
            append_piece(out, index, kind, drawn_owner(board, index));
        }
    }

    append_hand(out, board, Color::Black);
    if (is_side(marks.turn))
        emit(out, "<text class=\"turn\" x=\"", kBoardLeft, "\" y=\"", kCaptionBaseline,
             "\" font-size=\"18\">", Escaped{marks.turn == Color::Black ? kBlackMark : kWhiteMark},
             Escaped{" to move"}, "</text>\n");
    emit(out, "</svg>\n");
    return out;
}

}  // namespace velkorant
