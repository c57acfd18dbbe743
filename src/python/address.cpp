// Address: a square by column and row, both settable, with its square index.
#include "python/types.hpp"

namespace velkorant::python {

// Pickles as the constructor call that rebuilds it.
namespace {
std::pair<std::uint8_t, std::uint8_t> address_args(const Address& a) { return {a.column, a.row}; }
}  // namespace

template <>
PyTypeObject* create_type_of<Address>() {
    using New = Constructor<&make<Address, std::uint8_t, std::uint8_t>, "column", "row">;
    static PyMethodDef methods[] = {
        method<"to_int", &Address::to_int>(),
        reduce_method<&address_args>(),
        copy_method<Address>(),
        deepcopy_method<Address>(),
        {},
    };
    static PyGetSetDef getset[] = {
        attribute<"column", &Address::column>(),
        attribute<"row", &Address::row>(),
        {},
    };
    return create_class<Address>({&New::tp_new, New::doc, &repr<&Address::to_string>, methods, getset});
}

}  // namespace velkorant::python
