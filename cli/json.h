// A minimal JSON writer for the command line's machine-readable output.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorlan::cli {

// Appends text as a JSON string literal to out.
inline void appendJsonString(std::string& out, std::string_view text) {
    out += '"';
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    static constexpr char kHex[] = "0123456789abcdef";
                    out += "\\u00";
                    out += kHex[c >> 4];
                    out += kHex[c & 0xF];
                } else {
                    out += ch;
                }
        }
    }
    out += '"';
}

[[nodiscard]] inline std::string jsonString(std::string_view text) {
    std::string out;
    appendJsonString(out, text);
    return out;
}

// Builds one JSON object member by member: JsonObject().add("a", 1).add("b", "x").str().
class JsonObject {
public:
    JsonObject& add(std::string_view key, std::string_view value) { return raw(key, jsonString(value)); }
    JsonObject& add(std::string_view key, const char* value) { return raw(key, jsonString(value)); }
    JsonObject& add(std::string_view key, const std::string& value) { return raw(key, jsonString(value)); }
    JsonObject& add(std::string_view key, std::uint64_t value) { return raw(key, std::to_string(value)); }
    JsonObject& add(std::string_view key, bool value) { return raw(key, value ? "true" : "false"); }
    // A member whose value is already JSON text.
    JsonObject& raw(std::string_view key, std::string_view json) {
        m_text += m_text.empty() ? "{" : ",";
        m_text += jsonString(key);
        m_text += ':';
        m_text += json;
        return *this;
    }
    [[nodiscard]] std::string str() const { return m_text.empty() ? "{}" : m_text + "}"; }

private:
    std::string m_text;
};

// Builds a JSON array of already-encoded values.
class JsonArray {
public:
    JsonArray& push(std::string_view json) {
        m_text += m_text.empty() ? "[" : ",";
        m_text += json;
        return *this;
    }
    [[nodiscard]] std::string str() const { return m_text.empty() ? "[]" : m_text + "]"; }

private:
    std::string m_text;
};

}  // namespace quorlan::cli
