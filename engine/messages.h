#pragma once

#include <string>

namespace tandril {

// Message numbers of the string table that the engine reports with.
enum MessageId : unsigned {
    kIdsAboutBox = 101,
    kIdsCannotCreateThread = 103,
    kIdsSessionFailed = 104,
    kIdsNoMemory = 105,
    kIdsOpeningSession = 106,
    kIdsConnecting = 108,
    kIdsReading = 110,
    kIdsCannotRead = 111,
    kIdsCannotConnect = 112,
    kIdsCannotCreateFile = 114,
    kIdsCannotCreateDir = 115,
    kIdsCannotDownload = 116,
    kIdsProcessingFile = 120,
    kIdsChooseDirectory = 121,
    kIdsEnterUrl = 122,
    kIdsOpticalMedium = 123,
    kIdsDirectoryInUse = 124,
    kIdsCookiesUnreadable = 125,
    kIdsCookiesFormat = 126,
    kIdsRobotsRefused = 127,
    kIdsRobotsStartUrl = 128,
    kIdsCrawlDelay = 129,
    kIdsNofollowPages = 130,
    kIdsNofollowSummary = 131,
    kIdsBadPattern = 132,
    kIdsRecordOtherUrl = 133,
    kIdsRecordDamaged = 134,
    kIdsRecordNewer = 135,
    kIdsRecordCannotCreate = 136,
    kIdsContinuing = 137,
    kIdsUpdating = 138,
    kIdsUpdated = 139,
    kIdsGone = 140,
    kIdsRecordWriteFailed = 141,
    kIdsUrlInvalid = 200,
    kIdsFileLimit = 300,
    kIdsMegaByteLimit = 301,
    kIdsFileErrorBase = 500,
    kIdsFileErrorUnspecified = 515,
    kIdsProgramTitle = 800,
    kIdsDone = 1000,
    kIdsOk = 1001,
    kIdsChooseDirTitle = 1002,
};

// Replaces each "%s" of `pattern` by `arg`, literally: `arg` is never read as a
// format, so a "%s" or "%n" inside a URL is copied as it stands.
std::string FormatMessageText(const std::string& pattern, const std::string& arg);

// Loads message `id` and formats it with `arg`. False when the id has no text.
bool LoadMessage(unsigned id, std::string& text, const std::string* arg = nullptr);

// The engine's message box: an information box titled "Tandril". A missing message
// shows nothing. Any thread; the caller waits until the box is closed.
void ShowMessage(unsigned id);
void ShowMessage(unsigned id, const std::string& arg);

// The framework's box: a warning box titled "Tandril", like the engine's. Any thread.
void ShowFrameworkMessage(unsigned id);

// Shows the message of a file-exception cause (500 + cause, 515 outside 0..14).
void ReportFileError(int cause);
unsigned FileErrorMessageId(int cause);

// The base name of the program's file, which titles the framework's boxes.
std::string ProgramName();
// The title of every box: string 800, "Tandril".
std::string ProgramTitle();

}  // namespace tandril
