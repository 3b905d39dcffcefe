#include "platform/message.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace tandril {
namespace {

std::mutex g_hookMutex;
MessageBoxHook g_hook;

}  // namespace

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
    std::lock_guard<std::mutex> lock(g_hookMutex);
    return std::exchange(g_hook, std::move(hook));
}

void ShowMessageBox(const std::string& title, const std::string& text, MessageIcon icon) {
    MessageBoxHook hook;
    {
        std::lock_guard<std::mutex> lock(g_hookMutex);
        hook = g_hook;
    }
    if (hook) {
        hook(title, text, icon);
        return;
    }
    std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
}

}  // namespace tandril
