#include "engine/session.h"

#include <algorithm>
#include <cstdio>

#include "engine/messages.h"
#include "engine/mirror_job.h"
#include "platform/file.h"
#include "platform/fs.h"
#include "platform/message.h"

namespace tandril {

CMirrorSession::CMirrorSession(CMirrorJob& job)
    : m_job(job),
      m_pool(std::make_unique<CTransferPool>(job.m_netOptions,
                                             static_cast<int>(job.m_limits.m_nMaxConnections))) {}

bool CMirrorSession::OpenSession() {
    if (!m_pool->Open()) {
        ShowMessage(kIdsSessionFailed);
        return false;
    }
    return true;
}

std::string CMirrorSession::SlotFileName(int slot) {
    char name[32];
    // 98 and 99 are the job's own ("~tmp~98~.tmp", "~tmp~99~.tmp"): slots go past them.
    std::snprintf(name, sizeof(name), "~tmp~%02d~.tmp", slot < 98 ? slot : slot + 2);
    return name;
}

std::string CMirrorSession::CurrentFileName() const {
    return SlotFileName(m_current);
}

void CMirrorSession::StartTransfers() {
    auto ahead = m_ahead.find(m_job.m_strUrl);
    if (ahead != m_ahead.end()) {
        m_current = ahead->second;
        m_ahead.erase(ahead);
    } else {
        m_current = m_pool->FreeSlot();
        // Transfers run ahead in queue order, so the current URL, the head of the
        // queue, found every connection free; this is only a safeguard.
        if (m_current < 0 && !m_ahead.empty()) {
            auto last = std::prev(m_ahead.end());
            m_pool->Release(last->second);
            m_current = last->second;
            m_ahead.erase(last);
        }
        m_pool->Start(m_current, m_job.m_strUrl, m_job.m_strTargetDir + SlotFileName(m_current),
                      m_job.ConditionsFor(m_job.m_strUrl));
    }
    // Once the server is seen to multiplex, transfers ahead need no connections of
    // their own: they share the ones there are, as streams.
    const int connections = m_pool->Connections();
    if (m_bMultiplexed && connections > 1 && m_pool->Slots() == connections) {
        const int wanted = std::min(connections * kStreamsPerConnection, kMaxSlots);
        m_pool->AddSlots(wanted - connections);  // a slot that cannot be made is done without
    }
    for (const CQueueEntry& entry : m_job.m_listQueue) {
        // The run ends at the first entry beyond the level limit.
        if (entry.nLevel > m_job.m_limits.m_nMaxLevels) {
            break;
        }
        if (m_ahead.count(entry.strUrl) != 0) {
            continue;
        }
        // What the scope keeps out is never asked for; a host whose robots.txt is not
        // known yet waits until its URL's turn (the worker fetches the file then).
        const CMirrorJob::FetchCheck check = m_job.CheckUrl(entry.strUrl);
        if (check == CMirrorJob::FetchCheck::NeedRobots) {
            break;
        }
        if (check != CMirrorJob::FetchCheck::Fetch) {
            continue;
        }
        const int slot = m_pool->FreeSlot();
        if (slot < 0) {
            break;
        }
        m_pool->Start(slot, entry.strUrl, m_job.m_strTargetDir + SlotFileName(slot),
                      m_job.ConditionsFor(entry.strUrl));
        m_ahead.emplace(entry.strUrl, slot);
    }
}

bool CMirrorSession::WaitForHeaders() {
    return m_pool->WaitForHeaders(m_current);
}

bool CMirrorSession::WaitForEnd() {
    return m_pool->WaitForEnd(m_current, 200);
}

const TransferOutcome& CMirrorSession::Current() const {
    return m_pool->Outcome(m_current);
}

bool CMirrorSession::TakeDownload() {
    // The transfer's own file is the download from now on: no copy, no rename. Its slot
    // starts nothing new before the download is placed (StartTransfers comes after).
    m_bMultiplexed = m_bMultiplexed || Current().multiplexed;
    m_pool->Release(m_current);
    m_job.m_strTempFileName = SlotFileName(m_current);
    return true;
}

void CMirrorSession::DropCurrent() {
    // An answer with nothing to keep (a 304 of an update, an error) still tells whether
    // the server multiplexes.
    m_bMultiplexed = m_bMultiplexed || (Current().opened && Current().multiplexed);
    m_pool->Release(m_current);
    DeleteFile(m_job.m_strTargetDir + SlotFileName(m_current));
}

bool CMirrorSession::FetchRobots(const std::string& origin, CRobotsRules& rules) {
    const int slot = m_pool->FreeSlot();
    if (slot < 0) {
        rules = CRobotsRules::AllowAll();  // cannot happen: no transfer runs now
        return true;
    }
    const std::string path = m_job.m_strTargetDir + SlotFileName(slot);
    // A host that refuses the connection is down: its first URL, tried again as any
    // file is, says so; robots.txt is not waited for as well.
    m_pool->Start(slot, origin + "/robots.txt", path, {}, false);
    while (!m_pool->WaitForEnd(slot, 200)) {
        if (m_pool->IsInterrupted()) {
            m_pool->Release(slot);
            DeleteFile(path);
            return false;
        }
    }
    const TransferOutcome& out = m_pool->Outcome(slot);
    if (out.complete && out.status / 100 == 2) {
        // A file that breaks off is read as far as it goes.
        std::string text;
        ReadFileStart(path, CRobotsRules::kMaxBytes, text);
        rules = CRobotsRules::Parse(text, "Tandril");
    } else if (out.opened && out.status / 100 == 4 && out.status != 429) {
        rules = CRobotsRules::AllowAll();
    } else {
        rules = CRobotsRules::DisallowAll();
    }
    m_pool->Release(slot);
    DeleteFile(path);
    return !m_pool->IsInterrupted();
}

std::string CMirrorSession::ConnectFailure(const std::string& url) const {
    std::string text;
    LoadMessage(kIdsCannotConnect, text, &url);
    const std::string& reason = Current().error;
    if (!reason.empty()) {
        text += " (" + reason + ")";
    }
    return text;
}

void CMirrorSession::CloseSession() {
    m_pool->Close();
    // Downloads fetched ahead of their turn that the run never reached are dropped.
    for (const auto& ahead : m_ahead) {
        DeleteFile(m_job.m_strTargetDir + SlotFileName(ahead.second));
    }
    m_ahead.clear();
}

void CMirrorSession::Interrupt() {
    m_pool->Interrupt();
}

}  // namespace tandril
