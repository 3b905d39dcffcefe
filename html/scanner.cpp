#include "html/scanner.h"

#include <cstring>

#include "engine/messages.h"
#include "engine/mirror_job.h"
#include "html/tag_table.h"
#include "url/url_text.h"

namespace tandril {
namespace {

bool IsLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
unsigned char Lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + 32) : c;
}

bool IsValueState(int state) {
    return state == kScanQuotedValue || state == kScanBareValue;
}

}  // namespace

void CMirrorJob::WriteOut(const char* data, std::size_t size) {
    if (m_limits.m_bModifyLinks && size > 0) {
        m_pOutFile->Write(data, size);
    }
}

// Turns a completed value into the text that replaces it in the saved page.
void CMirrorJob::CompleteValue(std::string& value) {
    const int kind = m_pScanTag->isBase ? kBaseHref : m_pScanTag->kind;
    if (m_pfnLinkHook) {
        m_pfnLinkHook(value, kind);
    } else if (kind == kBaseHref) {
        value = BaseHref();
    } else {
        HandleLink(value, kind);
    }
}

std::string CMirrorJob::BaseHref() const {
    return "file://" + EncodeLocalPath(m_strTargetDir + m_strLocalDir);
}

int CMirrorJob::FinishScan() {
    if (!IsValueState(m_nScanState)) {
        return 1;
    }
    std::string open = std::move(m_strCarry);
    m_strCarry.clear();
    m_nScanState = kScanText;
    try {
        WriteOut(open.data(), open.size());
    } catch (const FileException& e) {
        ReportFileError(e.cause);
        return 0;
    }
    return 1;
}

