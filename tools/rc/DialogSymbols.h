// The names a dialog statement of a resource script may use: style names,
// predefined control ids and control class macros, with their Win32 values,
// and the control statements with their classes and default styles.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace rc {

// WS_..., WS_EX_..., DS_..., BS_..., SS_..., LBS_..., TBS_..., ES_...,
// CBS_..., SBS_... (exact, upper case).
std::optional<std::uint32_t> StyleValue(std::string_view name);

// IDOK, IDCANCEL ... and IDC_STATIC (-1).
std::optional<std::int32_t> PredefinedId(std::string_view name);

// WC_BUTTON, TRACKBAR_CLASS ...: the class name they stand for.
std::optional<std::string_view> ClassMacro(std::string_view name);

// A control statement other than CONTROL: LTEXT, PUSHBUTTON, LISTBOX ...
struct ControlForm {
    std::string_view keyword;
    std::string_view className;
    std::uint32_t defaultStyle; // besides WS_CHILD | WS_VISIBLE
    bool hasText;               // the statement starts with a caption
};
const ControlForm* FindControlForm(std::string_view keyword);

} // namespace rc
