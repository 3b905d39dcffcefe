#include "engine/progress.h"

#include "engine/messages.h"
#include "resources/string_table.h"

namespace tandril {

void CProgressLog::AddLog(unsigned id) {
    std::string text;
    if (LoadMessage(id, text)) {
        AddLogLine(text);
    }
}

void CProgressLog::AddLogArg(unsigned id, const std::string& arg) {
    std::string text;
    if (LoadMessage(id, text, &arg)) {
        AddLogLine(text);
    }
}

void CProgressLog::SetButtonOk() {
    std::string text;
    if (LoadString(kIdsOk, text)) {
        SetButtonText(text);
    }
}

}  // namespace tandril
