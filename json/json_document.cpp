#include "json/json_document.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <functional>
#include <limits>
#include <utility>

namespace neb {

namespace {

const char kNullData[] = "json data is null!";
const char kNotObject[] = "not a json object! json array?";
const char kNotArray[] = "not a json array! json object?";
const char kKeyExists[] = "key exists!";
const char kReadError[] = "prase json string error at ";

// ASCII-only folding: the locale must not change which member a key finds.
inline unsigned char FoldCase(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

bool KeysMatch(const char* a, const char* b) {
    for (;; ++a, ++b) {
        unsigned char x = FoldCase(static_cast<unsigned char>(*a));
        unsigned char y = FoldCase(static_cast<unsigned char>(*b));
        if (x != y)
            return false;
        if (x == 0)
            return true;
    }
}

JsonNode* FindMember(const JsonNode* object, const char* key) {
    for (JsonNode* c = object->child; c; c = c->next) {
        if (c->key && KeysMatch(c->key, key))
            return c;
    }
    return nullptr;
}

JsonNode* FindElement(const JsonNode* array, uint32_t index) {
    // Indexes beyond the signed 32-bit range are out of range.
    if (index > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
        return nullptr;
    JsonNode* c = array->child;
    for (uint32_t i = 0; c && i < index; ++i)
        c = c->next;
    return c;
}

void Unlink(JsonNode* parent, JsonNode* n) {
    if (n->prev)
        n->prev->next = n->next;
    else
        parent->child = n->next;
    if (n->next)
        n->next->prev = n->prev;
    n->next = nullptr;
    n->prev = nullptr;
}

void ReplaceInList(JsonNode* parent, JsonNode* old, JsonNode* n) {
    n->prev = old->prev;
    n->next = old->next;
    if (old->prev)
        old->prev->next = n;
    else
        parent->child = n;
    if (old->next)
        old->next->prev = n;
    old->next = nullptr;
    old->prev = nullptr;
}

std::function<JsonNode*()> IntValue(int64_t value, int32_t sign) {
    return [value, sign] { return JsonNewInt(value, sign); };
}
std::function<JsonNode*()> DoubleValue(double value) {
    return [value] { return JsonNewDouble(value); };
}
std::function<JsonNode*()> BoolValue(bool value) {
    return [value] { return JsonNewBool(value); };
}
std::function<JsonNode*()> KindValue(int32_t kind) {
    return [kind] { return JsonNewNode(kind); };
}
std::function<JsonNode*()> StringValue(const std::string& value) {
    return [&value] { return JsonNewString(value); };
}

// Low 32 bits, as the integer reads define them.
inline uint32_t Low32(int64_t v) {
    return static_cast<uint32_t>(static_cast<uint64_t>(v));
}

uint64_t DoubleToUint64(double v) {
    if (std::isnan(v))
        return 0;
    if (v >= 18446744073709551616.0)
        return std::numeric_limits<uint64_t>::max();
    if (v >= 9223372036854775808.0)
        return static_cast<uint64_t>(v);
    // Negative values wrap as a negative Int does.
    return static_cast<uint64_t>(JsonTruncToInt64(v));
}

std::string NodeText(const JsonNode* n) {
    std::string out;
    if (!n)
        return out;
    switch (n->kind) {
        case kJsonFalse:
            out = "false";
            break;
        case kJsonTrue:
            out = "true";
            break;
        case kJsonInt:
            JsonAppendInt(out, n->int_value, n->sign);
            break;
        case kJsonDouble: {
            double v = n->double_value;
            double mag = std::fabs(v);
            if (mag < 1e-6 || mag > 1e9) {
                char buf[64];
                auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 6);
                out.assign(buf, static_cast<std::size_t>(r.ptr - buf));
            } else {
                JsonAppendFixed(out, v);
            }
            break;
        }
        case kJsonString:
            if (n->text)
                out = n->text;
            break;
        default:
            break;
    }
    return out;
}

}  // namespace

struct CJsonObject::ValueSource {
    const CJsonObject* document;       // copied by text when set
    std::function<JsonNode*()> typed;  // otherwise makes the node
};

CJsonObject::CJsonObject() = default;

CJsonObject::CJsonObject(const std::string& text) {
    FromText(text);
}

CJsonObject::CJsonObject(const CJsonObject& other) {
    FromText(other.CompactText());
}

CJsonObject& CJsonObject::operator=(const CJsonObject& other) {
    std::string text = other.CompactText();
    error_.clear();
    FromText(text);
    return *this;
}

CJsonObject::~CJsonObject() {
    Reset();
}

bool CJsonObject::FromText(const std::string& text) {
    Reset();
    JsonReadResult r = JsonRead(text.c_str(), text.size());
    if (!r.root) {
        std::string message = kReadError;
        message += text.c_str() + r.error_offset;
        error_ = std::move(message);
        return false;
    }
    owned_root_ = r.root;
    return true;
}

void CJsonObject::Reset() {
    element_cache_.clear();
    member_cache_.clear();
    JsonFree(owned_root_);
    owned_root_ = nullptr;
    view_root_ = nullptr;
}

std::string CJsonObject::CompactText() const {
    return JsonWrite(Data(), JsonLayout::kCompact);
}

std::string CJsonObject::PrettyText() const {
    return JsonWrite(Data(), JsonLayout::kFormatted);
}

bool CJsonObject::IsVoid() const {
    return Data() == nullptr;
}

bool CJsonObject::IsArray() const {
    const JsonNode* d = Data();
    return d && d->kind == kJsonArray;
}

int32_t CJsonObject::ArraySize() const {
    const JsonNode* d = Data();
    if (!d || d->kind != kJsonArray)
        return 0;
    int32_t count = 0;
    for (const JsonNode* c = d->child; c; c = c->next)
        ++count;
    return count;
}

std::string CJsonObject::LastError() const {
    return error_;
}

CJsonObject& CJsonObject::Member(const std::string& key) {
    auto it = member_cache_.find(key);
    if (it != member_cache_.end())
        return *it->second;
    auto child = std::make_unique<CJsonObject>();
    const JsonNode* d = Data();
    if (d && d->kind == kJsonObject)
        child->view_root_ = FindMember(d, key.c_str());
    CJsonObject& ref = *child;
    member_cache_.emplace(key, std::move(child));
    return ref;
}

CJsonObject& CJsonObject::Element(uint32_t index) {
    auto it = element_cache_.find(index);
    if (it != element_cache_.end())
        return *it->second;
    auto child = std::make_unique<CJsonObject>();
    const JsonNode* d = Data();
    if (d && d->kind == kJsonArray)
        child->view_root_ = FindElement(d, index);
    CJsonObject& ref = *child;
    element_cache_.emplace(index, std::move(child));
    return ref;
}

const JsonNode* CJsonObject::FindKey(const std::string& key) const {
    const JsonNode* d = Data();
    if (!d || d->kind != kJsonObject)
        return nullptr;
    return FindMember(d, key.c_str());
}

const JsonNode* CJsonObject::FindIndex(uint32_t index) const {
    const JsonNode* d = Data();
    if (!d || d->kind != kJsonArray)
        return nullptr;
    return FindElement(d, index);
}

// Reading ----------------------------------------------------------------------------------

namespace {

inline bool IsNumber(const JsonNode* n) {
    return n && (n->kind == kJsonInt || n->kind == kJsonDouble);
}

bool NodeString(const JsonNode* n, std::string& out) {
    if (!n || n->kind != kJsonString)
        return false;
    out = n->text ? n->text : "";
    return true;
}
bool NodeInt32(const JsonNode* n, int32_t& out) {
    if (!IsNumber(n))
        return false;
    int64_t v = n->kind == kJsonInt ? n->int_value : JsonTruncToInt64(n->double_value);
    out = static_cast<int32_t>(Low32(v));
    return true;
}
bool NodeUint32(const JsonNode* n, uint32_t& out) {
    if (!IsNumber(n))
        return false;
    out = Low32(n->kind == kJsonInt ? n->int_value : JsonTruncToInt64(n->double_value));
    return true;
}
bool NodeInt64(const JsonNode* n, int64_t& out) {
    if (!IsNumber(n))
        return false;
    out = n->kind == kJsonInt ? n->int_value : JsonTruncToInt64(n->double_value);
    return true;
}
bool NodeUint64(const JsonNode* n, uint64_t& out) {
    if (!IsNumber(n))
        return false;
    out =
        n->kind == kJsonInt ? static_cast<uint64_t>(n->int_value) : DoubleToUint64(n->double_value);
    return true;
}
bool NodeBool(const JsonNode* n, bool& out) {
    if (!n || (n->kind != kJsonFalse && n->kind != kJsonTrue))
        return false;
    out = n->kind == kJsonTrue;
    return true;
}
bool NodeFloat(const JsonNode* n, float& out) {
    if (!IsNumber(n))
        return false;
    double v = n->double_value;
    // Finite values beyond float's range become infinities rather than undefined behaviour.
    if (v > FLT_MAX)
        out = std::numeric_limits<float>::infinity();
    else if (v < -FLT_MAX)
        out = -std::numeric_limits<float>::infinity();
    else
        out = static_cast<float>(v);
    return true;
}
bool NodeDouble(const JsonNode* n, double& out) {
    if (!IsNumber(n))
        return false;
    out = n->double_value;
    return true;
}

}  // namespace

std::string CJsonObject::ReadText(const std::string& key) const {
    return NodeText(FindKey(key));
}
std::string CJsonObject::ReadTextAt(uint32_t index) const {
    return NodeText(FindIndex(index));
}
bool CJsonObject::ReadString(const std::string& key, std::string& out) const {
    return NodeString(FindKey(key), out);
}
bool CJsonObject::ReadStringAt(uint32_t index, std::string& out) const {
    return NodeString(FindIndex(index), out);
}
bool CJsonObject::ReadInt32(const std::string& key, int32_t& out) const {
    return NodeInt32(FindKey(key), out);
}
bool CJsonObject::ReadInt32At(uint32_t index, int32_t& out) const {
    return NodeInt32(FindIndex(index), out);
}
bool CJsonObject::ReadUint32(const std::string& key, uint32_t& out) const {
    return NodeUint32(FindKey(key), out);
}
bool CJsonObject::ReadUint32At(uint32_t index, uint32_t& out) const {
    return NodeUint32(FindIndex(index), out);
}
bool CJsonObject::ReadInt64(const std::string& key, int64_t& out) const {
    return NodeInt64(FindKey(key), out);
}
bool CJsonObject::ReadInt64At(uint32_t index, int64_t& out) const {
    return NodeInt64(FindIndex(index), out);
}
bool CJsonObject::ReadUint64(const std::string& key, uint64_t& out) const {
    return NodeUint64(FindKey(key), out);
}
bool CJsonObject::ReadUint64At(uint32_t index, uint64_t& out) const {
    return NodeUint64(FindIndex(index), out);
}
bool CJsonObject::ReadBool(const std::string& key, bool& out) const {
    return NodeBool(FindKey(key), out);
}
bool CJsonObject::ReadBoolAt(uint32_t index, bool& out) const {
    return NodeBool(FindIndex(index), out);
}
bool CJsonObject::ReadFloat(const std::string& key, float& out) const {
    return NodeFloat(FindKey(key), out);
}
bool CJsonObject::ReadFloatAt(uint32_t index, float& out) const {
    return NodeFloat(FindIndex(index), out);
}
bool CJsonObject::ReadDouble(const std::string& key, double& out) const {
    return NodeDouble(FindKey(key), out);
}
bool CJsonObject::ReadDoubleAt(uint32_t index, double& out) const {
    return NodeDouble(FindIndex(index), out);
}
bool CJsonObject::IsNull(const std::string& key) const {
    const JsonNode* n = FindKey(key);
    return n && n->kind == kJsonNull;
}
bool CJsonObject::IsNullAt(uint32_t index) const {
    const JsonNode* n = FindIndex(index);
    return n && n->kind == kJsonNull;
}

// Writing ----------------------------------------------------------------------------------

JsonNode* CJsonObject::MakeNode(const ValueSource& source) {
    if (!source.document)
        return source.typed();
    // Copy by text: write the source compactly and read it back.
    std::string text = source.document->CompactText();
    JsonReadResult r = JsonRead(text.c_str(), text.size());
    if (!r.root) {
        std::string message = kReadError;
        message += text.c_str() + r.error_offset;
        error_ = std::move(message);
    }
    return r.root;
}

bool CJsonObject::EnsureRoot(int32_t kind) {
    if (!Data())
        owned_root_ = JsonNewNode(kind);
    return true;
}

void CJsonObject::DropViewsOf(const JsonNode* node) {
    // A cached child viewing a node that is about to be freed would dangle, whichever key
    // spelling or index it was cached under.
    for (auto it = member_cache_.begin(); it != member_cache_.end();) {
        if (it->second->view_root_ == node)
            it = member_cache_.erase(it);
        else
            ++it;
    }
    for (auto it = element_cache_.begin(); it != element_cache_.end();) {
        if (it->second->view_root_ == node)
            it = element_cache_.erase(it);
        else
            ++it;
    }
}

bool CJsonObject::PutValue(const std::string& key, const ValueSource& source) {
    EnsureRoot(kJsonObject);
    JsonNode* d = Data();
    if (d->kind != kJsonObject) {
        error_ = kNotObject;
        return false;
    }
    if (FindMember(d, key.c_str())) {
        error_ = kKeyExists;
        return false;
    }
    JsonNode* n = MakeNode(source);
    if (!n)
        return false;
    try {
        JsonSetKey(n, key.c_str(), std::char_traits<char>::length(key.c_str()));
    } catch (...) {
        JsonFree(n);
        throw;
    }
    JsonNoteChange(d);
    JsonNode* last = d->child;
    if (!last) {
        d->child = n;
    } else {
        while (last->next)
            last = last->next;
        last->next = n;
        n->prev = last;
    }
    if (source.document) {
        member_cache_.erase(key);
        return true;
    }
    return FindMember(d, key.c_str()) != nullptr;
}

bool CJsonObject::AddElement(const ValueSource& source, bool at_front) {
    EnsureRoot(kJsonArray);
    JsonNode* d = Data();
    if (d->kind != kJsonArray) {
        error_ = kNotArray;
        return false;
    }
    JsonNode* n = MakeNode(source);
    if (!n)
        return false;
    JsonNoteChange(d);
    uint32_t before = 0;
    JsonNode* last = nullptr;
    for (JsonNode* c = d->child; c; c = c->next) {
        last = c;
        ++before;
    }
    if (at_front) {
        n->next = d->child;
        if (d->child)
            d->child->prev = n;
        d->child = n;
    } else if (last) {
        last->next = n;
        n->prev = last;
    } else {
        d->child = n;
    }
    if (source.document) {
        if (at_front) {
            element_cache_.clear();
        } else {
            element_cache_.erase(element_cache_.lower_bound(before), element_cache_.end());
        }
    }
    return true;
}

bool CJsonObject::ReplaceMember(const std::string& key, const ValueSource& source) {
    JsonNode* d = Data();
    if (!d) {
        error_ = kNullData;
        return false;
    }
    if (d->kind != kJsonObject) {
        error_ = kNotObject;
        return false;
    }
    JsonNode* n = MakeNode(source);
    if (!n)
        return false;
    JsonNode* old = FindMember(d, key.c_str());
    if (!old) {
        JsonFree(n);
        return false;
    }
    try {
        JsonSetKey(n, key.c_str(), std::char_traits<char>::length(key.c_str()));
    } catch (...) {
        JsonFree(n);
        throw;
    }
    JsonNoteChange(d);
    ReplaceInList(d, old, n);
    DropViewsOf(old);
    JsonFree(old);
    member_cache_.erase(key);
    return FindMember(d, key.c_str()) != nullptr;
}

bool CJsonObject::ReplaceElement(uint32_t index, const ValueSource& source) {
    JsonNode* d = Data();
    if (!d) {
        error_ = kNullData;
        return false;
    }
    if (d->kind != kJsonArray) {
        error_ = kNotArray;
        return false;
    }
    JsonNode* n = MakeNode(source);
    if (!n)
        return false;
    JsonNode* old = FindElement(d, index);
    if (!old) {
        JsonFree(n);
        return false;
    }
    JsonNoteChange(d);
    ReplaceInList(d, old, n);
    DropViewsOf(old);
    JsonFree(old);
    element_cache_.erase(index);
    return true;
}

bool CJsonObject::RemoveMember(const std::string& key) {
    JsonNode* d = Data();
    if (!d) {
        error_ = kNullData;
        return false;
    }
    if (d->kind != kJsonObject) {
        error_ = kNotObject;
        return false;
    }
    if (JsonNode* old = FindMember(d, key.c_str())) {
        JsonNoteChange(d);
        Unlink(d, old);
        DropViewsOf(old);
        JsonFree(old);
    }
    member_cache_.erase(key);
    return true;
}

bool CJsonObject::RemoveAt(uint32_t index) {
    JsonNode* d = Data();
    if (!d) {
        error_ = kNullData;
        return false;
    }
    if (d->kind != kJsonArray) {
        error_ = kNotArray;
        return false;
    }
    if (JsonNode* old = FindElement(d, index)) {
        JsonNoteChange(d);
        Unlink(d, old);
        DropViewsOf(old);
        JsonFree(old);
    }
    element_cache_.erase(element_cache_.lower_bound(index), element_cache_.end());
    return true;
}

// The typed families -------------------------------------------------------------------------

bool CJsonObject::PutString(const std::string& key, const std::string& value) {
    return PutValue(key, {nullptr, StringValue(value)});
}
bool CJsonObject::PutInt32(const std::string& key, int32_t value) {
    return PutValue(key, {nullptr, IntValue(value, -1)});
}
bool CJsonObject::PutUint32(const std::string& key, uint32_t value) {
    return PutValue(key, {nullptr, IntValue(value, 1)});
}
bool CJsonObject::PutInt64(const std::string& key, int64_t value) {
    return PutValue(key, {nullptr, IntValue(value, -1)});
}
bool CJsonObject::PutUint64(const std::string& key, uint64_t value) {
    return PutValue(key, {nullptr, IntValue(static_cast<int64_t>(value), 1)});
}
bool CJsonObject::PutBool(const std::string& key, bool value) {
    return PutValue(key, {nullptr, BoolValue(value)});
}
bool CJsonObject::PutFloat(const std::string& key, float value) {
    return PutValue(key, {nullptr, DoubleValue(value)});
}
bool CJsonObject::PutDouble(const std::string& key, double value) {
    return PutValue(key, {nullptr, DoubleValue(value)});
}
bool CJsonObject::PutNull(const std::string& key) {
    return PutValue(key, {nullptr, KindValue(kJsonNull)});
}
bool CJsonObject::PutDocument(const std::string& key, const CJsonObject& doc) {
    return PutValue(key, {&doc, nullptr});
}
bool CJsonObject::PutEmptyObject(const std::string& key) {
    return PutValue(key, {nullptr, KindValue(kJsonObject)});
}
bool CJsonObject::PutEmptyArray(const std::string& key) {
    return PutValue(key, {nullptr, KindValue(kJsonArray)});
}

bool CJsonObject::AppendString(const std::string& value) {
    return AddElement({nullptr, StringValue(value)}, false);
}
bool CJsonObject::AppendInt32(int32_t value) {
    return AddElement({nullptr, IntValue(value, -1)}, false);
}
bool CJsonObject::AppendUint32(uint32_t value) {
    return AddElement({nullptr, IntValue(value, 1)}, false);
}
bool CJsonObject::AppendInt64(int64_t value) {
    return AddElement({nullptr, IntValue(value, -1)}, false);
}
bool CJsonObject::AppendUint64(uint64_t value) {
    return AddElement({nullptr, IntValue(static_cast<int64_t>(value), 1)}, false);
}
bool CJsonObject::AppendBool(bool value) {
    return AddElement({nullptr, BoolValue(value)}, false);
}
bool CJsonObject::AppendFloat(float value) {
    return AddElement({nullptr, DoubleValue(value)}, false);
}
bool CJsonObject::AppendDouble(double value) {
    return AddElement({nullptr, DoubleValue(value)}, false);
}
bool CJsonObject::AppendNull() {
    return AddElement({nullptr, KindValue(kJsonNull)}, false);
}
bool CJsonObject::AppendDocument(const CJsonObject& doc) {
    return AddElement({&doc, nullptr}, false);
}

bool CJsonObject::PrependString(const std::string& value) {
    return AddElement({nullptr, StringValue(value)}, true);
}
bool CJsonObject::PrependInt32(int32_t value) {
    return AddElement({nullptr, IntValue(value, -1)}, true);
}
bool CJsonObject::PrependUint32(uint32_t value) {
    return AddElement({nullptr, IntValue(value, 1)}, true);
}
bool CJsonObject::PrependInt64(int64_t value) {
    return AddElement({nullptr, IntValue(value, -1)}, true);
}
bool CJsonObject::PrependUint64(uint64_t value) {
    return AddElement({nullptr, IntValue(static_cast<int64_t>(value), 1)}, true);
}
bool CJsonObject::PrependBool(bool value) {
    return AddElement({nullptr, BoolValue(value)}, true);
}
bool CJsonObject::PrependFloat(float value) {
    return AddElement({nullptr, DoubleValue(value)}, true);
}
bool CJsonObject::PrependDouble(double value) {
    return AddElement({nullptr, DoubleValue(value)}, true);
}
bool CJsonObject::PrependNull() {
    return AddElement({nullptr, KindValue(kJsonNull)}, true);
}
bool CJsonObject::PrependDocument(const CJsonObject& doc) {
    return AddElement({&doc, nullptr}, true);
}

bool CJsonObject::ReplaceString(const std::string& key, const std::string& value) {
    return ReplaceMember(key, {nullptr, StringValue(value)});
}
bool CJsonObject::ReplaceInt32(const std::string& key, int32_t value) {
    return ReplaceMember(key, {nullptr, IntValue(value, -1)});
}
bool CJsonObject::ReplaceUint32(const std::string& key, uint32_t value) {
    return ReplaceMember(key, {nullptr, IntValue(value, 1)});
}
bool CJsonObject::ReplaceInt64(const std::string& key, int64_t value) {
    return ReplaceMember(key, {nullptr, IntValue(value, -1)});
}
bool CJsonObject::ReplaceUint64(const std::string& key, uint64_t value) {
    return ReplaceMember(key, {nullptr, IntValue(static_cast<int64_t>(value), 1)});
}
bool CJsonObject::ReplaceBool(const std::string& key, bool value) {
    return ReplaceMember(key, {nullptr, BoolValue(value)});
}
bool CJsonObject::ReplaceFloat(const std::string& key, float value) {
    return ReplaceMember(key, {nullptr, DoubleValue(value)});
}
bool CJsonObject::ReplaceDouble(const std::string& key, double value) {
    return ReplaceMember(key, {nullptr, DoubleValue(value)});
}
bool CJsonObject::ReplaceNull(const std::string& key) {
    return ReplaceMember(key, {nullptr, KindValue(kJsonNull)});
}
bool CJsonObject::ReplaceDocument(const std::string& key, const CJsonObject& doc) {
    return ReplaceMember(key, {&doc, nullptr});
}

bool CJsonObject::ReplaceStringAt(uint32_t index, const std::string& value) {
    return ReplaceElement(index, {nullptr, StringValue(value)});
}
bool CJsonObject::ReplaceInt32At(uint32_t index, int32_t value) {
    return ReplaceElement(index, {nullptr, IntValue(value, -1)});
}
bool CJsonObject::ReplaceUint32At(uint32_t index, uint32_t value) {
    return ReplaceElement(index, {nullptr, IntValue(value, 1)});
}
bool CJsonObject::ReplaceInt64At(uint32_t index, int64_t value) {
    return ReplaceElement(index, {nullptr, IntValue(value, -1)});
}
bool CJsonObject::ReplaceUint64At(uint32_t index, uint64_t value) {
    return ReplaceElement(index, {nullptr, IntValue(static_cast<int64_t>(value), 1)});
}
bool CJsonObject::ReplaceBoolAt(uint32_t index, bool value) {
    return ReplaceElement(index, {nullptr, BoolValue(value)});
}
bool CJsonObject::ReplaceFloatAt(uint32_t index, float value) {
    return ReplaceElement(index, {nullptr, DoubleValue(value)});
}
bool CJsonObject::ReplaceDoubleAt(uint32_t index, double value) {
    return ReplaceElement(index, {nullptr, DoubleValue(value)});
}
bool CJsonObject::ReplaceNullAt(uint32_t index) {
    return ReplaceElement(index, {nullptr, KindValue(kJsonNull)});
}
bool CJsonObject::ReplaceDocumentAt(uint32_t index, const CJsonObject& doc) {
    return ReplaceElement(index, {&doc, nullptr});
}

}  // namespace neb
