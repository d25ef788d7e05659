#include "json/json_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

// Nodes freed inside a chunk stay mapped; under AddressSanitizer they are poisoned so that a
// dangling node is still caught.
#if defined(__SANITIZE_ADDRESS__)
#define CORVANE_JSON_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CORVANE_JSON_ASAN 1
#endif
#endif
#ifdef CORVANE_JSON_ASAN
#include <sanitizer/asan_interface.h>
#define CORVANE_POISON(p, n) ASAN_POISON_MEMORY_REGION((p), (n))
#define CORVANE_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION((p), (n))
#else
#define CORVANE_POISON(p, n) ((void)(p), (void)(n))
#define CORVANE_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace {

// Memory layout. Every node is preceded by a tag word: the chunk it was carved from (or 0 when
// it has a block of its own) and two flags saying whether its key and text live in the same
// block right after the node. The reader carves nodes from chunks, so reading a document
// costs a handful of allocations instead of one per node and string; a chunk is released
// when the last node in it is freed, which keeps freeing a single member possible.
constexpr uintptr_t kKeyInline = 1;
constexpr uintptr_t kTextInline = 2;
constexpr uintptr_t kFlagMask = 15;
constexpr std::size_t kTagSize = sizeof(uintptr_t);
static_assert(sizeof(JsonNode) % alignof(JsonNode) == 0, "node size");
static_assert(alignof(JsonNode) <= kTagSize, "tag keeps the node aligned");

struct alignas(16) Chunk {
    std::size_t live;  // nodes carved from it that are not freed, plus one while reading
    std::size_t size;  // bytes including this header
    Chunk* next;       // while kept in the thread's spare list
};

// Full-size chunks that were released are kept per thread for the next read (up to a bound),
// so that reading large documents again and again does not hand memory back to the system
// and fault it in anew each time.
constexpr std::size_t kChunkSize = std::size_t{1} << 16;
constexpr std::size_t kSpareLimit = 256;  // chunks, 16 MiB
thread_local Chunk* t_spare = nullptr;
thread_local std::size_t t_spare_count = 0;
thread_local bool t_spare_closed = false;  // the thread is ending: free directly

struct SpareDrain {
    ~SpareDrain() {
        t_spare_closed = true;
        while (Chunk* c = t_spare) {
            t_spare = c->next;
            std::free(c);
        }
        t_spare_count = 0;
    }
};
thread_local SpareDrain t_spare_drain;

// False once the thread is ending; otherwise makes sure its spares are drained at its end.
bool SpareListOpen() {
    if (t_spare_closed)
        return false;
    (void)&t_spare_drain;
    return true;
}

Chunk* AcquireChunk(std::size_t size) {
    if (size == kChunkSize && t_spare) {
        Chunk* c = t_spare;
        t_spare = c->next;
        --t_spare_count;
        CORVANE_UNPOISON(c + 1, kChunkSize - sizeof(Chunk));
        return c;
    }
    Chunk* c = static_cast<Chunk*>(std::malloc(size));
    if (c)
        c->size = size;
    return c;
}

void DisposeChunk(Chunk* c) {
    if (c->size == kChunkSize && t_spare_count < kSpareLimit && SpareListOpen()) {
        c->next = t_spare;
        t_spare = c;
        ++t_spare_count;
        CORVANE_POISON(c + 1, kChunkSize - sizeof(Chunk));
        return;
    }
    CORVANE_UNPOISON(c + 1, c->size - sizeof(Chunk));
    std::free(c);
}

inline uintptr_t& Tag(JsonNode* n) {
    return *reinterpret_cast<uintptr_t*>(reinterpret_cast<char*>(n) - kTagSize);
}

inline JsonNode* PlaceNode(char* mem, uintptr_t tag, int32_t kind) {
    new (mem) uintptr_t(tag);
    JsonNode* n = new (mem + kTagSize) JsonNode();
    n->kind = kind;
    n->sign = 1;
    return n;
}

