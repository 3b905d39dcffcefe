#include "html/html_scanner.h"

#include <array>
#include <cstring>
#include <span>
#include <vector>

#include "html/tag_table.h"
#include "html/value_readers.h"
#include "url/attribute_value.h"
#include "url/url_text.h"

namespace tandril {
namespace {

bool IsSpace(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r';
}
bool IsLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}

// The attributes of a whole start tag ("<" to ">"), as a browser's tokenizer splits it.
template <typename Attribute>
void ParseAttributes(std::string_view tag, std::size_t from, std::vector<Attribute>& out) {
    out.clear();
    std::size_t i = from;
    const std::size_t end = tag.size() - 1;  // the ">"
    while (i < end) {
        while (i < end && (IsSpace(static_cast<unsigned char>(tag[i])) || tag[i] == '/'))
            ++i;
        if (i >= end)
            break;
        Attribute a;
        a.nameStart = i++;
        while (i < end && !IsSpace(static_cast<unsigned char>(tag[i])) && tag[i] != '/' &&
               tag[i] != '=')
            ++i;
        a.nameEnd = i;
        std::size_t j = i;
        while (j < end && IsSpace(static_cast<unsigned char>(tag[j])))
            ++j;
        if (j < end && tag[j] == '=') {
            i = j + 1;
            while (i < end && IsSpace(static_cast<unsigned char>(tag[i])))
                ++i;
            a.hasValue = true;
            if (i < end && (tag[i] == '"' || tag[i] == '\'')) {
                a.quote = tag[i];
                a.valueStart = ++i;
                const std::size_t close = tag.find(a.quote, i);
                a.valueEnd = close == std::string_view::npos || close > end ? end : close;
                i = a.valueEnd + 1;
            } else {
                a.valueStart = i;
                while (i < end && !IsSpace(static_cast<unsigned char>(tag[i])))
                    ++i;
                a.valueEnd = i;
            }
        }
        out.push_back(a);
    }
}

// Collects a CSS reader's output for a style attribute, passing its links on.
class CollectingSink : public ScanSink {
public:
    CollectingSink(ScanSink& outer, std::uint64_t offset) : m_outer(outer), m_offset(offset) {}
    void Write(const char* data, std::size_t size) override { text.append(data, size); }
    void Link(std::string& value, int kind, std::uint64_t) override {
        m_outer.Link(value, kind, m_offset);
    }
    std::string text;

private:
    ScanSink& m_outer;
    std::uint64_t m_offset;
};

constexpr char kStyleEnd[] = "</style";

// Bytes that may end a run of name or unquoted value bytes inside a tag.
constexpr std::array<bool, 256> MakeTagStops() {
    std::array<bool, 256> t{};
    for (unsigned char c : {' ', '\t', '\n', '\f', '\r', '/', '=', '>'})
        t[c] = true;
    return t;
}
constexpr std::array<bool, 256> kTagStop = MakeTagStops();

}  // namespace

void HtmlScanner::Reset() {
    m_state = State::Text;
    m_phase = TagPhase::Name;
    m_strCarry.clear();
    m_nNoted = 0;
    m_bTooManyAttributes = false;
    m_offset = 0;
    m_css.Reset();
    m_endMatch = 0;
    m_strEndCarry.clear();
}

