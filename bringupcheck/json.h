// A small JSON value: enough for results.json, written by us and read back by --render.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

struct Json {
    enum Type { Null, Bool, Number, String, Array, Object };
    Type type = Null;
    bool b = false;
    double num = 0;
    std::string str;
    std::vector<Json> items;                          // Array
    std::vector<std::pair<std::string, Json>> members;  // Object, in order

    Json() = default;
    Json(double v) : type(Number), num(v) {}
    Json(bool v) : type(Bool), b(v) {}
    Json(const std::string& v) : type(String), str(v) {}
    Json(const char* v) : type(String), str(v) {}
    static Json boolean(bool v);
    static Json number(double v);
    static Json string(const std::string& v);
    static Json array();
    static Json array(std::initializer_list<Json> values);
    static Json object();

    // Object: adds a member (or replaces one of the same key) and returns *this.
    Json& set(const std::string& key, Json value);
    // Object: the member's value, or a null value when there is none.
    const Json& get(const std::string& key) const;
    bool has(const std::string& key) const;
    // Object: the member's value, made (null) when there is none.
    Json& operator[](const std::string& key);
    // Array: appends.
    Json& push(Json value);
    void push_back(Json value) { push(std::move(value)); }

    double number_or(double fallback) const { return type == Number ? num : fallback; }
    std::string string_or(const std::string& fallback) const { return type == String ? str : fallback; }

    // Pretty-printed text, two blanks an indent level.
    std::string dump(int indent = 0) const;
};

// An array's items (none when `j` is not an array), and a string's text or `fallback`.
inline const std::vector<Json>& json_items(const Json& j) { return j.items; }
inline std::string json_string_or(const Json& j, const std::string& fallback) { return j.string_or(fallback); }

// Parses a whole JSON text (UTF-8; \u escapes decoded to UTF-8). False with a one-line reason on
// malformed input. Depth is limited, so hostile input cannot exhaust the stack.
bool parse_json(const std::string& text, Json* out, std::string* error);

// The text as a JSON string literal, with its quotes: valid UTF-8, control characters escaped.
std::string json_quote(const std::string& text);
