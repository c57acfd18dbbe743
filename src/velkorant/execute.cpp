#include "velkorant/board.hpp"

namespace velkorant {

namespace {

// The hand slot of a side and an unpromoted kind; any other pair is left to Hand::slot,
// which refuses it with the matching failure.
inline std::size_t hand_slot(Color color, Kind kind) {
    if (is_side(color) && number(kind) >= number(Kind::King) && number(kind) <= number(Kind::Pawn))
        return byte_of(color) * 8u + number(kind) - 1u;
    return Hand::slot(color, kind);
}

}  // namespace

void execute_move(Board& board, Move move) {
    const unsigned to = move.to();
    const unsigned from = move.from();

    // First settle the hand on a copy of the counts: every slot the move touches is checked
    // before any square changes, so a refused move leaves the board exactly as it was.
    std::array<std::uint8_t, kHandSlots> counts = board.hand.counts;

    // A piece on the destination goes to the other side's hand as its unpromoted kind.
    const bool capture = board.occupied.test(to);
    if (capture) {
        const Kind captured = unpromoted(board.square_kinds[to]);
        const Color owner = board.color_boards[0].test(to) ? Color::Black : Color::White;
        const std::size_t slot = hand_slot(opponent(owner), captured);
        if (counts[slot] == 255) throw_count_overflow(slot);
        ++counts[slot];
    }

    // A dropped piece leaves its owner's hand.
    const Piece dropped = Piece::from_u8(static_cast<std::uint8_t>(from));
    if (move.is_drop()) {
        const std::size_t slot = hand_slot(dropped.owner, dropped.piece_type);
        if (counts[slot] == 0) throw_count_underflow(slot);
        --counts[slot];
    }

    // Nothing can fail from here on: capture, then lift the piece from hand or source, then
    // place it.
    if (capture) board.drop_unchecked(to);
    if (move.is_drop()) {
        board.deploy_unchecked(to, dropped.piece_type, dropped.owner);
    } else {
        // Read after the capture, so a move onto its own square carries nothing.
        Kind kind = board.square_kinds[from];
        const Color owner = !board.occupied.test(from) ? Color::None
                            : board.color_boards[0].test(from) ? Color::Black
                                                               : Color::White;
        board.drop_unchecked(from);
        if (move.is_promote()) kind = promoted(kind);
        board.deploy_unchecked(to, kind, owner);
    }
    board.hand.counts = counts;
}

}  // namespace velkorant