std::size_t HtmlScanner::FindTagEnd(const char* data, std::size_t i, std::size_t size) {
    // Attributes are noted by their offsets from the tag's "<": data[k] is at base + k
    // (modulo 2^64, as the tag may begin in this input).
    const std::size_t base = static_cast<std::size_t>(m_offset - m_tagOffset);
    const bool note = m_state == State::InTag && !m_bTooManyAttributes;
    Attribute* current = note && m_nNoted > 0 ? &m_noted[m_nNoted - 1] : nullptr;
    auto noteStart = [&](std::size_t k) {
        if (!note || m_bTooManyAttributes)
            return;
        if (m_nNoted == kMaxNotedAttributes) {
            m_bTooManyAttributes = true;
            current = nullptr;
            return;
        }
        current = &m_noted[m_nNoted++];
        *current = Attribute{base + k, base + k, 0, 0, 0, false};
    };
    // The phase is kept in a local: the notes written below could alias the member.
    TagPhase phase = m_phase;
    auto stop = [&](std::size_t result) {
        m_phase = phase;
        return result;
    };
    while (i < size) {
        switch (phase) {
            case TagPhase::Quoted: {
                const void* q = std::memchr(data + i, m_quote, size - i);
                if (q == nullptr)
                    return stop(std::string::npos);
                i = static_cast<std::size_t>(static_cast<const char*>(q) - data);
                if (current != nullptr)
                    current->valueEnd = base + i;
                ++i;
                phase = TagPhase::BeforeAttr;
                continue;
            }
            case TagPhase::Name:
            case TagPhase::AttrName:
            case TagPhase::Unquoted:
                // Runs of name or value bytes are passed over at once.
                while (i < size && !kTagStop[static_cast<unsigned char>(data[i])])
                    ++i;
                if (i >= size)
                    return stop(std::string::npos);
                break;
            default:
                break;
        }
        const unsigned char c = static_cast<unsigned char>(data[i]);
        switch (phase) {
            case TagPhase::Quoted:
                break;
            case TagPhase::Name:
                if (IsSpace(c) || c == '/')
                    phase = TagPhase::BeforeAttr;
                break;
            case TagPhase::AttrName:
                // Every byte that stops a name run ends the name.
                if (current != nullptr)
                    current->nameEnd = base + i;
                if (IsSpace(c))
                    phase = TagPhase::AfterName;
                else if (c == '/')
                    phase = TagPhase::BeforeAttr;
                else if (c == '=')
                    phase = TagPhase::BeforeValue;
                break;
            case TagPhase::BeforeAttr:
                if (!IsSpace(c) && c != '/' && c != '>') {
                    phase = TagPhase::AttrName;
                    noteStart(i);
                }
                break;
            case TagPhase::AfterName:
                if (c == '=') {
                    phase = TagPhase::BeforeValue;
                } else if (c == '/') {
                    phase = TagPhase::BeforeAttr;
                } else if (!IsSpace(c) && c != '>') {
                    phase = TagPhase::AttrName;
                    noteStart(i);
                }
                break;
            case TagPhase::BeforeValue:
                if (IsSpace(c))
                    break;
                if (current != nullptr) {
                    current->hasValue = true;
                    current->valueStart = current->valueEnd = base + i;
                }
                if (c == '"' || c == '\'') {
                    m_quote = static_cast<char>(c);
                    phase = TagPhase::Quoted;
                    if (current != nullptr) {
                        current->quote = m_quote;
                        ++current->valueStart;
                    }
                } else if (c != '>') {
                    phase = TagPhase::Unquoted;
                }
                break;
            case TagPhase::Unquoted:
                if (IsSpace(c) || c == '>') {
                    if (current != nullptr)
                        current->valueEnd = base + i;
                    if (c != '>')
                        phase = TagPhase::BeforeAttr;
                }
                break;
        }
        ++i;
        if (c == '>' && phase != TagPhase::Quoted)
            return stop(i);
    }
    return stop(std::string::npos);
}

