// The JSON document through which every command, reply and discovery message is built and read.
#ifndef CORVANE_JSON_JSON_DOCUMENT_H
#define CORVANE_JSON_JSON_DOCUMENT_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "json/json_text.h"

namespace neb {

// A JSON document that owns a node tree, or views a node inside another document's tree.
//
// Member lookups ignore ASCII letter case; the member cache is keyed by the exact name.
// Child documents returned by Member/Element belong to this document and stay valid until
// their cache entry is dropped (by the write operations that say so), or this document is
// reset, read again or destroyed. Failures return false and leave a text in LastError();
// a successful operation never clears it. Allocation failure throws std::bad_alloc.
// Not thread-safe: one thread at a time per document (its child documents included).
class CJsonObject {
public:
    CJsonObject();
    // Reads the text (FromText); on failure the document is void and LastError() says why.
    CJsonObject(const std::string& text);  // NOLINT(google-explicit-constructor): by design
    // Copies by text: the copy owns its own tree and shares no caches or error text.
    CJsonObject(const CJsonObject& other);
    // Like copy construction: the error text is cleared, then the other's text is read.
    CJsonObject& operator=(const CJsonObject& other);
    virtual ~CJsonObject();

    // Text ----------------------------------------------------------------------------
    bool FromText(const std::string& text);
    void Reset();
    std::string CompactText() const;
    std::string PrettyText() const;
    bool IsVoid() const;
    bool IsArray() const;
    int32_t ArraySize() const;
    std::string LastError() const;

    // Child documents (owned by this document; hold them by reference) ---------------------
    CJsonObject& Member(const std::string& key);
    CJsonObject& Element(uint32_t index);

    // Reading by key (data node an Object) and by index (data node an Array) ---------------
    // A read that finds no suitable node returns false and leaves out untouched.
    std::string ReadText(const std::string& key) const;
    std::string ReadTextAt(uint32_t index) const;
    bool ReadString(const std::string& key, std::string& out) const;
    bool ReadStringAt(uint32_t index, std::string& out) const;
    bool ReadInt32(const std::string& key, int32_t& out) const;
    bool ReadInt32At(uint32_t index, int32_t& out) const;
    bool ReadUint32(const std::string& key, uint32_t& out) const;
    bool ReadUint32At(uint32_t index, uint32_t& out) const;
    bool ReadInt64(const std::string& key, int64_t& out) const;
    bool ReadInt64At(uint32_t index, int64_t& out) const;
    bool ReadUint64(const std::string& key, uint64_t& out) const;
    bool ReadUint64At(uint32_t index, uint64_t& out) const;
    bool ReadBool(const std::string& key, bool& out) const;
    bool ReadBoolAt(uint32_t index, bool& out) const;
    bool ReadFloat(const std::string& key, float& out) const;
    bool ReadFloatAt(uint32_t index, float& out) const;
    bool ReadDouble(const std::string& key, double& out) const;
    bool ReadDoubleAt(uint32_t index, double& out) const;
    bool IsNull(const std::string& key) const;
    bool IsNullAt(uint32_t index) const;

    // Put a new member (a void document becomes an Object) ---------------------------------
    bool PutString(const std::string& key, const std::string& value);
    bool PutInt32(const std::string& key, int32_t value);
    bool PutUint32(const std::string& key, uint32_t value);
    bool PutInt64(const std::string& key, int64_t value);
    bool PutUint64(const std::string& key, uint64_t value);
    bool PutBool(const std::string& key, bool value);
    bool PutFloat(const std::string& key, float value);
    bool PutDouble(const std::string& key, double value);
    bool PutNull(const std::string& key);
    bool PutDocument(const std::string& key, const CJsonObject& doc);
    bool PutEmptyObject(const std::string& key);
    bool PutEmptyArray(const std::string& key);

    // Append an element (a void document becomes an Array) ---------------------------------
    bool AppendString(const std::string& value);
    bool AppendInt32(int32_t value);
    bool AppendUint32(uint32_t value);
    bool AppendInt64(int64_t value);
    bool AppendUint64(uint64_t value);
    bool AppendBool(bool value);
    bool AppendFloat(float value);
    bool AppendDouble(double value);
    bool AppendNull();
    bool AppendDocument(const CJsonObject& doc);

    // Prepend an element (a void document becomes an Array) --------------------------------
    bool PrependString(const std::string& value);
    bool PrependInt32(int32_t value);
    bool PrependUint32(uint32_t value);
    bool PrependInt64(int64_t value);
    bool PrependUint64(uint64_t value);
    bool PrependBool(bool value);
    bool PrependFloat(float value);
    bool PrependDouble(double value);
    bool PrependNull();
    bool PrependDocument(const CJsonObject& doc);

    // Replace an existing member ------------------------------------------------------------
    bool ReplaceString(const std::string& key, const std::string& value);
    bool ReplaceInt32(const std::string& key, int32_t value);
    bool ReplaceUint32(const std::string& key, uint32_t value);
    bool ReplaceInt64(const std::string& key, int64_t value);
    bool ReplaceUint64(const std::string& key, uint64_t value);
    bool ReplaceBool(const std::string& key, bool value);
    bool ReplaceFloat(const std::string& key, float value);
    bool ReplaceDouble(const std::string& key, double value);
    bool ReplaceNull(const std::string& key);
    bool ReplaceDocument(const std::string& key, const CJsonObject& doc);

    // Replace an existing element -----------------------------------------------------------
    bool ReplaceStringAt(uint32_t index, const std::string& value);
    bool ReplaceInt32At(uint32_t index, int32_t value);
    bool ReplaceUint32At(uint32_t index, uint32_t value);
    bool ReplaceInt64At(uint32_t index, int64_t value);
    bool ReplaceUint64At(uint32_t index, uint64_t value);
    bool ReplaceBoolAt(uint32_t index, bool value);
    bool ReplaceFloatAt(uint32_t index, float value);
    bool ReplaceDoubleAt(uint32_t index, double value);
    bool ReplaceNullAt(uint32_t index);
    bool ReplaceDocumentAt(uint32_t index, const CJsonObject& doc);

    // Remove ----------------------------------------------------------------------------------
    bool RemoveMember(const std::string& key);
    bool RemoveAt(uint32_t index);

private:
    struct ValueSource;  // how a write operation makes its value node

    JsonNode* Data() const { return owned_root_ ? owned_root_ : view_root_; }
    const JsonNode* FindKey(const std::string& key) const;
    const JsonNode* FindIndex(uint32_t index) const;
    JsonNode* MakeNode(const ValueSource& source);
    bool EnsureRoot(int32_t kind);
    bool PutValue(const std::string& key, const ValueSource& source);
    bool AddElement(const ValueSource& source, bool at_front);
    bool ReplaceMember(const std::string& key, const ValueSource& source);
    bool ReplaceElement(uint32_t index, const ValueSource& source);
    void DropViewsOf(const JsonNode* node);

    JsonNode* owned_root_ = nullptr;
    JsonNode* view_root_ = nullptr;
    std::string error_;
    std::map<uint32_t, std::unique_ptr<CJsonObject>> element_cache_;
    std::map<std::string, std::unique_ptr<CJsonObject>> member_cache_;
};

}  // namespace neb

#endif  // CORVANE_JSON_JSON_DOCUMENT_H