void ReleaseNode(JsonNode* n) {
    uintptr_t tag = Tag(n);
    if (!(tag & kKeyInline))
        std::free(n->key);
    if (!(tag & kTextInline))
        std::free(n->text);
    Chunk* chunk = reinterpret_cast<Chunk*>(tag & ~kFlagMask);
    if (!chunk) {
        std::free(reinterpret_cast<char*>(n) - kTagSize);
        return;
    }
#ifdef CORVANE_JSON_ASAN
    std::size_t bytes = kTagSize + sizeof(JsonNode);
    if (tag & kKeyInline)
        bytes += std::strlen(n->key) + 1;
    if (tag & kTextInline)
        bytes += std::strlen(n->text) + 1;
    CORVANE_POISON(reinterpret_cast<char*>(n) - kTagSize, bytes);
#endif
    if (--chunk->live == 0)
        DisposeChunk(chunk);
}

inline bool IsDigit(char c) {
    return static_cast<unsigned char>(c - '0') < 10;
}

inline uint64_t Load8(const char* p) {
    uint64_t x;
    std::memcpy(&x, p, sizeof x);
    return x;
}

constexpr uint64_t kOnes = 0x0101010101010101ULL;
constexpr uint64_t kHighs = 0x8080808080808080ULL;
inline uint64_t ZeroBytes(uint64_t x) {
    return (x - kOnes) & ~x & kHighs;
}
// Non-zero when any of the eight bytes is a quotation mark, a backslash or NUL.
inline uint64_t StringStops(uint64_t x) {
    return ZeroBytes(x) | ZeroBytes(x ^ (kOnes * '"')) | ZeroBytes(x ^ (kOnes * '\\'));
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

// The source bytes of a string between its quotation marks; its escapes are already checked.
struct Span {
    const char* begin;
    const char* end;
    bool escaped;
};

// Writes the decoded bytes of the span and a NUL; returns the number of bytes before the NUL.
std::size_t Decode(char* out, const Span& s) {
    if (!s.escaped) {
        std::size_t n = static_cast<std::size_t>(s.end - s.begin);
        std::memcpy(out, s.begin, n);
        out[n] = '\0';
        return n;
    }
    char* o = out;
    const char* q = s.begin;
    while (q < s.end) {
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
                q += 6;
                if (u >= 0xD800 && u <= 0xDBFF) {
                    // Only a following "\u" low surrogate completes the pair; any other
                    // "\u" is consumed with it and both write nothing.
                    if (q[0] == '\\' && q[1] == 'u') {
                        int32_t l = ReadHex4(q + 2);
                        q += 6;
                        if (l >= 0xDC00 && l <= 0xDFFF) {
                            uint32_t cp = 0x10000 + ((static_cast<uint32_t>(u) - 0xD800) << 10) +
                                          (static_cast<uint32_t>(l) - 0xDC00);
                            o = PutUtf8(o, cp);
                        }
                    }
                } else if (u > 0 && !(u >= 0xDC00 && u <= 0xDFFF)) {
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
    return static_cast<std::size_t>(o - out);
}

constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                             1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Magnitude of a decimal digit span (no sign) through the library's correctly rounded,
// locale-independent conversion. Out of range, the decimal exponent of the leading digit says
// whether the value overflowed (infinity) or underflowed (zero).
double SlowMagnitude(const char* span, const char* span_end, int64_t lead_exponent) {
    double d = 0;
    std::from_chars_result r = std::from_chars(span, span_end, d);
    if (r.ec == std::errc::result_out_of_range)
        return lead_exponent > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return d;
}

#if defined(__SIZEOF_INT128__)
constexpr uint64_t kPow5[] = {1ULL,
                              5ULL,
                              25ULL,
                              125ULL,
                              625ULL,
                              3125ULL,
                              15625ULL,
                              78125ULL,
                              390625ULL,
                              1953125ULL,
                              9765625ULL,
                              48828125ULL,
                              244140625ULL,
                              1220703125ULL,
                              6103515625ULL,
                              30517578125ULL,
                              152587890625ULL,
                              762939453125ULL,
                              3814697265625ULL,
                              19073486328125ULL,
                              95367431640625ULL,
                              476837158203125ULL,
                              2384185791015625ULL};

// Sign of m / 10^j - c * 2^f, compared exactly in 128 bits; 2 when the operands do not fit.
int CompareQuotient(uint64_t m, int j, uint64_t c, int f) {
    // m / (5^j * 2^j) against c * 2^f, that is m against c * 5^j * 2^(f + j).
    unsigned __int128 rhs = static_cast<unsigned __int128>(c) * kPow5[j];  // below 2^108
    unsigned __int128 lhs = m;
    const int t = f + j;
    if (t >= 0) {
        if (t > 19)
            return 2;
        rhs <<= t;
    } else {
        if (t < -63)
            return 2;
        lhs <<= -t;
    }
    return lhs < rhs ? -1 : (lhs > rhs ? 1 : 0);
}

// m / 10^j correctly rounded for a 64-bit m (beyond the 2^53 of the plain fast path): an
// estimate within an ulp or two is moved until the exact quotient lies between the midpoints
// to its neighbours (ties to even). False when the exact comparison does not fit.
bool DivideByPow10(uint64_t m, int j, double* out) {
    double q = static_cast<double>(m) / kPow10[j];
    for (int round = 0; round < 4; ++round) {
        uint64_t bits;
        std::memcpy(&bits, &q, sizeof bits);
        const int biased = static_cast<int>(bits >> 52);  // q is positive
        if (biased == 0 || biased == 0x7FF)
            return false;  // subnormal, zero or infinite: leave it to the library
        const uint64_t c = (bits & ((uint64_t{1} << 52) - 1)) | (uint64_t{1} << 52);
        const int e = biased - 1075;  // q = c * 2^e
        int cmp = CompareQuotient(m, j, 2 * c + 1, e - 1);
        if (cmp == 2)
            return false;
        if (cmp > 0 || (cmp == 0 && (c & 1))) {
            ++bits;
            std::memcpy(&q, &bits, sizeof q);
            continue;
        }
        // Below a power of two the neighbour is half as far away.
        cmp = c == (uint64_t{1} << 52) ? CompareQuotient(m, j, 4 * c - 1, e - 2)
                                       : CompareQuotient(m, j, 2 * c - 1, e - 1);
        if (cmp == 2)
            return false;
        if (cmp < 0 || (cmp == 0 && (c & 1))) {
            --bits;
            std::memcpy(&q, &bits, sizeof q);
            continue;
        }
        *out = q;
        return true;
    }
    return false;
}
#else
bool DivideByPow10(uint64_t, int, double*) {
    return false;
}
#endif

class Reader {
public:
    Reader(const char* text, const char* limit) : text_(text), limit_(limit) {}
    ~Reader() { ReleaseChunk(); }

    JsonReadResult Run() {
        JsonNode* root = nullptr;
        const char* p = ReadValue(SkipWhitespace(text_), &root, nullptr);
        ReleaseChunk();
        if (out_of_memory_)
            throw std::bad_alloc();
        if (!p)
            return {nullptr, static_cast<std::size_t>(fail_ - text_)};
        return {root, 0};
    }

private:
    const char* Fail(const char* at) {
        fail_ = at;
        return nullptr;
    }

    // Bytes 0x01 to 0x20; the terminating NUL is never whitespace. Runs of blanks (indentation)
    // are skipped eight at a time.
    const char* SkipWhitespace(const char* p) const {
        for (;;) {
            if (*p == ' ' && p + 8 <= limit_ && Load8(p) == kOnes * ' ') {
                p += 8;
            } else if (static_cast<unsigned char>(*p) - 1u < 0x20u) {
                ++p;
            } else {
                return p;
            }
        }
    }

    void ReleaseChunk() {
        if (chunk_ && --chunk_->live == 0)
            DisposeChunk(chunk_);
        chunk_ = nullptr;
        next_ = end_ = nullptr;
    }

    // A node with room for its key and text after it; null when memory ran out.
    JsonNode* NewNode(int32_t kind, const Span* key, const Span* text) {
        std::size_t bytes = kTagSize + sizeof(JsonNode);
        if (key)
            bytes += static_cast<std::size_t>(key->end - key->begin) + 1;
        if (text)
            bytes += static_cast<std::size_t>(text->end - text->begin) + 1;
        bytes = (bytes + kTagSize - 1) & ~(kTagSize - 1);
        if (static_cast<std::size_t>(end_ - next_) < bytes) {
            ReleaseChunk();
            // Small chunks first so that small documents stay small; then full-size ones.
            std::size_t size =
                bytes + sizeof(Chunk) > chunk_size_ ? bytes + sizeof(Chunk) : chunk_size_;
            chunk_size_ = std::min(chunk_size_ * 2, kChunkSize);
            chunk_ = AcquireChunk(size);
            if (!chunk_) {
                out_of_memory_ = true;
                return nullptr;
            }
            chunk_->live = 1;
            next_ = reinterpret_cast<char*>(chunk_ + 1);
            end_ = reinterpret_cast<char*>(chunk_) + size;
        }
        char* mem = next_;
        next_ += bytes;
        ++chunk_->live;
        uintptr_t tag =
            reinterpret_cast<uintptr_t>(chunk_) | (key ? kKeyInline : 0) | (text ? kTextInline : 0);
        JsonNode* n = PlaceNode(mem, tag, kind);
        char* s = reinterpret_cast<char*>(n + 1);
        if (key) {
            n->key = s;
            s += Decode(s, *key) + 1;
        }
        if (text) {
            n->text = s;
            Decode(s, *text);
        }
        return n;
    }

    const char* ReadValue(const char* p, JsonNode** out, const Span* key) {
        switch (*p) {
            case 'n':
                if (p[1] == 'u' && p[2] == 'l' && p[3] == 'l')
                    return Made(out, NewNode(kJsonNull, key, nullptr), p, p + 4);
                return Fail(p);
            case 'f':
                if (p[1] == 'a' && p[2] == 'l' && p[3] == 's' && p[4] == 'e')
                    return Made(out, NewNode(kJsonFalse, key, nullptr), p, p + 5);
                return Fail(p);
            case 't':
                if (p[1] == 'r' && p[2] == 'u' && p[3] == 'e') {
                    JsonNode* n = NewNode(kJsonTrue, key, nullptr);
                    if (n)
                        n->int_value = 1;
                    return Made(out, n, p, p + 4);
                }
                return Fail(p);
            case '"': {
                Span text;
                const char* after = ScanString(p, &text);
                if (!after)
                    return nullptr;
                return Made(out, NewNode(kJsonString, key, &text), p, after);
            }
            case '[':
                return ReadArray(p, out, key);
            case '{':
                return ReadObject(p, out, key);
            default:
                if (*p == '-' || IsDigit(*p))
                    return ReadNumber(p, out, key);
                return Fail(p);
        }
    }

    const char* Made(JsonNode** out, JsonNode* n, const char* at, const char* after) {
        if (!n)
            return Fail(at);
        *out = n;
        return after;
    }

    // p is at the opening quotation mark. Finds the closing one and checks every "\u" escape:
    // one without four hexadecimal digits fails at its backslash, even at the end of the text.
    const char* ScanString(const char* p, Span* out) {
        const char* s = p + 1;
        out->begin = s;
        bool escaped = false;
        for (;;) {
            while (s + 8 <= limit_ && !StringStops(Load8(s)))
                s += 8;
            char c = *s;
            if (c == '"') {
                out->end = s;
                out->escaped = escaped;
                return s + 1;
            }
            if (c == '\\') {
                escaped = true;
                if (s[1] == 'u') {
                    if (ReadHex4(s + 2) < 0)
                        return Fail(s);
                    s += 6;
                    continue;
                }
                if (s[1] == '\0')
                    return Fail(s + 1);
                s += 2;
                continue;
            }
            if (c == '\0')
                return Fail(s);
            ++s;
        }
    }

    const char* ReadNumber(const char* p, JsonNode** out, const Span* key) {
        const char* start = p;
        int32_t sign = 1;
        if (*p == '-') {
            sign = -1;
            ++p;
        }
        const char* span = p;
        if (*p == '0')
            ++p;
        // Integer digits: none, or a non-zero digit and what follows.
        const char* int_begin = p;
        if (*p >= '1' && *p <= '9') {
            do
                ++p;
            while (IsDigit(*p));
        }
        const char* int_end = p;
        const char* frac_begin = p;
        const char* frac_end = p;
        if (*p == '.' && IsDigit(p[1])) {
            frac_begin = ++p;
            do
                ++p;
            while (IsDigit(*p));
            frac_end = p;
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
        const int64_t int_digits = int_end - int_begin;
        const int64_t frac_digits = frac_end - frac_begin;

        // The magnitude M of all digits, exact while it fits 64 bits.
        uint64_t m = 0;
        bool exact = true;
        if (int_digits + frac_digits <= 19) {
            for (const char* q = int_begin; q < int_end; ++q)
                m = m * 10 + static_cast<unsigned>(*q - '0');
            for (const char* q = frac_begin; q < frac_end; ++q)
                m = m * 10 + static_cast<unsigned>(*q - '0');
        } else {
            auto accumulate = [&](const char* q, const char* end) {
                for (; q < end && exact; ++q) {
                    unsigned d = static_cast<unsigned>(*q - '0');
                    if (m > (std::numeric_limits<uint64_t>::max() - d) / 10)
                        exact = false;
                    else
                        m = m * 10 + d;
                }
            };
            accumulate(int_begin, int_end);
            accumulate(frac_begin, frac_end);
        }

        JsonNode* n = NewNode(kJsonInt, key, nullptr);
        if (!n)
            return Fail(start);
        n->sign = sign;
        if (frac_digits == 0 && e == 0) {
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
                // Beyond 64 bits: the value stays exact as a double, the integer saturates.
                n->int_value = sign > 0 ? -1 : std::numeric_limits<int64_t>::min();
                n->double_value = sign * SlowMagnitude(span, span_end, int_digits);
            }
        } else {
            n->kind = kJsonDouble;
            const int64_t k = e - frac_digits;
            double v;
            if (exact && m == 0) {
                v = 0.0;
            } else if (exact && m <= (uint64_t{1} << 53) && k >= -22 && k <= 22) {
                // Both operands exact, so one IEEE operation rounds correctly.
                v = k >= 0 ? static_cast<double>(m) * kPow10[k]
                           : static_cast<double>(m) / kPow10[-k];
            } else if (exact && k < 0 && k >= -22 && DivideByPow10(m, static_cast<int>(-k), &v)) {
                // Sixteen to nineteen significant digits with a fraction (coordinates).
            } else {
                int64_t lead = int_digits;
                if (lead == 0) {
                    const char* q = frac_begin;
                    while (q < frac_end && *q == '0')
                        ++q;
                    lead = -(q - frac_begin);
                }
                v = SlowMagnitude(span, span_end, lead + e);
            }
            v *= sign;
            n->double_value = v;
            n->int_value = JsonTruncToInt64(v);
        }
        *out = n;
        return p;
    }

    // Links item as the last child after *last.
    static void Link(JsonNode* parent, JsonNode** last, JsonNode* item) {
        if (*last) {
            (*last)->next = item;
            item->prev = *last;
        } else {
            parent->child = item;
        }
        *last = item;
    }

    const char* ReadArray(const char* p, JsonNode** out, const Span* key) {
        if (++depth_ > kJsonMaxDepth)
            return Fail(p);
        JsonNode* arr = NewNode(kJsonArray, key, nullptr);
        if (!arr)
            return Fail(p);
        p = SkipWhitespace(p + 1);
        if (*p == ']') {
            --depth_;
            *out = arr;
            return p + 1;
        }
        JsonNode* last = nullptr;
        for (;;) {
            JsonNode* item = nullptr;
            p = ReadValue(SkipWhitespace(p), &item, nullptr);
            if (!p) {
                JsonFree(arr);
                return nullptr;
            }
            Link(arr, &last, item);
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

    const char* ReadObject(const char* p, JsonNode** out, const Span* key) {
        if (++depth_ > kJsonMaxDepth)
            return Fail(p);
        JsonNode* obj = NewNode(kJsonObject, key, nullptr);
        if (!obj)
            return Fail(p);
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
            Span name;
            p = ScanString(p, &name);
            if (!p) {
                JsonFree(obj);
                return nullptr;
            }
            p = SkipWhitespace(p);
            if (*p != ':') {
                JsonFree(obj);
                return Fail(p);
            }
            JsonNode* item = nullptr;
            p = ReadValue(SkipWhitespace(p + 1), &item, &name);
            if (!p) {
                JsonFree(obj);
                return nullptr;
            }
            Link(obj, &last, item);
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
    const char* limit_;  // the terminating NUL; eight-byte loads stay before it
    const char* fail_ = nullptr;
    int depth_ = 0;
    bool out_of_memory_ = false;
    Chunk* chunk_ = nullptr;
    char* next_ = nullptr;
    char* end_ = nullptr;
    std::size_t chunk_size_ = 4096;
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

// Non-zero when any of the eight bytes is below 0x20, a quotation mark or a backslash.
inline uint64_t EscapeStops(uint64_t x) {
    return ((x - kOnes * 0x20) & ~x & kHighs) | ZeroBytes(x ^ (kOnes * '"')) |
           ZeroBytes(x ^ (kOnes * '\\'));
}

void AppendEscaped(std::string& out, const char* s) {
    const std::size_t length = s ? std::strlen(s) : 0;
    out.reserve(out.size() + length + 2);
    out.push_back('"');
    const char* end = s + length;
    const char* run = s;
    const char* p = s;
    while (p < end) {
        if (p + 8 <= end && !EscapeStops(Load8(p))) {
            p += 8;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(*p);
        const unsigned char cls = kEscape.cls[c];
        if (cls == 0) {
            ++p;
            continue;
        }
        out.append(run, static_cast<std::size_t>(p - run));
        run = ++p;
        if (cls == 1) {
            const char esc[2] = {'\\', kEscape.short_form[c]};
            out.append(esc, 2);
        } else {
            static const char kHex[] = "0123456789abcdef";
            const char esc[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
            out.append(esc, 6);
        }
    }
    out.append(run, static_cast<std::size_t>(end - run));
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
    return JsonRead(text, std::strlen(text));
}

JsonReadResult JsonRead(const char* text, std::size_t length) {
    if (!text)
        return {nullptr, 0};
    return Reader(text, text + length).Run();
}

void JsonAppendInt(std::string& out, int64_t value, int32_t sign) {
    char buf[24];
    std::to_chars_result r =
        sign == -1 ? std::to_chars(buf, buf + sizeof buf, value)
                   : std::to_chars(buf, buf + sizeof buf, static_cast<uint64_t>(value));
    out.append(buf, static_cast<std::size_t>(r.ptr - buf));
}

void JsonAppendFixed(std::string& out, double value) {
    // Below 1e9 the value times 10^6 is below 2^50, so its rounding to an integer is exact
    // arithmetic on doubles: r = value * 10^6 is within half an ulp of the exact product, and
    // only when r lies exactly halfway does the product's rounding error (exact through fma)
    // decide, with exact ties going to even as printf does.
    const double mag = std::fabs(value);
    if (mag < 1e9) {
        const double r = mag * 1e6;
        double n = std::floor(r);
        const double frac = r - n;
        if (frac > 0.5) {
            n += 1;
        } else if (frac == 0.5) {
            const double err = std::fma(mag, 1e6, -r);
            if (err > 0 || (err == 0 && std::fmod(n, 2.0) != 0))
                n += 1;
        }
        const uint64_t units = static_cast<uint64_t>(n);
        uint64_t whole = units / 1000000;
        uint32_t part = static_cast<uint32_t>(units % 1000000);
        char buf[32];
        char* end = buf + sizeof buf;
        char* p = end;
        for (int i = 0; i < 6; ++i) {
            *--p = static_cast<char>('0' + part % 10);
            part /= 10;
        }
        *--p = '.';
        do {
            *--p = static_cast<char>('0' + whole % 10);
            whole /= 10;
        } while (whole);
        if (std::signbit(value))
            *--p = '-';
        out.append(p, static_cast<std::size_t>(end - p));
        return;
    }
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
    char* mem = static_cast<char*>(std::malloc(kTagSize + sizeof(JsonNode)));
    if (!mem)
        throw std::bad_alloc();
    return PlaceNode(mem, 0, kind);
}

void JsonFree(JsonNode* n) {
    // Iterative, so the depth of the tree never reaches the stack: while a node has children,
    // its first child is rotated up in front of it (the child's siblings become the node's
    // children); a node without children is released and its next sibling follows.
    while (n) {
        if (JsonNode* c = n->child) {
            n->child = c->next;
            c->next = n;
            n = c;
            continue;
        }
        JsonNode* next = n->next;
        ReleaseNode(n);
        n = next;
    }
}

void JsonSetText(JsonNode* node, const char* bytes, std::size_t length) {
    char* s = CopyBytes(bytes, length);
    if (!(Tag(node) & kTextInline))
        std::free(node->text);
    Tag(node) &= ~kTextInline;
    node->text = s;
}

void JsonSetKey(JsonNode* node, const char* bytes, std::size_t length) {
    char* s = CopyBytes(bytes, length);
    if (!(Tag(node) & kKeyInline))
        std::free(node->key);
    Tag(node) &= ~kKeyInline;
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
