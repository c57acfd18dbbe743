#include "velkorant/address.hpp"

namespace velkorant {

void append_latin1(std::string& out, std::uint8_t code_point) {
    if (code_point < 0x80) {
        out += static_cast<char>(code_point);
    } else {
        out += static_cast<char>(0xC0 | (code_point >> 6));
        out += static_cast<char>(0x80 | (code_point & 0x3F));
    }
}

std::string Address::to_string() const {
    std::string text;
    append_latin1(text, static_cast<std::uint8_t>(column + 48));
    append_latin1(text, static_cast<std::uint8_t>(row + 96));
    return text;
}

}  // namespace velkorant
