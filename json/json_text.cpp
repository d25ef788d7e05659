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

// Memory layout. A node's storage word (in the padding after its kind) says where the node
// lives: its distance from the start of the chunk it was carved from, in units of 8 bytes (0
// when it has a block of its own), and two flags saying whether its key and text live right
// after the node. The reader carves the nodes of one read, with their texts, from the chunks
// of one region, so reading a document costs a handful of allocations instead of one per node
// and string. The region goes when its last node is freed, which keeps freeing a single member
// possible; a tree that is still as the reader made it goes at once, without a walk.
constexpr uint32_t kKeyInline = 1;
constexpr uint32_t kTextInline = 2;
constexpr int kOffsetShift = 2;
constexpr std::size_t kUnit = 8;
static_assert(sizeof(JsonNode) % kUnit == 0, "nodes stay aligned one after another");
static_assert(alignof(JsonNode) <= kUnit, "units keep the node aligned");

struct Region;

struct alignas(16) Chunk {
    std::size_t size;  // bytes including this header
    Chunk* next;       // the region's next chunk; while kept in the thread's spare list, the next
    Region* region;    // the read it belongs to
};

// Sits at the start of the first chunk of a read, after the chunk's header.
struct Region {
    std::size_t live;  // nodes of the read that are not freed, plus one while reading
    Chunk* chunks;     // every chunk of the read, the first one (holding this) included
    JsonNode* root;    // what the read returned; null until it succeeded
    bool changed;      // a link or text of the tree changed, or a node of it was freed alone
};
static_assert(sizeof(Region) % kUnit == 0, "nodes after the region stay aligned");

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

void DisposeRegion(Region* r) {
    Chunk* c = r->chunks;  // r lives in one of them
    while (c) {
        Chunk* next = c->next;
        DisposeChunk(c);
        c = next;
    }
}

// The region of a node the reader made, or null for a node with a block of its own.
inline Region* RegionOf(const JsonNode* n) {
    const std::size_t offset = static_cast<std::size_t>(n->storage >> kOffsetShift) * kUnit;
    if (offset == 0)
        return nullptr;
    return reinterpret_cast<const Chunk*>(reinterpret_cast<const char*>(n) - offset)->region;
}

// The region of a node that is the root of a read whose tree is as the reader made it (a key
// or text given to the root since then aside); null otherwise.
inline Region* UntouchedRegion(const JsonNode* n) {
    Region* r = RegionOf(n);
    return r && r->root == n && !r->changed ? r : nullptr;
}

inline JsonNode* PlaceNode(char* mem, uint32_t storage, int32_t kind) {
    JsonNode* n = new (mem) JsonNode();
    n->kind = kind;
    n->storage = storage;
    n->sign = 1;
    return n;
}

