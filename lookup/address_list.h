// The address list that a read fills: ordered rows indexed from 0, each with one caption.
// The window's list view is one implementation; the tests use an in-memory one.
#pragma once

#include <cstdint>

#include "lookup/text.h"

namespace qinglan {

class AddressList {
  public:
    virtual ~AddressList() = default;

    // Removes every row.
    virtual void clear_rows() = 0;
    // Adds a row with an empty caption after the last one; returns its index, or -1 if no row
    // could be added.
    virtual std::int32_t append_row() = 0;
    // Sets the caption of one cell; an index with no row changes nothing.
    virtual void set_row_caption(std::int32_t row, std::int32_t column, const Text& caption) = 0;
};

}  // namespace qinglan
