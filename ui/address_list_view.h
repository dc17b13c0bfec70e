// The address list on the main window's list view: one column, single selection.
#pragma once

#include <windows.h>

#include "lookup/address_list.h"

namespace qinglan {

class AddressListView final : public AddressList {
  public:
    AddressListView() = default;
    explicit AddressListView(HWND list_view) : list_view_(list_view) {}

    // Gives the list view its one column.
    void add_column(const Text& header, int width);

    void clear_rows() override;
    std::int32_t append_row() override;
    void set_row_caption(std::int32_t row, std::int32_t column, const Text& caption) override;

    // The selected row, asked of the list view now; -1 when none is selected.
    std::int32_t selected_row() const;
    // The whole caption of column 0, however long; the empty text for an index with no row.
    Text get_row_caption(std::int32_t row) const;
    std::int32_t row_count() const;

    HWND handle() const { return list_view_; }

  private:
    HWND list_view_ = nullptr;  // a child of the main window, destroyed with it
};

}  // namespace qinglan
