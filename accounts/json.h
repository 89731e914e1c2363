#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A small JSON reader (RFC 8259) for the program's own data files. Numbers
// are kept as doubles; object members keep their order, and a repeated name
// keeps its last value.
class JsonValue {
public:
    enum class Kind { Null, Bool, Number, String, Array, Object };
    using Member = std::pair<std::string, JsonValue>;

    JsonValue() = default;
    static JsonValue Bool(bool value);
    static JsonValue Number(double value);
    static JsonValue String(std::string value);
    static JsonValue Array(std::vector<JsonValue> items = {});
    static JsonValue Object(std::vector<Member> members = {});

    Kind kind() const { return kind_; }
    bool IsString() const { return kind_ == Kind::String; }
    bool IsNumber() const { return kind_ == Kind::Number; }
    bool IsArray() const { return kind_ == Kind::Array; }
    bool IsObject() const { return kind_ == Kind::Object; }

    bool AsBool() const { return bool_; }
    double AsNumber() const { return number_; }
    const std::string& AsString() const { return string_; }
    const std::vector<JsonValue>& Items() const { return items_; }
    std::vector<JsonValue>& Items() { return items_; }
    const std::vector<Member>& Members() const { return members_; }

    // The member's value, or nullptr when this is not an object or has none.
    const JsonValue* Find(std::string_view name) const;
    JsonValue* Find(std::string_view name);
    // Sets or replaces a member (objects only).
    void Set(std::string name, JsonValue value);

private:
    Kind kind_ = Kind::Null;
    bool bool_ = false;
    double number_ = 0;
    std::string string_;
    std::vector<JsonValue> items_;
    std::vector<Member> members_;
};

// Parses a whole JSON text (UTF-8, an optional byte order mark first). On
// failure returns false and sets error to what went wrong and where
// ("line L, column C: ...").
bool ParseJson(std::string_view text, JsonValue& value, std::string& error);
