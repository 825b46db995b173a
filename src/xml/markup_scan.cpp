#include "xml/markup_scan.h"

namespace vodarezazuv {

namespace {

constexpr int32_t kScanChunk = 128;

enum class Mode {
    Text,         // character data of the content, or the prolog between its markup
    Subset,       // between the declarations of the document type's internal subset
    Open,         // just after "<"
    Bang,         // after "<!", telling a comment and a CDATA section from a declaration
    Tag,          // a start or end tag
    TagQuoted,    // an attribute value inside a tag
    Comment,      // after "<!--"
    Pi,           // after "<?"
    CData,        // after "<![CDATA["; not limited
    Declaration,  // "<!DOCTYPE", "<!ENTITY", ...; also the closing "]>" of the document type
    DeclQuoted,   // a literal inside a declaration
    Reference,    // after "&" in text or "%" in the internal subset
};

constexpr char kCommentOpen[] = "--";
constexpr char kCDataOpen[] = "[CDATA[";

class Scanner {
  public:
    explicit Scanner(int32_t limit) : limit_(limit) {}

    // Takes the unit at byte offset position that is unitSize bytes long; false once the open
    // token has grown past the limit.
    bool Take(uint32_t c, int64_t position, int unitSize) {
        if (tokenStart_ >= 0 && position + unitSize - tokenStart_ > limit_)
            return false;
        Step(c, position);
        return true;
    }

  private:
    void Begin(int64_t position, Mode mode) {
        tokenStart_ = position;
        mode_ = mode;
        run_ = 0;
    }

    void End() {
        tokenStart_ = -1;
        mode_ = inSubset_ ? Mode::Subset : Mode::Text;
    }

    static bool IsQuote(uint32_t c) { return c == '"' || c == '\''; }

    void Step(uint32_t c, int64_t position) {
        switch (mode_) {
            case Mode::Text:
            case Mode::Subset:
                if (c == '<')
                    Begin(position, Mode::Open);
                else if (c == (mode_ == Mode::Text ? '&' : '%'))
                    Begin(position, Mode::Reference);
                else if (c == ']' && mode_ == Mode::Subset) {
                    inSubset_ = false;
                    Begin(position, Mode::Declaration);
                }
                break;
            case Mode::Open:
                if (c == '!') {
                    mode_ = Mode::Bang;
                    run_ = 0;
                } else if (c == '?') {
                    mode_ = Mode::Pi;
                } else {
                    mode_ = Mode::Tag;
                    Step(c, position);
                }
                break;
            case Mode::Bang:
                if (run_ == 0)
                    candidate_ = c == '[' ? kCDataOpen : kCommentOpen;
                if (c != static_cast<unsigned char>(candidate_[run_])) {
                    mode_ = Mode::Declaration;
                    Step(c, position);
                } else if (candidate_[++run_] == 0) {
                    // A comment stays one token from its "<"; a CDATA section is no token.
                    if (candidate_ == kCDataOpen)
                        tokenStart_ = -1;
                    mode_ = candidate_ == kCDataOpen ? Mode::CData : Mode::Comment;
                    run_ = 0;
                }
                break;
            case Mode::Tag:
                if (IsQuote(c)) {
                    quote_ = c;
                    mode_ = Mode::TagQuoted;
                } else if (c == '>') {
                    End();
                }
                break;
            case Mode::TagQuoted:
                if (c == quote_)
                    mode_ = Mode::Tag;
                break;
            case Mode::Comment:
            case Mode::CData:
                // "-->" and "]]>" end them; any longer run of dashes or brackets before the
                // ">" is expat's to judge.
                if (c == (mode_ == Mode::Comment ? '-' : ']')) {
                    ++run_;
                } else if (c == '>' && run_ >= 2) {
                    End();
                } else {
                    run_ = 0;
                }
                break;
            case Mode::Pi:
                if (c == '>' && run_ == 1)
                    End();
                else
                    run_ = c == '?' ? 1 : 0;
                break;
            case Mode::Declaration:
                if (IsQuote(c)) {
                    quote_ = c;
                    mode_ = Mode::DeclQuoted;
                } else if (c == '>') {
                    End();
                } else if (c == '[' && !inSubset_) {
                    inSubset_ = true;
                    End();
                }
                break;
            case Mode::DeclQuoted:
                if (c == quote_)
                    mode_ = Mode::Declaration;
                break;
            case Mode::Reference:
                if (c == ';')
                    End();
                break;
        }
    }

    int32_t limit_;
    int64_t tokenStart_ = -1;  // byte offset of the open limited token; -1 when none is open
    Mode mode_ = Mode::Text;
    bool inSubset_ = false;
    uint32_t quote_ = 0;
    int run_ = 0;  // characters of "--" or "[CDATA[" matched; or dashes, brackets, a "?"
    const char* candidate_ = kCommentOpen;  // what "<!" may open: a comment or CDATA
};

}  // namespace

// UTF-16 shows in its byte order mark or in the zero byte beside the first "<"; every other
// encoding expat reads keeps "<", ">", quotes and the other ASCII marks in single bytes.
bool MarkupTokensFitIn(BodyBuffer* buffer, int32_t limit) {
    buffer->Seek(buffer, 0);
    Scanner scanner(limit);
    unsigned char chunk[kScanChunk];
    int32_t count = 0;
    int64_t position = 0;
    int unitSize = 0;        // 1, or 2 for UTF-16; 0 until the first two bytes are seen
    bool bigEndian = false;  // of UTF-16
    unsigned char first = 0;
    while (buffer->Read(buffer, chunk, kScanChunk, &count) == kBodyOk && count > 0) {
        for (int32_t i = 0; i < count; ++i, ++position) {
            unsigned char byte = chunk[i];
            if (unitSize == 0) {
                if (position == 0) {
                    first = byte;
                    continue;
                }
                bool littleEndian = (first == 0xFF && byte == 0xFE) || (first == '<' && byte == 0);
                bigEndian = (first == 0xFE && byte == 0xFF) || (first == 0 && byte == '<');
                unitSize = littleEndian || bigEndian ? 2 : 1;
                if (unitSize == 2) {
                    uint32_t c = bigEndian ? (first << 8 | byte) : (byte << 8 | first);
                    if (!scanner.Take(c, 0, 2))
                        return false;
                    continue;
                }
                if (!scanner.Take(first, 0, 1))
                    return false;
            }
            if (unitSize == 1) {
                if (!scanner.Take(byte, position, 1))
                    return false;
            } else if (position % 2 == 0) {
                first = byte;
            } else {
                uint32_t c = bigEndian ? (first << 8 | byte) : (byte << 8 | first);
                if (!scanner.Take(c, position - 1, 2))
                    return false;
            }
        }
    }
    return true;
}

}  // namespace vodarezazuv
