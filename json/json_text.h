// JSON text: the node tree, the reader and the writer (compact and formatted).
#ifndef CORVANE_JSON_JSON_TEXT_H
#define CORVANE_JSON_JSON_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>

// Value kind codes stored in JsonNode::kind.
enum JsonKind : int32_t {
    kJsonFalse = 0,
    kJsonTrue = 1,
    kJsonNull = 2,
    kJsonInt = 3,
    kJsonDouble = 4,
    kJsonString = 5,
    kJsonArray = 6,
    kJsonObject = 7,
};

// One node per JSON value. Siblings form a doubly linked list; a container points to its
// first child. A node owns its text, its key, its children and the siblings after it.
// Nodes come only from JsonNewNode or the reader (storage says where they live); set texts
// only with JsonSetText/JsonSetKey and free only with JsonFree.
struct JsonNode {
    JsonNode* next;
    JsonNode* prev;
    JsonNode* child;
    int32_t kind;
    uint32_t storage;     // the allocator's: the node's block and where its texts live
    char* text;           // String value, NUL-terminated, or null
    int64_t int_value;    // Int value; for a Double the value truncated toward zero
    double double_value;  // Double value; for an Int the same value as a double
    int32_t sign;         // -1 or +1; for an Int: -1 prints signed, +1 prints unsigned
    char* key;            // member name inside an Object, or null
};

// Deepest nesting of arrays and objects the reader accepts; deeper input fails like any
// other malformed text instead of exhausting the stack.
constexpr int kJsonMaxDepth = 512;

// Result of JsonRead: the root, or null and the offset of the byte where reading stopped.
struct JsonReadResult {
    JsonNode* root;
    std::size_t error_offset;
};

// Reads one value from a NUL-terminated text after leading whitespace; whatever follows the
// first complete value is ignored. On failure nothing is leaked and root is null.
// Keeps no state between calls, so any number of threads may read at once.
JsonReadResult JsonRead(const char* text);
// Same for a text whose length is known; text[length] must be the terminating NUL. Reading
// still ends at the first NUL.
JsonReadResult JsonRead(const char* text, std::size_t length);

enum class JsonLayout { kCompact, kFormatted };

// Writes the node and everything under it (not its siblings).
std::string JsonWrite(const JsonNode* node, JsonLayout layout);
// Same, appending to out.
void JsonWriteTo(std::string& out, const JsonNode* node, JsonLayout layout);

// Appends an Int the way the writer prints it: signed when sign is -1, else unsigned.
void JsonAppendInt(std::string& out, int64_t value, int32_t sign);
// Appends a double as "%f" prints it in the C locale (six digits after the point).
void JsonAppendFixed(std::string& out, double value);

// A zero-filled node of the given kind with sign +1.
JsonNode* JsonNewNode(int32_t kind);
// Frees the node, its children and every sibling after it; null is allowed.
void JsonFree(JsonNode* node);
// To be called before a link of the node changes (a child linked under it or unlinked from it,
// the node itself replaced or moved) anywhere but in the reader: the tree of a read is then no
// longer freed all at once but node by node, and nodes added to it are freed with it.
void JsonNoteChange(JsonNode* node);
// Replace the node's text or key with a copy of the given bytes (a NUL is appended).
void JsonSetText(JsonNode* node, const char* bytes, std::size_t length);
void JsonSetKey(JsonNode* node, const char* bytes, std::size_t length);

// Typed node constructors used by the document's write operations.
JsonNode* JsonNewInt(int64_t value, int32_t sign);
JsonNode* JsonNewDouble(double value);
JsonNode* JsonNewString(const std::string& value);
JsonNode* JsonNewBool(bool value);

// Truncates toward zero into a signed 64-bit integer without undefined behaviour: NaN gives 0,
// values outside the range saturate.
int64_t JsonTruncToInt64(double value);

#endif  // CORVANE_JSON_JSON_TEXT_H
