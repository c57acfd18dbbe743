// Failures of the rules layer.
//
// Panic: a condition the rules cannot carry on from (a square index past the bit sets, a hand
// slot outside the table, a move text too short to hold a square). Python sees PanicException.
//
// ValueError / OverflowError: a request the rules refuse before changing anything (a hand count
// that would wrap, a drop of a piece that is not in hand). Python sees the built-in exception of
// the same name.
#pragma once

#include <stdexcept>
#include <string>

namespace velkorant {

class Panic : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class ValueError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class OverflowError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace velkorant
