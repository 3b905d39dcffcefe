#pragma once

#include <memory>
#include <string>

#include "platform/file.h"
#include "platform/internet.h"

namespace tandril {

class CMirrorJob;

enum class ChunkResult { Data, End, Failed };

// The run's connection to the network and to the temporary file "~tmp~99~.tmp".
// Created by the worker at the start of a run and owned by the run (CMirrorRun).
// Every operation runs on the worker thread, except Interrupt (any thread) and the
// closing after the worker has been joined.
class CMirrorSession {
public:
    explicit CMirrorSession(CMirrorJob& job);

    // Opens the Internet session; message 104 on failure.
    bool OpenSession();
    // Opens `url`. On failure, message 112 with the URL and the reason goes to a
    // message box (`inBox`) or is left to the caller (ConnectFailure).
    bool OpenUrl(const std::string& url, bool inBox = true);
    // Message 112 for `url`, with why the last OpenUrl failed after it:
    // "Cannot connect to https://h/! (certificate not trusted)".
    std::string ConnectFailure(const std::string& url) const;
    // The URL the open answer came from after redirects.
    std::string EffectiveUrl() const { return m_hSession->EffectiveUrl(); }
    // Creates or truncates the temporary file as soon as a URL is open, so an empty
    // body never leaves an older download's bytes behind; message 114 on failure.
    bool CreateTempFile();
    // Reads up to 4096 bytes into the job's buffer and counts them. End and Failed
    // are told apart: a failed read never makes a download look complete.
    ChunkResult ReadChunk();
    // Appends the chunk to the temporary file; reports and returns false on failure.
    bool WriteChunk();
    // Closes the temporary file and the URL. False when the file could not be closed
    // cleanly (its cause in `cause`); nothing is reported here.
    bool CloseUrl(int* cause = nullptr);
    void CloseSession();
    // Of the open URL's final answer (see CInternetSession).
    long ResponseCode() const { return m_hSession->ResponseCode(); }
    std::string ContentType() const { return m_hSession->ContentType(); }
    // Makes a blocked read or open fail at once. Thread-safe.
    void Interrupt();

    std::unique_ptr<CInternetSession> m_hSession;
    std::unique_ptr<CFile> m_pTempFile;

private:
    CMirrorJob& m_job;
};

}  // namespace tandril
