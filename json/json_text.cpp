#include "json/json_text.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

namespace {

inline bool IsDigit(char c) {
    return static_cast<unsigned char>(c - '0') < 10;
}

// Bytes 0x01 to 0x20; the terminating NUL is never whitespace.
inline const char* SkipWhitespace(const char* p) {
    while (static_cast<unsigned char>(*p) - 1u < 0x20u)
        ++p;
    return p;
}

inline int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Four hexadecimal digits at p, or -1. Stops at the first non-digit, so never passes a NUL.
inline int32_t ReadHex4(const char* p) {
    int32_t v = 0;
    for (int i = 0; i < 4; ++i) {
        int h = HexValue(p[i]);
        if (h < 0)
            return -1;
        v = (v << 4) | h;
    }
    return v;
}

inline char* PutUtf8(char* o, uint32_t cp) {
    if (cp < 0x80) {
        *o++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *o++ = static_cast<char>(0xC0 | (cp >> 6));
        *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *o++ = static_cast<char>(0xE0 | (cp >> 12));
        *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *o++ = static_cast<char>(0xF0 | (cp >> 18));
        *o++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *o++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *o++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return o;
}

char* CopyBytes(const char* bytes, std::size_t length) {
    char* s = static_cast<char*>(std::malloc(length + 1));
    if (!s)
        throw std::bad_alloc();
    std::memcpy(s, bytes, length);
    s[length] = '\0';
    return s;
}

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

class Reader {
public:
    explicit Reader(const char* text) : text_(text) {}

    JsonReadResult Run() {
        JsonNode* root = nullptr;
        const char* p = ReadValue(SkipWhitespace(text_), &root);
        if (!p)
            return {nullptr, static_cast<std::size_t>(fail_ - text_)};
        return {root, 0};
    }

private:
    const char* Fail(const char* at) {
        fail_ = at;
        return nullptr;
    }

    const char* ReadValue(const char* p, JsonNode** out) {
        switch (*p) {
            case 'n':
                if (p[1] == 'u' && p[2] == 'l' && p[3] == 'l') {
                    *out = JsonNewNode(kJsonNull);
                    return p + 4;
                }
                return Fail(p);
            case 'f':
                if (p[1] == 'a' && p[2] == 'l' && p[3] == 's' && p[4] == 'e') {
                    *out = JsonNewNode(kJsonFalse);
                    return p + 5;
                }
                return Fail(p);
            case 't':
                if (p[1] == 'r' && p[2] == 'u' && p[3] == 'e') {
                    JsonNode* n = JsonNewNode(kJsonTrue);
                    n->int_value = 1;
                    *out = n;
                    return p + 4;
                }
                return Fail(p);
            case '"': {
                char* s = nullptr;
                p = ReadString(p, &s);
                if (!p)
                    return nullptr;
                JsonNode* n = JsonNewNode(kJsonString);
                n->text = s;
                *out = n;
                return p;
            }
            case '[':
                return ReadArray(p, out);
            case '{':
                return ReadObject(p, out);
            default:
                if (*p == '-' || IsDigit(*p))
                    return ReadNumber(p, out);
                return Fail(p);
        }
    }

    // p is at the opening quotation mark; *out receives a malloc'd NUL-terminated copy.
    const char* ReadString(const char* p, char** out) {
        const char* begin = p + 1;
        const char* s = begin;
        for (;;) {
            char c = *s;
            if (c == '"') {
                *out = CopyBytes(begin, static_cast<std::size_t>(s - begin));
                return s + 1;
            }
            if (c == '\\')
                break;
            if (c == '\0')
                return Fail(s);
            ++s;
        }
        // Escapes present: find the closing quotation mark first; the decoded text is never
        // longer than its source. A "\u" without four hexadecimal digits fails at its
        // backslash, even when it runs into the end of the text.
        const char* end = s;
        while (*end != '"') {
            if (*end == '\0')
                return Fail(end);
            if (*end == '\\') {
                if (end[1] == 'u') {
                    if (ReadHex4(end + 2) < 0)
                        return Fail(end);
                    end += 6;
                    continue;
                }
                ++end;
                if (*end == '\0')
                    return Fail(end);
            }
            ++end;
        }
        char* buf = static_cast<char*>(std::malloc(static_cast<std::size_t>(end - begin) + 1));
        if (!buf)
            throw std::bad_alloc();
        std::size_t plain = static_cast<std::size_t>(s - begin);
        std::memcpy(buf, begin, plain);
        char* o = buf + plain;
        const char* q = s;
        while (q < end) {
            if (*q != '\\') {
                *o++ = *q++;
                continue;
            }
            switch (q[1]) {
                case 'b':
                    *o++ = '\b';
                    break;
                case 'f':
                    *o++ = '\f';
                    break;
                case 'n':
                    *o++ = '\n';
                    break;
                case 'r':
                    *o++ = '\r';
                    break;
                case 't':
                    *o++ = '\t';
                    break;
                case 'u': {
                    int32_t u = ReadHex4(q + 2);
                    if (u < 0) {
                        std::free(buf);
                        return Fail(q);
                    }
                    q += 6;
                    if (u >= 0xD800 && u <= 0xDBFF) {
                        if (q[0] == '\\' && q[1] == 'u') {
                            int32_t l = ReadHex4(q + 2);
                            if (l < 0) {
                                std::free(buf);
                                return Fail(q);
                            }
                            q += 6;
                            if (l >= 0xDC00 && l <= 0xDFFF) {
                                uint32_t cp = 0x10000 +
                                              ((static_cast<uint32_t>(u) - 0xD800) << 10) +
                                              (static_cast<uint32_t>(l) - 0xDC00);
                                o = PutUtf8(o, cp);
                            }
                        }
                    } else if (u != 0 && !(u >= 0xDC00 && u <= 0xDFFF)) {
                        o = PutUtf8(o, static_cast<uint32_t>(u));
                    }
                    continue;
                }
                default:
                    *o++ = q[1];
                    break;
            }
            q += 2;
        }
        *o = '\0';
        *out = buf;
        return end + 1;
    }

    // Magnitude of the digit span (no sign) through the library's correctly rounded
    // conversion; out-of-range results become infinity or zero by the decimal exponent.
    static double SlowMagnitude(const char* span, const char* span_end, int64_t decimal_exponent) {
        double d = 0;
        auto r = std::from_chars(span, span_end, d);
        if (r.ec == std::errc::result_out_of_range)
            return decimal_exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
        return d;
    }

    const char* ReadNumber(const char* p, JsonNode** out) {
        int32_t sign = 1;
        if (*p == '-') {
            sign = -1;
            ++p;
        }
        const char* span = p;
        if (*p == '0')
            ++p;
        uint64_t m = 0;
        bool exact = true;  // m holds the whole magnitude
        int64_t significant = 0;
        auto accumulate = [&](char c) {
            unsigned d = static_cast<unsigned>(c - '0');
            if (significant || d)
                ++significant;
            if (exact) {
                if (m > (std::numeric_limits<uint64_t>::max() - d) / 10)
                    exact = false;
                else
                    m = m * 10 + d;
            }
        };
        if (*p >= '1' && *p <= '9') {
            do
                accumulate(*p++);
            while (IsDigit(*p));
        }
        int64_t fraction = 0;
        if (*p == '.' && IsDigit(p[1])) {
            ++p;
            do {
                accumulate(*p++);
                ++fraction;
            } while (IsDigit(*p));
        }
        const char* span_end = p;
        int64_t e = 0;
        if (*p == 'e' || *p == 'E') {
            ++p;
            int64_t esign = 1;
            if (*p == '+') {
                ++p;
            } else if (*p == '-') {
                esign = -1;
                ++p;
            }
            if (IsDigit(*p)) {
                do {
                    if (e < 1000000000000000LL)
                        e = e * 10 + (*p - '0');
                    ++p;
                } while (IsDigit(*p));
                span_end = p;
            }
            e *= esign;
        }
        JsonNode* n = JsonNewNode(kJsonInt);
        n->sign = sign;
        if (fraction == 0 && e == 0) {
            if (exact) {
                if (sign > 0) {
                    n->int_value = static_cast<int64_t>(m);
                    n->double_value = static_cast<double>(m);
                } else {
                    n->int_value = m <= (uint64_t{1} << 63) ? static_cast<int64_t>(0 - m)
                                                            : std::numeric_limits<int64_t>::min();
                    n->double_value = -static_cast<double>(m);
                }
            } else {
                // Beyond 64 bits: the text keeps its value as a double, the integer saturates.
                n->int_value = sign > 0 ? -1 : std::numeric_limits<int64_t>::min();
                n->double_value = sign * SlowMagnitude(span, span_end, 1);
            }
        } else {
            n->kind = kJsonDouble;
            int64_t k = e - fraction;
            double v;
            if (exact && m == 0) {
                v = 0.0;
            } else if (exact && m <= (uint64_t{1} << 53) && k >= -22 && k <= 22) {
                // Both operands exact, so one IEEE operation rounds correctly.
                v = k >= 0 ? static_cast<double>(m) * kPow10[k]
                           : static_cast<double>(m) / kPow10[-k];
            } else {
                v = SlowMagnitude(span, span_end, significant + k);
            }
            v *= sign;
            n->double_value = v;
            n->int_value = JsonTruncToInt64(v);
        }
        *out = n;
        return p;
    }

    const char* ReadArray(const char* p, JsonNode** out) {
        if (++depth_ > kJsonMaxDepth)
            return Fail(p);
        JsonNode* arr = JsonNewNode(kJsonArray);
        p = SkipWhitespace(p + 1);
        if (*p == ']') {
            --depth_;
            *out = arr;
            return p + 1;
        }
        JsonNode* last = nullptr;
        for (;;) {
            JsonNode* item = nullptr;
            p = ReadValue(SkipWhitespace(p), &item);
            if (!p) {
                JsonFree(arr);
                return nullptr;
            }
            if (last) {
                last->next = item;
                item->prev = last;
            } else {
                arr->child = item;
            }
            last = item;
            p = SkipWhitespace(p);
            if (*p == ',') {
                ++p;
            } else if (*p == ']') {
                --depth_;
                *out = arr;
                return p + 1;
            } else {
                JsonFree(arr);
                return Fail(p);
            }
        }
    }

    const char* ReadObject(const char* p, JsonNode** out) {
        if (++depth_ > kJsonMaxDepth)
            return Fail(p);
        JsonNode* obj = JsonNewNode(kJsonObject);
        p = SkipWhitespace(p + 1);
        if (*p == '}') {
            --depth_;
            *out = obj;
            return p + 1;
        }
        JsonNode* last = nullptr;
        for (;;) {
            p = SkipWhitespace(p);
            if (*p != '"') {
                JsonFree(obj);
                return Fail(p);
            }
            char* key = nullptr;
            p = ReadString(p, &key);
            if (!p) {
                JsonFree(obj);
                return nullptr;
            }
            p = SkipWhitespace(p);
            if (*p != ':') {
                std::free(key);
                JsonFree(obj);
                return Fail(p);
            }
            JsonNode* item = nullptr;
            p = ReadValue(SkipWhitespace(p + 1), &item);
            if (!p) {
                std::free(key);
                JsonFree(obj);
                return nullptr;
            }
            item->key = key;
            if (last) {
                last->next = item;
                item->prev = last;
            } else {
                obj->child = item;
            }
            last = item;
            p = SkipWhitespace(p);
            if (*p == ',') {
                ++p;
            } else if (*p == '}') {
                --depth_;
                *out = obj;
                return p + 1;
            } else {
                JsonFree(obj);
                return Fail(p);
            }
        }
    }

    const char* text_;
    const char* fail_ = nullptr;
    int depth_ = 0;
};

// Escape classes for the writer: 0 copy, 1 two-character escape, 2 \u00XX.
struct EscapeTable {
    unsigned char cls[256];
    char short_form[256];
    constexpr EscapeTable() : cls(), short_form() {
        for (int c = 0; c < 0x20; ++c)
            cls[c] = 2;
        const char pairs[][2] = {{'"', '"'},  {'\\', '\\'}, {'\b', 'b'}, {'\t', 't'},
                                 {'\n', 'n'}, {'\f', 'f'},  {'\r', 'r'}};
        for (const auto& p : pairs) {
            cls[static_cast<unsigned char>(p[0])] = 1;
            short_form[static_cast<unsigned char>(p[0])] = p[1];
        }
    }
};
constexpr EscapeTable kEscape;

void AppendEscaped(std::string& out, const char* s) {
    out.push_back('"');
    if (s) {
        const char* run = s;
        for (const char* p = s;; ++p) {
            unsigned char c = static_cast<unsigned char>(*p);
            if (c == 0) {
                out.append(run, static_cast<std::size_t>(p - run));
                break;
            }
            unsigned char cls = kEscape.cls[c];
            if (cls == 0)
                continue;
            out.append(run, static_cast<std::size_t>(p - run));
            run = p + 1;
            if (cls == 1) {
                char esc[2] = {'\\', kEscape.short_form[c]};
                out.append(esc, 2);
            } else {
                static const char kHex[] = "0123456789abcdef";
                char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
                out.append(esc, 6);
            }
        }
    }
    out.push_back('"');
}

void AppendScalar(std::string& out, const JsonNode* n) {
    switch (n->kind) {
        case kJsonFalse:
            out.append("false", 5);
            break;
        case kJsonTrue:
            out.append("true", 4);
            break;
        case kJsonInt:
            JsonAppendInt(out, n->int_value, n->sign);
            break;
        case kJsonDouble:
            // Infinity and NaN have no JSON form; null keeps the text readable.
            if (std::isfinite(n->double_value))
                JsonAppendFixed(out, n->double_value);
            else
                out.append("null", 4);
            break;
        case kJsonString:
            AppendEscaped(out, n->text);
            break;
        default:
            out.append("null", 4);
            break;
    }
}

}  // namespace

JsonReadResult JsonRead(const char* text) {
    if (!text)
        return {nullptr, 0};
    return Reader(text).Run();
}

void JsonAppendInt(std::string& out, int64_t value, int32_t sign) {
    char buf[24];
    std::to_chars_result r =
        sign == -1 ? std::to_chars(buf, buf + sizeof buf, value)
                   : std::to_chars(buf, buf + sizeof buf, static_cast<uint64_t>(value));
    out.append(buf, static_cast<std::size_t>(r.ptr - buf));
}

void JsonAppendFixed(std::string& out, double value) {
    // 309 integer digits at most, the point, six decimals and a sign.
    char buf[328];
    auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 6);
    out.append(buf, static_cast<std::size_t>(r.ptr - buf));
}

