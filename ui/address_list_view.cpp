#include "ui/address_list_view.h"

#include <commctrl.h>

#include <string>

#include "ui/code_page.h"

namespace qinglan {

void AddressListView::add_column(const Text& header, int width) {
    std::wstring text = to_wide(header);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.fmt = LVCFMT_LEFT;
    column.cx = width;
    column.pszText = text.data();
    SendMessageW(list_view_, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
}

void AddressListView::clear_rows() {
    SendMessageW(list_view_, LVM_DELETEALLITEMS, 0, 0);
}

std::int32_t AddressListView::append_row() {
    wchar_t empty[] = L"";
    LVITEMW item{};
    item.mask = LVIF_TEXT;
    item.iItem = row_count();
    item.pszText = empty;
    return static_cast<std::int32_t>(
        SendMessageW(list_view_, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
}

void AddressListView::set_row_caption(std::int32_t row, std::int32_t column, const Text& caption) {
    if (row < 0 || row >= row_count()) {
        return;
    }
    std::wstring text = to_wide(caption);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = text.data();
    SendMessageW(list_view_, LVM_SETITEMTEXTW, static_cast<WPARAM>(row),
                 reinterpret_cast<LPARAM>(&item));
}

std::int32_t AddressListView::selected_row() const {
    return static_cast<std::int32_t>(
        SendMessageW(list_view_, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

Text AddressListView::get_row_caption(std::int32_t row) const {
    if (row < 0 || row >= row_count()) {
        return {};
    }
    // The list view copies at most the buffer's size, so grow it until the caption fits.
    std::wstring buffer(256, L'\0');
    for (;;) {
        LVITEMW item{};
        item.iSubItem = 0;
        item.pszText = buffer.data();
        item.cchTextMax = static_cast<int>(buffer.size());
        const auto copied = static_cast<std::size_t>(SendMessageW(list_view_, LVM_GETITEMTEXTW,
                                                                  static_cast<WPARAM>(row),
                                                                  reinterpret_cast<LPARAM>(&item)));
        if (copied + 1 < buffer.size()) {
            buffer.resize(copied);
            return from_wide(buffer);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::int32_t AddressListView::row_count() const {
    return static_cast<std::int32_t>(SendMessageW(list_view_, LVM_GETITEMCOUNT, 0, 0));
}

}  // namespace qinglan
