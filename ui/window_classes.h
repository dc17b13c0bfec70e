// The window class names of the tool's windows.
#pragma once

namespace qinglan {

inline constexpr const wchar_t* kMainWindowClass = L"QinglanMainWindow";
inline constexpr const wchar_t* kInstructionsWindowClass = L"QinglanInstructionsWindow";
inline constexpr const wchar_t* kOwnerWindowClass = L"QinglanOwnerWindow";

}  // namespace qinglan
