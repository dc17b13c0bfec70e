// An address list kept in memory, which also records the calls made on it so that tests can
// check their order.
#pragma once

#include <string>
#include <vector>

#include "lookup/address_list.h"

namespace qinglan::testing {

class MemoryAddressList final : public AddressList {
  public:
    void clear_rows() override {
        rows.clear();
        calls.push_back("clear_rows");
    }
    std::int32_t append_row() override {
        rows.emplace_back();
        calls.push_back("append_row");
        return static_cast<std::int32_t>(rows.size()) - 1;
    }
    void set_row_caption(std::int32_t row, std::int32_t column, const Text& caption) override {
        calls.push_back("set_row_caption " + std::to_string(row) + " " + std::to_string(column));
        if (row >= 0 && static_cast<std::size_t>(row) < rows.size() && column == 0) {
            rows[static_cast<std::size_t>(row)] = caption;
        }
    }

    std::vector<Text> rows;
    std::vector<std::string> calls;
};

}  // namespace qinglan::testing