void JsonWriteTo(std::string& out, const JsonNode* root, JsonLayout layout) {
    if (!root)
        return;
    const bool pretty = layout == JsonLayout::kFormatted;
    // Containers whose children are being written; iterative so that deep trees built
    // through the document cannot exhaust the stack.
    std::vector<const JsonNode*> open;
    const JsonNode* n = root;
    for (;;) {
        if (!open.empty() && open.back()->kind == kJsonObject) {
            if (pretty)
                out.append(open.size(), '\t');
            AppendEscaped(out, n->key ? n->key : "");
            if (pretty)
                out.append(":\t", 2);
            else
                out.push_back(':');
        }
        if (n->kind == kJsonArray) {
            out.push_back('[');
            if (n->child) {
                open.push_back(n);
                n = n->child;
                continue;
            }
            out.push_back(']');
        } else if (n->kind == kJsonObject) {
            out.push_back('{');
            if (pretty)
                out.push_back('\n');
            if (n->child) {
                open.push_back(n);
                n = n->child;
                continue;
            }
            if (pretty)
                out.append(open.size(), '\t');
            out.push_back('}');
        } else {
            AppendScalar(out, n);
        }
        // Move to the next sibling, closing every container that has none left.
        for (;;) {
            if (open.empty())
                return;
            const JsonNode* parent = open.back();
            if (n->next) {
                if (parent->kind == kJsonArray) {
                    if (pretty)
                        out.append(", ", 2);
                    else
                        out.push_back(',');
                } else {
                    out.push_back(',');
                    if (pretty)
                        out.push_back('\n');
                }
                n = n->next;
                break;
            }
            open.pop_back();
            if (parent->kind == kJsonArray) {
                out.push_back(']');
            } else {
                if (pretty) {
                    out.push_back('\n');
                    out.append(open.size(), '\t');
                }
                out.push_back('}');
            }
            n = parent;
        }
    }
}

