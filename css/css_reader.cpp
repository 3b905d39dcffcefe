#include "css/css_reader.h"

#include "url/url_text.h"

#include <array>
#include <cstring>

namespace tandril {
namespace {

bool IsSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}

bool IsNameByte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c >= 0x80 || c == '\\';
}

// Bytes that may begin something the reader looks at, in plain text.
constexpr std::array<bool, 256> MakeInteresting() {
    std::array<bool, 256> t{};
    for (unsigned char c : {'/', '"', '\'', 'u', 'U', '@', '\\'})
        t[c] = true;
    return t;
}
constexpr std::array<bool, 256> kInteresting = MakeInteresting();

constexpr char kUrl[] = "url(";
constexpr char kImport[] = "@import";

}  // namespace

std::string DecodeCssEscapes(std::string_view raw) {
    if (raw.find('\\') == std::string_view::npos)
        return std::string(raw);
    std::string out;
    out.reserve(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\') {
            out += raw[i];
            continue;
        }
        if (++i >= raw.size())
            break;
        const unsigned char c = static_cast<unsigned char>(raw[i]);
        if (c == '\n' || c == '\f') {
            continue;
        }
        if (c == '\r') {
            if (i + 1 < raw.size() && raw[i + 1] == '\n')
                ++i;
            continue;
        }
        if (HexValue(c) < 0) {
            out += static_cast<char>(c);
            continue;
        }
        std::uint32_t cp = 0;
        std::size_t n = 0;
        while (n < 6 && i < raw.size() && HexValue(static_cast<unsigned char>(raw[i])) >= 0) {
            cp = cp * 16 + static_cast<std::uint32_t>(HexValue(static_cast<unsigned char>(raw[i])));
            ++i;
            ++n;
        }
        if (i < raw.size() && IsSpace(static_cast<unsigned char>(raw[i]))) {
            if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')
                ++i;
        } else {
            --i;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

std::string EncodeCssValue(std::string_view text, char quote) {
    static const char kHexDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size() + 4);
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        const bool control = c < 0x20 || c == 0x7F;
        if (control || (quote == 0 && IsSpace(c))) {
            out += '\\';
            if (c >= 16)
                out += kHexDigits[c >> 4];
            out += kHexDigits[c & 15];
            out += ' ';
        } else if (c == '\\' || (quote != 0 && ch == quote) ||
                   (quote == 0 && (c == '"' || c == '\'' || c == '(' || c == ')'))) {
            out += '\\';
            out += ch;
        } else {
            out += ch;
        }
    }
    return out;
}

std::size_t CssReader::SkipToUnescaped(const char* data, std::size_t i, std::size_t size,
                                       char stop) {
    for (; i < size; ++i) {
        if (m_escape) {
            m_escape = false;
        } else if (data[i] == '\\') {
            m_escape = true;
        } else if (data[i] == stop) {
            return i;
        }
    }
    return size;
}

void CssReader::Reset(std::uint64_t offset) {
    CssDeclarationSink* const declarations = m_pDeclarations;
    *this = CssReader();
    m_offset = offset;
    m_pDeclarations = declarations;
}

namespace {

char Lower(unsigned char c) {
    return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}

// Functions that every browser of today reads in any property (or @font-face
// descriptor) that takes them.
bool IsPlainFunction(std::string_view name) {
    static constexpr std::string_view kPlain[] = {"",
                                                  "linear-gradient",
                                                  "radial-gradient",
                                                  "repeating-linear-gradient",
                                                  "repeating-radial-gradient",
                                                  "rgb",
                                                  "rgba",
                                                  "hsl",
                                                  "hsla",
                                                  "calc",
                                                  "format",
                                                  "local"};
    for (std::string_view plain : kPlain) {
        if (name == plain)
            return true;
    }
    return false;
}

}  // namespace

void CssReader::EndDeclaration() {
    if (m_phase == DeclPhase::Value && !m_blocks.empty() && m_tooDeep == 0) {
        CssDeclaration d;
        d.block = m_blocks.back();
        d.number = m_declNumber;
        d.name = m_strName;
        d.plain = m_declPlain;
        d.bang = m_declBang;
        m_pDeclarations->Declared(d);
    }
    ++m_declNumber;
    m_phase = DeclPhase::Start;
    m_declPlain = true;
    m_declBang = false;
    m_strName.clear();
    m_strWord.clear();
}