bool HtmlScanner::HandleTag(std::string_view tag, std::uint64_t offset, ScanSink& sink,
                            std::string_view before) {
    std::size_t nameEnd = 1;
    while (nameEnd < tag.size() - 1 && !IsSpace(static_cast<unsigned char>(tag[nameEnd])) &&
           tag[nameEnd] != '/')
        ++nameEnd;
    const std::string_view name = tag.substr(1, nameEnd - 1);
    const TagRows rows = FindTagRows(name);
    if (EqualsNoCase(name, "style")) {
        m_state = State::StyleText;
        m_css.Reset(offset + tag.size());
    }
    if (m_bTooManyAttributes)
        ParseAttributes(tag, nameEnd, m_parsed);
    const std::span<const Attribute> attributes =
        m_bTooManyAttributes ? std::span<const Attribute>(m_parsed)
                             : std::span<const Attribute>(m_noted.data(), m_nNoted);
    auto nameOf = [&](const Attribute& a) {
        return tag.substr(a.nameStart, a.nameEnd - a.nameStart);
    };
    auto isStyle = [&](const Attribute& a) {
        return a.nameEnd - a.nameStart == 5 && EqualsNoCase(nameOf(a), "style");
    };
    // Most tags carry no link and no style: out as they came.
    if (rows.empty()) {
        bool style = false;
        for (const Attribute& a : attributes)
            style = style || isStyle(a);
        if (!style)
            return false;
    }

    // Rules that look at another attribute of the tag, wherever it stands.
    auto valueOf = [&](std::string_view attributeName) -> std::string {
        for (const Attribute& a : attributes)
            if (a.hasValue && EqualsNoCase(nameOf(a), attributeName))
                return DecodeAttributeValue(tag.substr(a.valueStart, a.valueEnd - a.valueStart));
        return {};
    };

    std::size_t written = 0;
    bool changed = false;
    // The rows (a tag has at most a few) and style already met: a browser takes the
    // first of two attributes of one name.
    unsigned seen = 0;
    constexpr unsigned kStyleSeen = 1u << 31;
    for (const Attribute& a : attributes) {
        const std::string_view attributeName = nameOf(a);
        const TagAttribute* row = nullptr;
        unsigned bit = kStyleSeen;
        for (const TagAttribute* r = rows.begin; r != rows.end; ++r) {
            if (EqualsNoCase(attributeName, r->attribute)) {
                row = r;
                bit = 1u << (r - rows.begin);
            }
        }
        if (row == nullptr && !isStyle(a))
            continue;
        if ((seen & bit) != 0)
            continue;
        seen |= bit;
        if (!a.hasValue)
            continue;

        ValueForm form = ValueForm::Css;
        int kind = 1;
        if (row != nullptr) {
            form = row->form;
            kind = row->kind;
            if (row->rule == TagRule::Base && (!m_bFindBase || a.quote == 0))
                continue;
            if (row->rule == TagRule::LinkRel) {
                const std::string rel = valueOf("rel");
                kind = IsLoadingRel(rel) ? 1 : IsMetadataRel(rel) ? 4 : 0;
            }
            if (row->rule == TagRule::MetaRefresh &&
                !EqualsNoCase(valueOf("http-equiv"), "refresh")) {
                if (EqualsNoCase(valueOf("name"), "robots"))
                    sink.RobotsDirective(valueOf("content"));
                continue;
            }
            if (row->rule == TagRule::NofollowRel && kind == 0 && HasNofollowRel(valueOf("rel")))
                kind = 3;
        }

        const std::string_view raw = tag.substr(a.valueStart, a.valueEnd - a.valueStart);
        if (raw.size() > kMaxLinkValue)
            continue;
        const std::uint64_t at = offset + a.valueStart;
        std::string& decoded = m_strDecoded;
        DecodeAttributeValue(raw, decoded);
        std::string& value = m_strValue;
        value.clear();
        switch (form) {
            case ValueForm::Url:
                value.assign(decoded);
                sink.Link(value, kind, at);
                break;
            case ValueForm::Srcset: {
                std::size_t done = 0;
                for (const ValueRange& r : ReadSrcset(decoded)) {
                    std::string url = decoded.substr(r.start, r.size);
                    sink.Link(url, kind, at);
                    value.append(decoded, done, r.start - done).append(url);
                    done = r.start + r.size;
                }
                value.append(decoded, done, std::string::npos);
                break;
            }
            case ValueForm::Refresh:
                if (auto r = ReadRefreshUrl(decoded)) {
                    std::string url = decoded.substr(r->start, r->size);
                    sink.Link(url, kind, at);
                    value = decoded.substr(0, r->start) + url + decoded.substr(r->start + r->size);
                } else {
                    value.assign(decoded);
                }
                break;
            case ValueForm::Css: {
                CollectingSink collect(sink, at);
                CssReader reader;
                reader.Feed(decoded.data(), decoded.size(), collect);
                reader.Finish(collect);
                value.swap(collect.text);
                break;
            }
        }
        if (value != decoded) {
            if (!changed) {
                changed = true;
                sink.Write(before.data(), before.size());
            }
            sink.Write(tag.data() + written, a.valueStart - written);
            if (NeedsAttributeEncoding(value, a.quote)) {
                const std::string encoded = EncodeAttributeValue(value, a.quote);
                sink.Write(encoded.data(), encoded.size());
            } else {
                sink.Write(value.data(), value.size());
            }
            written = a.valueEnd;
        }
    }
    if (changed)
        sink.Write(tag.data() + written, tag.size() - written);
    return changed;
}

