// The module's classes, one declaration each: the record it wraps, its Python name, how its
// instances are held when passed as arguments, and whether freed objects are kept for reuse.
// Registration order is the module entry's business (module.cpp).
#pragma once

#include "python/object.hpp"
#include "velkorant/address.hpp"
#include "velkorant/board.hpp"
#include "velkorant/color.hpp"
#include "velkorant/game.hpp"
#include "velkorant/hand.hpp"
#include "velkorant/moves.hpp"
#include "velkorant/piece.hpp"

namespace velkorant::python {

#define VELKORANT_CLASS(Record, Text, Holding, FreeListSize)              \
    template <> struct ClassOf<Record> {                                  \
        static constexpr python::Name<sizeof(Text)> title{Text};          \
        static constexpr const char* name = title.text;                   \
        static constexpr const char* qualified_name = "velkorant." Text;  \
        static constexpr Hold hold = Holding;                             \
        static constexpr int free_list = FreeListSize;                    \
        static inline PyTypeObject* type = nullptr;                       \
    }

VELKORANT_CLASS(Address, "Address", Hold::shared, 0);
VELKORANT_CLASS(Color, "ColorType", Hold::copy, 64);
VELKORANT_CLASS(Kind, "PieceType", Hold::copy, 64);
VELKORANT_CLASS(Piece, "Piece", Hold::copy, 64);
// Moves are made by the hundred for every generated list.
VELKORANT_CLASS(Move, "Move", Hold::shared, 4096);
VELKORANT_CLASS(Hand, "Hand", Hold::shared, 0);
VELKORANT_CLASS(Board, "Board", Hold::shared, 0);
VELKORANT_CLASS(Game, "Game", Hold::shared, 0);

#undef VELKORANT_CLASS

// A Move object listed by Game.legal_moves() (or check_moves(), mate_in_one()) carries the number
// of the position it was listed for (see PositionStamps) and the word it was listed with, and
// Game.push plays it there without testing it again. 0 for a move made any other way. Neither
// is part of the move: equality, hashing, pickling and repr read the word alone.
template <>
struct Object<Move> {
    PyObject_HEAD
    BorrowFlag flag;
    Move value;
    std::uint16_t listed_word;
    std::uint64_t listed_for;
};

// Each class file defines the creation of its type; the module entry calls them in order.
template <class Record> PyTypeObject* create_type_of();

}  // namespace velkorant::python
