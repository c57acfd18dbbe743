// Address: a square by column and row, both settable, with its square index.
#include <string>

#include "python/frame.hpp"

namespace velkorant::python {
namespace {

Address make_address(std::uint8_t column, std::uint8_t row) { return Address{column, row}; }
std::string address_repr(const Address& a) { return a.to_string(); }
std::uint8_t to_int(const Address& a) { return a.to_int(); }

constexpr Params<2> kNew{"__new__", {"column", "row"}};
constexpr char kColumn[] = "column";
constexpr char kRow[] = "row";

PyGetSetDef getset[] = {
    Attribute<&Address::column, kColumn>::def(),
    Attribute<&Address::row, kRow>::def(),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef methods[] = {
    {"to_int", noargs<&to_int, Access::shared>, METH_NOARGS, "to_int($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyTypeObject* create_address_type() {
    return create_class<Address>({&constructor<&make_address, kNew>, &repr<&address_repr>,
                                  "Address(column, row)\n--\n\n", methods, getset});
}

}  // namespace velkorant::python