std::string JsonWrite(const JsonNode* node, JsonLayout layout) {
    std::string out;
    JsonWriteTo(out, node, layout);
    return out;
}

JsonNode* JsonNewNode(int32_t kind) {
    JsonNode* n = static_cast<JsonNode*>(std::calloc(1, sizeof(JsonNode)));
    if (!n)
        throw std::bad_alloc();
    n->kind = kind;
    n->sign = 1;
    return n;
}

void JsonFree(JsonNode* n) {
    // Iterative: a node's children are spliced in front of its next sibling before the node
    // is released, so the depth of the tree never reaches the stack.
    while (n) {
        if (n->child) {
            JsonNode* last = n->child;
            while (last->next)
                last = last->next;
            last->next = n->next;
            n->next = n->child;
            n->child = nullptr;
        }
        JsonNode* next = n->next;
        std::free(n->text);
        std::free(n->key);
        std::free(n);
        n = next;
    }
}

void JsonSetText(JsonNode* node, const char* bytes, std::size_t length) {
    char* s = CopyBytes(bytes, length);
    std::free(node->text);
    node->text = s;
}

void JsonSetKey(JsonNode* node, const char* bytes, std::size_t length) {
    char* s = CopyBytes(bytes, length);
    std::free(node->key);
    node->key = s;
}

