#include "engine/messages.h"

#include <unistd.h>
#include <climits>

#include "platform/message.h"
#include "resources/string_table.h"

namespace tandril {

std::string FormatMessageText(const std::string& pattern, const std::string& arg) {
    std::string out;
    out.reserve(pattern.size() + arg.size());
    std::size_t pos = 0;
    for (;;) {
        std::size_t hit = pattern.find("%s", pos);
        if (hit == std::string::npos) {
            out.append(pattern, pos, std::string::npos);
            return out;
        }
        out.append(pattern, pos, hit - pos);
        out += arg;
        pos = hit + 2;
    }
}

bool LoadMessage(unsigned id, std::string& text, const std::string* arg) {
    std::string pattern;
    if (!LoadString(id, pattern)) {
        return false;
    }
    text = arg != nullptr ? FormatMessageText(pattern, *arg) : pattern;
    return true;
}

namespace {

void ShowEngineBox(unsigned id, const std::string* arg) {
    std::string title, text;
    LoadString(kIdsProgramTitle, title);
    if (LoadMessage(id, text, arg)) {
        ShowMessageBox(title, text, MessageIcon::Information);
    }
}

}  // namespace

void ShowMessage(unsigned id) {
    ShowEngineBox(id, nullptr);
}

void ShowMessage(unsigned id, const std::string& arg) {
    ShowEngineBox(id, &arg);
}

void ShowFrameworkMessage(unsigned id) {
    std::string text;
    if (LoadMessage(id, text)) {
        ShowMessageBox(ProgramTitle(), text, MessageIcon::Warning);
    }
}

unsigned FileErrorMessageId(int cause) {
    if (cause >= 0 && cause <= 14) {
        return kIdsFileErrorBase + static_cast<unsigned>(cause);
    }
    return kIdsFileErrorUnspecified;
}

void ReportFileError(int cause) {
    ShowMessage(FileErrorMessageId(cause));
}

std::string ProgramTitle() {
    std::string title;
    LoadString(kIdsProgramTitle, title);
    return title;
}

std::string ProgramName() {
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof(path) - 1);
    if (n <= 0) {
        return "tandril";
    }
    std::string name(path, static_cast<std::size_t>(n));
    name.erase(0, name.find_last_of('/') + 1);
    std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos && dot > 0) {
        name.erase(dot);
    }
    return name;
}

}  // namespace tandril