void CssReader::Track(unsigned char c) {
    if (c == '{') {
        // What came before was a selector or an at-rule's prelude, not a declaration.
        m_phase = DeclPhase::Other;
        EndDeclaration();
        if (m_tooDeep > 0 || m_blocks.size() >= kMaxDepth)
            ++m_tooDeep;
        else
            m_blocks.push_back(++m_blockCount);
        return;
    }
    if (c == '}') {
        EndDeclaration();
        if (m_tooDeep > 0) {
            --m_tooDeep;
        } else if (!m_blocks.empty()) {
            m_pDeclarations->BlockEnded(m_blocks.back());
            m_blocks.pop_back();
        }
        return;
    }
    if (c == ';') {
        EndDeclaration();
        return;
    }
    const bool nameByte = IsNameByte(c) && c != '\\';
    switch (m_phase) {
        case DeclPhase::Start:
            if (IsSpace(c))
                break;
            m_phase = nameByte ? DeclPhase::Name : DeclPhase::Other;
            if (nameByte)
                m_strName += Lower(c);
            break;
        case DeclPhase::Name:
            if (nameByte && m_strName.size() < kMaxName)
                m_strName += Lower(c);
            else if (IsSpace(c))
                m_phase = DeclPhase::AfterName;
            else
                m_phase = c == ':' ? DeclPhase::Value : DeclPhase::Other;
            break;
        case DeclPhase::AfterName:
            if (!IsSpace(c))
                m_phase = c == ':' ? DeclPhase::Value : DeclPhase::Other;
            break;
        case DeclPhase::Value:
            if (c == '\\') {
                m_declPlain = false;
            } else if (nameByte) {
                if (m_strWord.size() < kMaxName)
                    m_strWord += Lower(c);
                else
                    m_declPlain = false;
            } else {
                if (c == '(' && !IsPlainFunction(m_strWord))
                    m_declPlain = false;
                if (c == '!') {
                    m_declBang = true;
                    m_declPlain = false;
                }
                m_strWord.clear();
            }
            break;
        case DeclPhase::Other:
            break;
    }
}

void CssReader::Complete(std::string_view held, ScanSink& sink) {
    // held: the value as written (with its quotes when quoted), then what follows it
    // up to, not including, the ")" (or nothing after an @import string).
    const bool quoted = !held.empty() && (held[0] == '"' || held[0] == '\'');
    const std::string_view raw =
        quoted ? held.substr(1, m_valueEnd - 2) : held.substr(0, m_valueEnd);
    if (raw.size() > kMaxLinkValue) {
        sink.Write(held.data(), held.size());
        return;
    }
    const std::string decoded = DecodeCssEscapes(raw);
    std::string value = decoded;
    if (m_pDeclarations)
        m_pDeclarations->Reference(m_valueOffset, m_declNumber);
    sink.Link(value, 1, m_valueOffset);
    if (value == decoded) {
        sink.Write(held.data(), held.size());
        return;
    }
    std::string out;
    if (quoted) {
        out += held[0];
        out += EncodeCssValue(value, held[0]);
        out += held[0];
    } else {
        out = EncodeCssValue(value, 0);
    }
    out.append(held.substr(m_valueEnd));
    sink.Write(out.data(), out.size());
}

void CssReader::Abandon(std::string_view held, ScanSink& sink) {
    sink.Write(held.data(), held.size());
}

