// The instructions window: what the tool is for, how to use it, and how to reach its maker.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "ui/picture_bitmap.h"
#include "ui/ui_texts.h"
#include "ui/window_base.h"

namespace qinglan {

enum InstructionsWindowControl : int {
    kUpperTextId = 201,
    kPictureBoxId = 202,
    kLowerTextId = 203,
};

// Builds the instructions window, shows it modally over the other windows of the program and
// returns when it has been closed: true if it was shown, false if it could not be created.
bool show_instructions_window();

// The same with another picture, for trying pictures that do not decode.
bool show_instructions_window_with_picture(std::span<const std::uint8_t> jpeg_bytes);

class InstructionsWindow : public WindowBase<InstructionsWindow> {
  public:
    explicit InstructionsWindow(std::span<const std::uint8_t> jpeg_bytes);
    ~InstructionsWindow();

    bool show_modal();
    LRESULT handle_message(UINT message, WPARAM wparam, LPARAM lparam);

  private:
    bool create_hidden();
    void build_content();
    void disable_other_windows();
    void restore_other_windows();
    void close();
    void draw_picture(const DRAWITEMSTRUCT& item) const;
    static LRESULT label_colours(HDC dc);

    std::span<const std::uint8_t> jpeg_bytes_;
    PictureBitmap picture_;
    std::vector<std::pair<HWND, bool>> disabled_windows_;  // each with its earlier enabled state
};

}  // namespace qinglan
