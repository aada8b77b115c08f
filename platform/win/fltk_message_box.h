// What the FLTK backend's files share: the screen font, text for FLTK
// (UTF-8), and the message box window.
#pragma once

#include <string>

#include "platform/text_conversion.h"
#include "platform/win/window_system.h"

namespace fltk_backend {

constexpr int kFontSize = 12;

inline std::string utf8Of(const WCHAR* text) {
    std::string out;
    if (text && !utf16ToUtf8(text, out)) out.clear();
    return out;
}
inline std::string utf8Of(const std::u16string& text) { return utf8Of(text.c_str()); }

// Shows the box the window system laid out, modal, and returns the button
// chosen (Esc and closing the window: No for a Yes/No box, else OK). Its
// lines are drawn as they are, with no further wrapping. origin is where
// the device screen's corner stands on the host's screen; without one the
// box is centred. The box is kept on the host's screen either way.
int runMessageBox(const std::u16string& caption, UINT style,
                  const window_system::MessageBoxLayout& layout, const POINT* origin);

}  // namespace fltk_backend