JsonNode* JsonNewInt(int64_t value, int32_t sign) {
    JsonNode* n = JsonNewNode(kJsonInt);
    n->sign = sign;
    n->int_value = value;
    n->double_value =
        sign == -1 ? static_cast<double>(value) : static_cast<double>(static_cast<uint64_t>(value));
    return n;
}

JsonNode* JsonNewDouble(double value) {
    JsonNode* n = JsonNewNode(kJsonDouble);
    n->sign = -1;
    n->double_value = value;
    n->int_value = JsonTruncToInt64(value);
    return n;
}

JsonNode* JsonNewString(const std::string& value) {
    JsonNode* n = JsonNewNode(kJsonString);
    try {
        JsonSetText(n, value.data(), value.size());
    } catch (...) {
        JsonFree(n);
        throw;
    }
    return n;
}

JsonNode* JsonNewBool(bool value) {
    JsonNode* n = JsonNewNode(value ? kJsonTrue : kJsonFalse);
    n->int_value = value ? 1 : 0;
    return n;
}

int64_t JsonTruncToInt64(double value) {
    if (std::isnan(value))
        return 0;
    if (value >= 9223372036854775808.0)
        return std::numeric_limits<int64_t>::max();
    if (value < -9223372036854775808.0)
        return std::numeric_limits<int64_t>::min();
    return static_cast<int64_t>(value);
}