int CMirrorJob::ScanChunk() {
    const char* const buf = m_pBuffer.get();
    const std::size_t end = m_nBufferBytes;
    std::size_t cur = m_nScanIndex;
    std::size_t mark = cur;        // first consumed byte not yet written
    std::size_t valueStart = cur;  // first byte of the value being collected
    const bool modify = m_limits.m_bModifyLinks;
    int state = m_nScanState;

    // Completes the value whose delimiter is at `delim` (already consumed).
    auto complete = [&](std::size_t delim) {
        std::string value = std::move(m_strCarry);
        m_strCarry.clear();
        value.append(buf + valueStart, delim - valueStart);
        CompleteValue(value);
        if (modify) {
            WriteOut(value.data(), value.size());
        }
        mark = delim;
        state = kScanText;
    };
    auto startValue = [&]() {
        if (modify) {
            WriteOut(buf + mark, cur - mark);
        }
        mark = cur;
        valueStart = cur;
    };
    auto startAttribute = [&](unsigned char c) {
        const char* want = m_pScanTag->attribute;
        m_nScanMatch = Lower(c) == static_cast<unsigned char>(want[0]) ? 1 : -1;
        state = kScanAttrName;
    };
    auto nameComplete = [&]() {
        return m_nScanMatch > 0 && m_pScanTag->attribute[m_nScanMatch] == '\0';
    };

    try {
        while (cur < end) {
            const unsigned char c = static_cast<unsigned char>(buf[cur]);
            switch (state) {
                case kScanText: {
                    const void* lt = std::memchr(buf + cur, '<', end - cur);
                    if (lt == nullptr) {
                        cur = end;
                    } else {
                        cur = static_cast<const char*>(lt) - buf + 1;
                        state = kScanTagStart;
                    }
                    break;
                }
                case kScanTagStart:
                    ++cur;
                    if (IsLetter(c)) {
                        m_strScanName.assign(1, static_cast<char>(c));
                        state = kScanTagName;
                    } else {
                        state = kScanText;
                    }
                    break;
                case kScanTagName:
                    ++cur;
                    if (IsLetter(c) && m_strScanName.size() < kLongestTagName) {
                        m_strScanName += static_cast<char>(c);
                    } else if (IsWhiteSpace(c) &&
                               (m_pScanTag = FindTag(m_strScanName.data(), m_strScanName.size(),
                                                     modify)) != nullptr) {
                        state = kScanAttrGap;
                    } else {
                        state = kScanText;
                    }
                    break;
                case kScanAttrGap:
                    if (c == '>') {
                        state = kScanText;
                    } else {
                        ++cur;
                        if (!IsWhiteSpace(c)) {
                            startAttribute(c);
                        }
                    }
                    break;
                case kScanAttrName:
                    if (c == '>') {
                        state = kScanText;
                        break;
                    }
                    ++cur;
                    if (IsWhiteSpace(c)) {
                        state = kScanAfterName;
                    } else if (c == '=') {
                        state = nameComplete() ? kScanValueOpen : kScanSkipOpen;
                    } else if (m_nScanMatch >= 0 && !nameComplete() &&
                               Lower(c) == static_cast<unsigned char>(
                                               m_pScanTag->attribute[m_nScanMatch])) {
                        ++m_nScanMatch;
                    } else {
                        m_nScanMatch = -1;
                    }
                    break;
                case kScanAfterName:
                    if (c == '>') {
                        state = kScanText;
                        break;
                    }
                    ++cur;
                    if (c == '=') {
                        state = nameComplete() ? kScanValueOpen : kScanSkipOpen;
                    } else if (!IsWhiteSpace(c)) {
                        startAttribute(c);
                    }
                    break;
                case kScanValueOpen:
                    if (IsWhiteSpace(c)) {
                        ++cur;
                    } else if (c == '"' || c == '\'') {
                        ++cur;
                        m_chScanQuote = static_cast<char>(c);
                        startValue();
                        state = kScanQuotedValue;
                    } else if (m_pScanTag->isBase) {
                        // An unquoted BASE value is copied as it stands.
                        state = kScanSkipBare;
                    } else {
                        startValue();
                        state = kScanBareValue;
                    }
                    break;
                case kScanQuotedValue: {
                    const void* q = std::memchr(buf + cur, m_chScanQuote, end - cur);
                    if (q == nullptr) {
                        cur = end;
                    } else {
                        std::size_t delim = static_cast<const char*>(q) - buf;
                        cur = delim + 1;
                        complete(delim);
                    }
                    break;
                }
                case kScanBareValue:
                    ++cur;
                    if (IsWhiteSpace(c) || c == '>') {
                        complete(cur - 1);
                    }
                    break;
                case kScanSkipOpen:
                    if (c == '>') {
                        state = kScanText;
                        break;
                    }
                    ++cur;
                    if (c == '"' || c == '\'') {
                        m_chScanQuote = static_cast<char>(c);
                        state = kScanSkipQuoted;
                    } else if (!IsWhiteSpace(c)) {
                        state = kScanSkipBare;
                    }
                    break;
                case kScanSkipQuoted:
                case kScanLongQuoted: {
                    const void* q = std::memchr(buf + cur, m_chScanQuote, end - cur);
                    if (q == nullptr) {
                        cur = end;
                    } else {
                        cur = static_cast<const char*>(q) - buf + 1;
                        state = state == kScanSkipQuoted ? kScanAttrGap : kScanText;
                    }
                    break;
                }
                case kScanSkipBare:
                case kScanLongBare:
                    if (c == '>') {
                        state = kScanText;
                    } else {
                        ++cur;
                        if (IsWhiteSpace(c)) {
                            state = state == kScanSkipBare ? kScanAttrGap : kScanText;
                        }
                    }
                    break;
                default:
                    state = kScanText;
                    break;
            }
        }

        if (IsValueState(state)) {
            m_strCarry.append(buf + valueStart, end - valueStart);
            if (m_strCarry.size() > kMaxLinkValue) {
                WriteOut(m_strCarry.data(), m_strCarry.size());
                m_strCarry.clear();
                state = state == kScanQuotedValue ? kScanLongQuoted : kScanLongBare;
            }
        } else {
            WriteOut(buf + mark, end - mark);
        }
    } catch (const FileException& e) {
        m_nScanState = state;
        m_nScanIndex = static_cast<std::uint32_t>(cur);
        ReportFileError(e.cause);
        return 0;
    }
    m_nScanState = state;
    m_nScanIndex = static_cast<std::uint32_t>(end);
    m_pScanCur = buf + end;
    m_pScanMark = buf + end;
    return 1;
}

}  // namespace tandril