void CssReader::Feed(const char* data, std::size_t size, ScanSink& sink) {
    std::size_t i = 0;
    std::size_t mark = 0;  // first byte not yet written or held
    // The held text when a value ends at `end` (exclusive) of this chunk.
    auto heldUpTo = [&](std::size_t end) -> std::string_view {
        if (m_strHeld.empty())
            return std::string_view(data + mark, end - mark);
        m_strHeld.append(data + mark, end - mark);
        return m_strHeld;
    };
    auto startHold = [&](std::size_t at) {
        sink.Write(data + mark, at - mark);
        mark = at;
        m_strHeld.clear();
        m_valueOffset = m_offset + at;
    };
    auto endHold = [&](std::size_t end, bool complete) {
        std::string_view held = heldUpTo(end);
        if (complete)
            Complete(held, sink);
        else
            Abandon(held, sink);
        m_strHeld.clear();
        mark = end;
    };
    auto holding = [&]() {
        switch (m_state) {
            case State::UrlQuoted:
            case State::UrlAfterQuote:
            case State::UrlBare:
            case State::UrlAfterBare:
            case State::ImportString:
                return true;
            default:
                return false;
        }
    };
    auto heldSize = [&](std::size_t at) { return m_strHeld.size() + (at - mark); };

    while (i < size) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        switch (m_state) {
            case State::Normal: {
                std::size_t j = i;
                while (j < size && !kInteresting[static_cast<unsigned char>(data[j])])
                    ++j;
                if (j > i) {
                    m_afterName = IsNameByte(static_cast<unsigned char>(data[j - 1]));
                    if (m_pDeclarations)
                        TrackText(std::string_view(data + i, j - i));
                }
                i = j;
                if (i >= size)
                    break;
                const unsigned char d = static_cast<unsigned char>(data[i]);
                ++i;
                if (d == '/') {
                    if (i < size && data[i] == '*') {
                        ++i;
                        m_state = State::Comment;
                        m_star = false;
                    } else if (i >= size) {
                        // "/" at the end: whether a comment begins is known next Feed.
                        m_state = State::Slash;
                    } else if (m_pDeclarations) {
                        Track(d);
                    }
                    m_afterName = false;
                } else if (d == '"' || d == '\'') {
                    if (m_pDeclarations)
                        Track(d);
                    m_quote = static_cast<char>(d);
                    m_escape = false;
                    m_state = State::String;
                } else if (d == '\\') {
                    // An escape continues a name; the escaped byte is skipped with it,
                    // in the next Feed when this one ends here.
                    if (m_pDeclarations)
                        Track(d);
                    if (i < size)
                        ++i;
                    else
                        m_state = State::Escape;
                    m_afterName = true;
                } else if (d == '@') {
                    if (m_pDeclarations)
                        Track(d);
                    m_match = 1;
                    m_state = State::MatchImport;
                } else {  // 'u' or 'U'
                    if (m_afterName) {
                        if (m_pDeclarations)
                            Track(d);
                        continue;
                    }
                    m_match = 1;
                    m_state = State::MatchUrl;
                }
                break;
            }
            case State::Escape:
                ++i;
                m_state = State::Normal;
                break;
            case State::Slash:
                // A "/" ended the last Feed: a comment only when "*" follows.
                m_state = State::Normal;
                if (c == '*') {
                    ++i;
                    m_state = State::Comment;
                    m_star = false;
                } else if (m_pDeclarations) {
                    Track('/');
                }
                break;
            case State::Comment:
                for (; i < size; ++i) {
                    const char e = data[i];
                    if (m_star && e == '/') {
                        ++i;
                        m_state = State::Normal;
                        m_afterName = false;
                        break;
                    }
                    m_star = e == '*';
                }
                break;
            case State::String:
                for (; i < size; ++i) {
                    const char e = data[i];
                    if (m_escape) {
                        m_escape = false;
                    } else if (e == '\\') {
                        m_escape = true;
                    } else if (e == m_quote || e == '\n') {
                        ++i;
                        m_state = State::Normal;
                        m_afterName = false;
                        break;
                    }
                }
                break;
            case State::MatchUrl:
                if (static_cast<unsigned char>(c | (m_match < 3 ? 0x20 : 0)) ==
                    static_cast<unsigned char>(kUrl[m_match])) {
                    ++i;
                    if (++m_match == 4) {
                        m_state = State::UrlOpen;
                    }
                } else {
                    if (m_pDeclarations)
                        TrackText(std::string_view(kUrl, m_match));
                    m_state = State::Normal;
                    m_afterName = true;
                    m_import = false;
                }
                break;
            case State::MatchImport:
                if (static_cast<unsigned char>(c | 0x20) ==
                    static_cast<unsigned char>(kImport[m_match])) {
                    ++i;
                    if (++m_match == 7)
                        m_state = State::ImportGap;
                } else {
                    if (m_pDeclarations)
                        TrackText(std::string_view(kImport + 1, m_match - 1));
                    m_state = State::Normal;
                    m_afterName = m_match > 1;
                }
                break;
            case State::ImportGap:
                if (IsSpace(c)) {
                    ++i;
                } else if (c == '"' || c == '\'') {
                    startHold(i);
                    ++i;
                    m_quote = static_cast<char>(c);
                    m_escape = false;
                    m_state = State::ImportString;
                } else if (c == 'u' || c == 'U') {
                    ++i;
                    m_match = 1;
                    m_import = true;
                    m_state = State::MatchUrl;
                } else {
                    m_state = State::Normal;
                    m_afterName = false;
                }
                break;
            case State::UrlOpen:
                if (IsSpace(c)) {
                    ++i;
                } else if (c == ')') {
                    m_state = State::Normal;  // url() names nothing
                    m_afterName = false;
                } else if (c == '"' || c == '\'') {
                    startHold(i);
                    ++i;
                    m_quote = static_cast<char>(c);
                    m_escape = false;
                    m_state = State::UrlQuoted;
                } else {
                    startHold(i);
                    m_escape = false;
                    m_hexDigits = 0;
                    m_state = State::UrlBare;
                }
                break;
            case State::UrlQuoted:
            case State::ImportString: {
                const bool import = m_state == State::ImportString;
                for (; i < size; ++i) {
                    const char e = data[i];
                    if (m_escape) {
                        m_escape = false;
                    } else if (e == '\\') {
                        m_escape = true;
                    } else if (e == m_quote) {
                        ++i;
                        m_valueEnd = heldSize(i);
                        if (import) {
                            endHold(i, true);
                            m_state = State::Normal;
                            m_afterName = false;
                        } else {
                            m_state = State::UrlAfterQuote;
                        }
                        break;
                    } else if (e == '\n') {
                        // A bad string: no reference.
                        endHold(i, false);
                        m_state = import ? State::Normal : State::BadUrl;
                        break;
                    }
                }
                break;
            }
            case State::UrlAfterQuote:
            case State::UrlAfterBare:
                if (IsSpace(c)) {
                    ++i;
                } else if (c == ')') {
                    endHold(i, true);
                    m_state = State::Normal;
                    m_afterName = false;
                    m_import = false;
                } else {
                    endHold(i, false);
                    m_state = State::BadUrl;
                }
                break;
            case State::UrlBare:
                for (; i < size; ++i) {
                    const unsigned char e = static_cast<unsigned char>(data[i]);
                    if (m_hexDigits > 0) {
                        // A hex escape: up to six digits, and one white space after them.
                        const bool hex = HexValue(e) >= 0 && m_hexDigits < 6;
                        m_hexDigits = hex ? m_hexDigits + 1 : 0;
                        if (hex || IsSpace(e))
                            continue;
                    }
                    if (m_escape) {
                        m_escape = false;
                        if (e == '\n') {
                            endHold(i, false);
                            m_state = State::BadUrl;
                            break;
                        }
                        m_hexDigits = HexValue(e) >= 0 ? 1 : 0;
                    } else if (e == '\\') {
                        m_escape = true;
                    } else if (e == ')' || IsSpace(e)) {
                        m_valueEnd = heldSize(i);
                        if (e == ')') {
                            endHold(i, true);
                            m_state = State::Normal;
                            m_afterName = false;
                            m_import = false;
                        } else {
                            m_state = State::UrlAfterBare;
                        }
                        break;
                    } else if (e == '"' || e == '\'' || e == '(' || e < 0x20 || e == 0x7F) {
                        endHold(i, false);
                        m_state = State::BadUrl;
                        break;
                    }
                }
                break;
            case State::BadUrl:
                i = SkipToUnescaped(data, i, size, ')');
                if (i < size) {
                    ++i;
                    m_state = State::Normal;
                    m_afterName = false;
                    m_import = false;
                }
                break;
            case State::LongValue:
                // The rest of a value too long to handle: its closing quote, then ")"
                // (nothing after the quote of an @import string).
                i = SkipToUnescaped(data, i, size, m_longQuoted ? m_quote : ')');
                if (i >= size)
                    break;
                if (m_longQuoted) {
                    m_longQuoted = false;
                    ++i;
                    if (m_import) {
                        m_state = State::Normal;
                        m_import = false;
                    }
                } else {
                    m_state = State::Normal;
                    m_import = false;
                }
                break;
        }
    }

    if (holding()) {
        m_strHeld.append(data + mark, size - mark);
        if (m_strHeld.size() > kMaxLinkValue + 64) {
            // Too long to be a reference worth handling: out as it stands.
            sink.Write(m_strHeld.data(), m_strHeld.size());
            m_longQuoted = m_state == State::UrlQuoted || m_state == State::ImportString;
            m_import = m_state == State::ImportString;
            m_strHeld.clear();
            m_state = State::LongValue;
        }
    } else {
        sink.Write(data + mark, size - mark);
    }
    m_offset += size;
}

void CssReader::Finish(ScanSink& sink) {
    if (!m_strHeld.empty())
        sink.Write(m_strHeld.data(), m_strHeld.size());
    Reset();
}

}  // namespace tandril
