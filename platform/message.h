#pragma once

#include <functional>
#include <string>

namespace tandril {

enum class MessageIcon { Information, Warning };

// Shows a message box and returns when the user has closed it. The hook decides how:
// the GUI installs one that shows a QMessageBox on the interface thread (the caller
// waits); without a hook the text goes to stderr. May be called from any thread.
using MessageBoxHook =
    std::function<void(const std::string& title, const std::string& text, MessageIcon icon)>;

// Installs `hook` (empty restores stderr) and returns the previous one. Install
// hooks before any worker thread runs.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);
void ShowMessageBox(const std::string& title, const std::string& text, MessageIcon icon);

}  // namespace tandril
