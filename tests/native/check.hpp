// The checks every native test program counts: CHECK and CHECK_EQ record a pass or a printed
// failure, CHECK_FAILS compares what an operation threw, and finish() prints the tally
// ("N passed, M failed") and gives the program's exit status. A program brings check::show
// into the scope of its own show overloads (`using check::show;`), so CHECK_EQ finds both.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <type_traits>

#include "velkorant/color.hpp"
#include "velkorant/errors.hpp"

namespace check {

inline int passed = 0;
inline int failed = 0;
inline const char* group = "";  // the part of the program running, shown with a failure

inline void record(bool ok, const std::string& what, int line) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL [%s] line %d: %s\n", group, line, what.c_str());
    }
}

inline std::string show(const std::string& s) { return "\"" + s + "\""; }
inline std::string show(const char* s) { return show(std::string(s)); }
inline std::string show(velkorant::Color c) { return std::string(velkorant::debug_name(c)); }
inline std::string show(velkorant::Kind k) { return std::string(velkorant::debug_name(k)); }
template <class T>
std::string show(const T& v)
    requires std::is_integral_v<T>
{
    return std::to_string(v);
}

// What an operation did: "ok" or the failure's type and message.
inline std::string outcome(const std::function<void()>& f) {
    try {
        f();
        return "ok";
    } catch (const velkorant::Panic& e) {
        return std::string("Panic: ") + e.what();
    } catch (const velkorant::ValueError& e) {
        return std::string("ValueError: ") + e.what();
    } catch (const velkorant::OverflowError& e) {
        return std::string("OverflowError: ") + e.what();
    } catch (const velkorant::IndexError& e) {
        return std::string("IndexError: ") + e.what();
    } catch (const velkorant::TypeError& e) {
        return std::string("TypeError: ") + e.what();
    }
}

inline int finish() {
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}

}  // namespace check

#define CHECK(cond) check::record((cond), #cond, __LINE__)
#define CHECK_EQ(a, b)                                                                            \
    do {                                                                                          \
        const auto va_ = (a);                                                                     \
        const auto vb_ = (b);                                                                     \
        check::record(va_ == vb_, std::string(#a " == " #b ": ") + show(va_) + " vs " + show(vb_), \
                      __LINE__);                                                                  \
    } while (0)
#define CHECK_FAILS(expr, expected) CHECK_EQ(check::outcome([&] { expr; }), std::string(expected))