void ReleaseNode(JsonNode* n) {
    const uint32_t storage = n->storage;
    // Texts set after the read have blocks of their own; most nodes have none.
    if (n->key && !(storage & kKeyInline))
        std::free(n->key);
    if (n->text && !(storage & kTextInline))
        std::free(n->text);
    Region* region = RegionOf(n);
    if (!region) {
        std::free(n);
        return;
    }
    region->changed = true;
#ifdef CORVANE_JSON_ASAN
    std::size_t bytes = sizeof(JsonNode);
    if (storage & kKeyInline)
        bytes += std::strlen(n->key) + 1;
    if (storage & kTextInline)
        bytes += std::strlen(n->text) + 1;
    CORVANE_POISON(n, bytes);
#endif
    if (--region->live == 0)
        DisposeRegion(region);
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

// Non-zero in the bytes that are not decimal digits, at least in the first of them (a carry
// out of that byte may mark the ones after it too).
inline uint64_t NonDigits(uint64_t x) {
    constexpr uint64_t kHighNibbles = 0xF0F0F0F0F0F0F0F0ULL;
    return ((x & kHighNibbles) ^ (kOnes * 0x30)) |
           (((x + kOnes * 0x06) & kHighNibbles) ^ (kOnes * 0x30));
}

// Index of the lowest non-zero byte of a non-zero word, that is the first of the eight in
// memory order.
inline int FirstByte(uint64_t x) {
#if defined(__GNUC__) || defined(__clang__)
    return __builtin_ctzll(x) >> 3;
#else
    int n = 0;
    while (!(x & 0xFF)) {
        x >>= 8;
        ++n;
    }
    return n;
#endif
}

constexpr uint64_t kPow10Int[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000};

// The value of eight decimal digits, the first one most significant: pairs, then quadruples,
// then the two halves are combined by multiplications.
inline uint32_t EightDigitsValue(uint64_t x) {
    x -= 0x3030303030303030ULL;
    x = (x * 10) + (x >> 8);
    x = (((x & 0x000000FF000000FFULL) * 0x000F424000000064ULL) +
         (((x >> 16) & 0x000000FF000000FFULL) * 0x0000271000000001ULL)) >>
        32;
    return static_cast<uint32_t>(x);
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
    ~Reader() { ReleaseHold(); }

    JsonReadResult Run() {
        JsonNode* root = nullptr;
        const char* p = ReadValue(SkipWhitespace(text_), &root, nullptr);
        if (p)
            region_->root = root;
        ReleaseHold();
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

    // The digits from p on, accumulated into *m (wrapping after 19 digits; the caller then
    // works M out again); returns the first byte after them. Eight bytes are looked at at a
    // time: a run of eight digits, or the digits in front of the first other byte.
    const char* Digits(const char* p, uint64_t* m) const {
        uint64_t v = *m;
        while (p + 8 <= limit_) {
            const uint64_t x = Load8(p);
            const uint64_t others = NonDigits(x);
            if (others == 0) {
                v = v * 100000000 + EightDigitsValue(x);
                p += 8;
                continue;
            }
            const int n = FirstByte(others);
            if (n > 0) {
                // The n digits moved to the top, leading '0's below them.
                const uint64_t y = (x << (64 - 8 * n)) | (kOnes * '0' >> (8 * n));
                v = v * kPow10Int[n] + EightDigitsValue(y);
                p += n;
            }
            *m = v;
            return p;
        }
        while (IsDigit(*p)) {
            v = v * 10 + static_cast<unsigned>(*p - '0');
            ++p;
        }
        *m = v;
        return p;
    }

    // The read's own hold on its region: until it ends, freeing the nodes of a failed read
    // cannot release the chunks still being carved.
    void ReleaseHold() {
        if (region_ && --region_->live == 0)
            DisposeRegion(region_);
        region_ = nullptr;
        chunk_ = nullptr;
        next_ = end_ = nullptr;
    }

    // A node with room for its key and text after it; null when memory ran out.
    JsonNode* NewNode(int32_t kind, const Span* key, const Span* text) {
        std::size_t bytes = sizeof(JsonNode);
        if (key)
            bytes += static_cast<std::size_t>(key->end - key->begin) + 1;
        if (text)
            bytes += static_cast<std::size_t>(text->end - text->begin) + 1;
        bytes = (bytes + kUnit - 1) & ~(kUnit - 1);
        if (static_cast<std::size_t>(end_ - next_) < bytes) {
            // Small chunks first so that small documents stay small; then full-size ones.
            const std::size_t head = sizeof(Chunk) + (region_ ? 0 : sizeof(Region));
            const std::size_t size = std::max(bytes + head, chunk_size_);
            chunk_size_ = std::min(chunk_size_ * 2, kChunkSize);
            Chunk* c = AcquireChunk(size);
            if (!c) {
                out_of_memory_ = true;
                return nullptr;
            }
            char* start = reinterpret_cast<char*>(c + 1);
            if (!region_) {
                region_ = new (start) Region{1, nullptr, nullptr, false};
                start += sizeof(Region);
            }
            c->region = region_;
            c->next = region_->chunks;
            region_->chunks = c;
            chunk_ = c;
            next_ = start;
            end_ = reinterpret_cast<char*>(c) + size;
        }
        char* mem = next_;
        next_ += bytes;
        ++region_->live;
        // Offsets stay below the first node of a chunk plus a full-size chunk, far inside
        // the storage word.
        const uint32_t storage =
            static_cast<uint32_t>((mem - reinterpret_cast<char*>(chunk_)) / kUnit) << kOffsetShift |
            (key ? kKeyInline : 0) | (text ? kTextInline : 0);
        JsonNode* n = PlaceNode(mem, storage, kind);
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
        // The digits accumulate into M in the same pass that finds them; M is exact while
        // there are at most 19 of them (otherwise it is worked out again below).
        uint64_t m = 0;
        // Integer digits: none, or a non-zero digit and what follows.
        const char* int_begin = p;
        if (*p >= '1' && *p <= '9')
            p = Digits(p, &m);
        const char* int_end = p;
        const char* frac_begin = p;
        const char* frac_end = p;
        if (*p == '.' && IsDigit(p[1])) {
            frac_begin = ++p;
            p = Digits(p, &m);
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

        bool exact = true;
        if (int_digits + frac_digits > 19) {
            m = 0;
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
    Region* region_ = nullptr;
    Chunk* chunk_ = nullptr;  // the one being carved
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

// Longest text one number can print: "%f" of the largest double (309 digits, the point, six
// decimals, a sign).
constexpr std::size_t kNumberRoom = 328;

char* PutInt(char* p, int64_t value, int32_t sign) {
    std::to_chars_result r = sign == -1 ? std::to_chars(p, p + 24, value)
                                        : std::to_chars(p, p + 24, static_cast<uint64_t>(value));
    return r.ptr;
}

// "%f" in the C locale. Below 1e9 the value times 10^6 is below 2^50, so its rounding to an
// integer is exact arithmetic on doubles: r = value * 10^6 is within half an ulp of the exact
// product, and only when r lies exactly halfway does the product's rounding error (exact
// through fma) decide, with exact ties going to even as printf does.
char* PutFixed(char* out, double value) {
    const double mag = std::fabs(value);
    if (!(mag < 1e9))
        return std::to_chars(out, out + kNumberRoom, value, std::chars_format::fixed, 6).ptr;
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
    const std::size_t length = static_cast<std::size_t>(end - p);
    std::memcpy(out, p, length);
    return out + length;
}

// The writer's output: a block on the stack appended to the string in large pieces, so that
// each value costs one room check instead of a string append per piece.
class Out {
public:
    explicit Out(std::string& s) : s_(s) {}
    Out(const Out&) = delete;
    Out& operator=(const Out&) = delete;

    // At least n bytes (n <= kSize) of room at the returned position; Done() says how many
    // were used.
    char* Room(std::size_t n) {
        if (static_cast<std::size_t>(buf_ + kSize - p_) < n)
            Flush();
        return p_;
    }
    void Done(char* end) { p_ = end; }

    void Write(const char* bytes, std::size_t n) {
        if (static_cast<std::size_t>(buf_ + kSize - p_) < n) {
            Flush();
            if (n > kSize) {
                s_.append(bytes, n);
                return;
            }
        }
        std::memcpy(p_, bytes, n);
        p_ += n;
    }
    void Repeat(char c, std::size_t n) {
        while (n > 0) {
            const std::size_t k = std::min(n, kSize);
            char* p = Room(k);
            std::memset(p, c, k);
            p_ = p + k;
            n -= k;
        }
    }
    void Flush() {
        s_.append(buf_, static_cast<std::size_t>(p_ - buf_));
        p_ = buf_;
    }

    static constexpr std::size_t kSize = 16384;

private:
    std::string& s_;
    char buf_[kSize];
    char* p_ = buf_;
};

// The escape of a byte that needs one (at most six bytes) at o; returns its end.
inline char* PutEscape(char* o, unsigned char c) {
    o[0] = '\\';
    if (kEscape.cls[c] == 1) {
        o[1] = kEscape.short_form[c];
        return o + 2;
    }
    static const char kHex[] = "0123456789abcdef";
    const char rest[5] = {'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
    std::memcpy(o + 1, rest, 5);
    return o + 6;
}

void WriteEscaped(Out& out, const char* s) {
    const std::size_t length = s ? std::strlen(s) : 0;
    const char* end = s + length;
    const char* p = s;
    // Quotation mark, the text and at most six bytes per escape, or one piece at a time.
    const std::size_t whole = 6 * length + 2;
    if (whole <= Out::kSize) {
        char* o = out.Room(whole);
        *o++ = '"';
        while (p < end) {
            if (p + 8 <= end) {
                const uint64_t x = Load8(p);
                if (!EscapeStops(x)) {
                    std::memcpy(o, &x, 8);
                    o += 8;
                    p += 8;
                    continue;
                }
            }
            const unsigned char c = static_cast<unsigned char>(*p++);
            if (kEscape.cls[c] == 0)
                *o++ = static_cast<char>(c);
            else
                o = PutEscape(o, c);
        }
        *o++ = '"';
        out.Done(o);
        return;
    }
    out.Write("\"", 1);
    const char* run = p;
    while (p < end) {
        if (p + 8 <= end && !EscapeStops(Load8(p))) {
            p += 8;
            continue;
        }
        const unsigned char c = static_cast<unsigned char>(*p);
        if (kEscape.cls[c] == 0) {
            ++p;
            continue;
        }
        out.Write(run, static_cast<std::size_t>(p - run));
        run = ++p;
        char esc[6];
        out.Write(esc, static_cast<std::size_t>(PutEscape(esc, c) - esc));
    }
    out.Write(run, static_cast<std::size_t>(end - run));
    out.Write("\"", 1);
}

void WriteScalar(Out& out, const JsonNode* n) {
    switch (n->kind) {
        case kJsonFalse:
            out.Write("false", 5);
            break;
        case kJsonTrue:
            out.Write("true", 4);
            break;
        case kJsonInt:
            out.Done(PutInt(out.Room(24), n->int_value, n->sign));
            break;
        case kJsonDouble:
            // Infinity and NaN have no JSON form; null keeps the text readable.
            if (std::isfinite(n->double_value))
                out.Done(PutFixed(out.Room(kNumberRoom), n->double_value));
            else
                out.Write("null", 4);
            break;
        case kJsonString:
            WriteEscaped(out, n->text);
            break;
        default:
            out.Write("null", 4);
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
    out.append(buf, static_cast<std::size_t>(PutInt(buf, value, sign) - buf));
}

void JsonAppendFixed(std::string& out, double value) {
    char buf[kNumberRoom];
    out.append(buf, static_cast<std::size_t>(PutFixed(buf, value) - buf));
}

void JsonWriteTo(std::string& s, const JsonNode* root, JsonLayout layout) {
    if (!root)
        return;
    const bool pretty = layout == JsonLayout::kFormatted;
    Out out(s);
    // Containers whose children are being written; iterative so that deep trees built
    // through the document cannot exhaust the stack.
    std::vector<const JsonNode*> open;
    const JsonNode* n = root;
    for (;;) {
        if (!open.empty() && open.back()->kind == kJsonObject) {
            if (pretty)
                out.Repeat('\t', open.size());
            WriteEscaped(out, n->key ? n->key : "");
            if (pretty)
                out.Write(":\t", 2);
            else
                out.Write(":", 1);
        }
        if (n->kind == kJsonArray) {
            if (n->child) {
                out.Write("[", 1);
                open.push_back(n);
                n = n->child;
                continue;
            }
            out.Write("[]", 2);
        } else if (n->kind == kJsonObject) {
            if (pretty)
                out.Write("{\n", 2);
            else
                out.Write("{", 1);
            if (n->child) {
                open.push_back(n);
                n = n->child;
                continue;
            }
            if (pretty)
                out.Repeat('\t', open.size());
            out.Write("}", 1);
        } else {
            WriteScalar(out, n);
        }
        // Move to the next sibling, closing every container that has none left.
        for (;;) {
            if (open.empty()) {
                out.Flush();
                return;
            }
            const JsonNode* parent = open.back();
            if (n->next) {
                if (parent->kind == kJsonArray) {
                    if (pretty)
                        out.Write(", ", 2);
                    else
                        out.Write(",", 1);
                } else {
                    if (pretty)
                        out.Write(",\n", 2);
                    else
                        out.Write(",", 1);
                }
                n = n->next;
                break;
            }
            open.pop_back();
            if (parent->kind == kJsonArray) {
                out.Write("]", 1);
            } else {
                if (pretty) {
                    out.Write("\n", 1);
                    out.Repeat('\t', open.size());
                }
                out.Write("}", 1);
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
    char* mem = static_cast<char*>(std::malloc(sizeof(JsonNode)));
    if (!mem)
        throw std::bad_alloc();
    return PlaceNode(mem, 0, kind);
}

void JsonFree(JsonNode* n) {
    // Iterative, so the depth of the tree never reaches the stack: while a node has children,
    // its first child is rotated up in front of it (the child's siblings become the node's
    // children); a node without children is released and its next sibling follows.
    while (n) {
        if (Region* r = UntouchedRegion(n)) {
            // A tree as the reader made it: all its chunks go at once.
            JsonNode* next = n->next;
            if (n->key && !(n->storage & kKeyInline))
                std::free(n->key);
            if (n->text && !(n->storage & kTextInline))
                std::free(n->text);
            DisposeRegion(r);
            n = next;
            continue;
        }
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

namespace {

// A text of its own below the root of a read is freed only by a walk; the root's own texts are
// freed with the region.
void NoteNewText(JsonNode* node) {
    Region* r = RegionOf(node);
    if (r && r->root != node)
        r->changed = true;
}

}  // namespace

void JsonNoteChange(JsonNode* node) {
    if (Region* r = RegionOf(node))
        r->changed = true;
}

void JsonSetText(JsonNode* node, const char* bytes, std::size_t length) {
    char* s = CopyBytes(bytes, length);
    NoteNewText(node);
    if (!(node->storage & kTextInline))
        std::free(node->text);
    node->storage &= ~kTextInline;
    node->text = s;
}

void JsonSetKey(JsonNode* node, const char* bytes, std::size_t length) {
    char* s = CopyBytes(bytes, length);
    NoteNewText(node);
    if (!(node->storage & kKeyInline))
        std::free(node->key);
    node->storage &= ~kKeyInline;
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
