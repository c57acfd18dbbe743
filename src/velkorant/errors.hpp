// Failures of the rules layer.
//
// Panic: a condition the rules cannot carry on from (a square index past the bit sets, a hand
// slot outside the table, a move text too short to hold a square). Python sees PanicException.
//
// ValueError / OverflowError / IndexError / TypeError: a request the rules refuse before changing anything (a hand count
// that would wrap, a drop of a piece that is not in hand). Python sees the built-in exception of
// the same name.
#pragma once

#include <exception>
#include <string>
#include <string_view>
#include <utility>

namespace velkorant {

// The message is kept whole: a move text inside it may hold NUL characters, which what()
// would cut short.
class Error : public std::exception {
public:
    explicit Error(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }

private:
    std::string message_;
};

// Input echoed into a message: at most about 200 bytes of it, cut at a character boundary,
// "..." marking the cut.
inline std::string excerpt(std::string_view text) {
    constexpr std::size_t kShown = 200;
    if (text.size() <= kShown) return std::string(text);
    std::size_t cut = kShown;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return std::string(text.substr(0, cut)) + "...";
}

class Panic : public Error {
public:
    using Error::Error;
};

class ValueError : public Error {
public:
    using Error::Error;
};

class OverflowError : public Error {
public:
    using Error::Error;
};

// An index or a position in a sequence that is not there (an empty history). Python sees
// IndexError.
class IndexError : public Error {
public:
    using Error::Error;
};

// An argument of the wrong kind that only the rules can tell (a pickled state of another
// class). Python sees TypeError.
class TypeError : public Error {
public:
    using Error::Error;
};

}  // namespace velkorant
