// Read, write compact, read again, write again: the two texts must be equal. The formatted
// text must read back to the same tree, and the document's copy by text must agree.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "json/json_document.h"
#include "json/json_text.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& a, const std::string& b) {
    std::fprintf(stderr, "%s\n--- first\n%s\n--- second\n%s\n", what, a.c_str(), b.c_str());
    std::abort();
}

std::string RoundTrip(const std::string& text, const char* what) {
    JsonReadResult r = JsonRead(text.c_str());
    if (!r.root)
        Fail(what, text, "(does not read)");
    std::string out = JsonWrite(r.root, JsonLayout::kCompact);
    JsonFree(r.root);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    JsonReadResult r = JsonRead(input.c_str());
    if (!r.root) {
        if (r.error_offset > std::strlen(input.c_str()))
            Fail("failure beyond the text", input, "");
        neb::CJsonObject doc(input);
        if (!doc.IsVoid())
            Fail("document read what the reader refused", input, "");
        return 0;
    }
    // A Double read from a number text is the correctly rounded value of that text.
    if (r.root->kind == kJsonDouble) {
        const char* p = input.c_str();
        while (static_cast<unsigned char>(*p) - 1u < 0x20u)
            ++p;
        double expected = 0;
        std::from_chars_result fc =
            std::from_chars(p, input.c_str() + std::strlen(input.c_str()), expected);
        if (fc.ec == std::errc() &&
            std::memcmp(&expected, &r.root->double_value, sizeof expected) != 0)
            Fail("double differs from from_chars", input, std::to_string(r.root->double_value));
    }
    const std::string compact = JsonWrite(r.root, JsonLayout::kCompact);
    const std::string formatted = JsonWrite(r.root, JsonLayout::kFormatted);
    JsonFree(r.root);

    const std::string again = RoundTrip(compact, "compact text does not read");
    if (again != compact)
        Fail("compact round trip differs", compact, again);
    const std::string fromFormatted = RoundTrip(formatted, "formatted text does not read");
    if (fromFormatted != compact)
        Fail("formatted text reads differently", compact, fromFormatted);

    neb::CJsonObject doc(input);
    neb::CJsonObject copy(doc);
    if (copy.CompactText() != compact)
        Fail("document copy differs", compact, copy.CompactText());
    if (copy.PrettyText() != formatted)
        Fail("document pretty text differs", formatted, copy.PrettyText());
    for (uint32_t i = 0; i < 4; ++i) {
        (void)copy.ReadTextAt(i);
        (void)copy.Element(i).CompactText();
    }
    return 0;
}