void HtmlScanner::Feed(const char* data, std::size_t size, ScanSink& sink) {
    std::size_t i = 0;
    // Bytes from `mark` on are neither written nor held: text and tags that go out as
    // they came are written in one piece, when something else must be written or at
    // the end of the input.
    std::size_t mark = 0;
    std::size_t tagStart = 0;  // where the tag being read began, in this input
    while (i < size) {
        switch (m_state) {
            case State::Text: {
                const void* lt = std::memchr(data + i, '<', size - i);
                if (lt == nullptr) {
                    i = size;
                    break;
                }
                const std::size_t p = static_cast<std::size_t>(static_cast<const char*>(lt) - data);
                i = p + 1;
                // End tags, comments and a lone "<" are text: the search goes on.
                if (i < size && !IsLetter(static_cast<unsigned char>(data[i])))
                    break;
                tagStart = p;
                m_tagOffset = m_offset + p;
                m_nNoted = 0;
                m_bTooManyAttributes = false;
                if (i < size) {
                    m_state = State::InTag;
                    m_phase = TagPhase::Name;
                } else {
                    m_state = State::TagOpen;  // the next input tells
                }
                break;
            }
            case State::TagOpen:
                if (IsLetter(static_cast<unsigned char>(data[i]))) {
                    m_state = State::InTag;
                    m_phase = TagPhase::Name;
                } else {
                    // Not a start tag: the "<" is text.
                    if (!m_strCarry.empty()) {
                        sink.Write(m_strCarry.data(), m_strCarry.size());
                        m_strCarry.clear();
                    }
                    m_state = State::Text;
                }
                break;
            case State::InTag: {
                const std::size_t end = FindTagEnd(data, i, size);
                if (end == std::string::npos) {
                    i = size;
                    break;
                }
                i = end;
                m_state = State::Text;
                if (m_strCarry.empty()) {
                    const std::string_view tag(data + tagStart, end - tagStart);
                    const std::string_view before(data + mark, tagStart - mark);
                    if (HandleTag(tag, m_tagOffset, sink, before))
                        mark = end;
                } else {
                    // The tag began in an earlier input: what came before it is written.
                    m_strCarry.append(data + mark, end - mark);
                    if (!HandleTag(m_strCarry, m_tagOffset, sink, {}))
                        sink.Write(m_strCarry.data(), m_strCarry.size());
                    m_strCarry.clear();
                    mark = end;
                }
                break;
            }
            case State::LongTag: {
                const std::size_t end = FindTagEnd(data, i, size);
                if (end == std::string::npos) {
                    i = size;
                } else {
                    i = end;
                    m_state = State::Text;
                }
                break;
            }
            case State::StyleText:
                sink.Write(data + mark, i - mark);
                i += FeedStyle(data + i, size - i, sink);
                mark = i;
                break;
        }
    }
    switch (m_state) {
        case State::TagOpen:
        case State::InTag:
            if (m_strCarry.empty() && tagStart > mark) {
                sink.Write(data + mark, tagStart - mark);
                mark = tagStart;
            }
            m_strCarry.append(data + mark, size - mark);
            if (m_strCarry.size() > kMaxTagBytes) {
                sink.Write(m_strCarry.data(), m_strCarry.size());
                m_strCarry.clear();
                m_state = State::LongTag;
            }
            break;
        default:
            sink.Write(data + mark, size - mark);
            break;
    }
    m_offset += size;
}

std::size_t HtmlScanner::FeedStyle(const char* data, std::size_t size, ScanSink& sink) {
    std::size_t i = 0;
    while (i < size) {
        if (m_endMatch == 0) {
            const void* lt = std::memchr(data + i, '<', size - i);
            const std::size_t p =
                lt == nullptr ? size
                              : static_cast<std::size_t>(static_cast<const char*>(lt) - data);
            m_css.Feed(data + i, p - i, sink);
            if (p == size)
                return size;
            m_strEndCarry.assign(1, '<');
            m_endMatch = 1;
            i = p + 1;
            continue;
        }
        const char c = data[i];
        if (m_endMatch < 7) {
            if (Lower(c) == kStyleEnd[m_endMatch]) {
                m_strEndCarry += c;
                ++m_endMatch;
                ++i;
                continue;
            }
        } else if (IsSpace(static_cast<unsigned char>(c)) || c == '/' || c == '>') {
            // The element ends: the end tag and what follows are text again.
            m_css.Finish(sink);
            sink.Write(m_strEndCarry.data(), m_strEndCarry.size());
            m_strEndCarry.clear();
            m_endMatch = 0;
            m_state = State::Text;
            return i;
        }
        m_css.Feed(m_strEndCarry.data(), m_strEndCarry.size(), sink);
        m_strEndCarry.clear();
        m_endMatch = 0;
    }
    return size;
}

void HtmlScanner::Finish(ScanSink& sink) {
    if (m_state == State::StyleText) {
        if (!m_strEndCarry.empty())
            m_css.Feed(m_strEndCarry.data(), m_strEndCarry.size(), sink);
        m_css.Finish(sink);
    }
    if (!m_strCarry.empty())
        sink.Write(m_strCarry.data(), m_strCarry.size());
    Reset();
}

}  // namespace tandril
