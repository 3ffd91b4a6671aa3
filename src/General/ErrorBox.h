#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zel {

class Notifier;

// The text of a common-dialog extended error code ("未定義のエラーです。" for a
// code without an entry).
std::string_view CommonDialogErrorText(std::uint32_t code);

// "GNWN%08X %s" of the code and its text, as the error box shows it.
std::string FormatCommonDialogError(std::uint32_t code);

// Shows FormatCommonDialogError(code) system-modal; returns the box's result.
int GneShowCommonDialogError(Notifier& notifier, std::uint32_t code);

// Shows text in a system-modal message box; returns the box's result.
int GneMessageBoxSystemModal(Notifier& notifier, std::string_view text);

}  // namespace zel
