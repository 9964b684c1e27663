#include "bringupcheck/json.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "bringupcheck/text.h"

namespace {

const int kMaxDepth = 64;

// Where the text puts a value inside more than kMaxDepth arrays and objects (an empty one may
// still be the innermost), or npos. Looked for before parsing, so that no deep value is built.
size_t too_deep(const std::string& s) {
    int depth = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            for (++i; i < s.size() && s[i] != '"'; ++i)
                if (s[i] == '\\') ++i;
        } else if (c == '[' || c == '{') {
            size_t next = s.find_first_not_of(" \t\n\r", i + 1);
            bool empty = next != std::string::npos && (s[next] == ']' || s[next] == '}');
            if (++depth > kMaxDepth && !empty) return i + 1;
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return std::string::npos;
}

// The library's message on one line, without its prefix and without the bytes it last read.
std::string reason(const nlohmann::json::exception& e) {
    std::string what = e.what();
    size_t at = what.find("] ");
    if (at != std::string::npos) what.erase(0, at + 2);
    at = what.find(": ");
    if (what.compare(0, 12, "parse error ") == 0 && at != std::string::npos) what.erase(0, at + 2);
    at = what.find("; last read");
    if (at != std::string::npos) what.erase(at);
    return what;
}

}  // namespace

bool parse_json(const std::string& text, Json* out, std::string* error) {
    std::string clean = valid_utf8(text);
    size_t deep = too_deep(clean);
    if (deep != std::string::npos) {
        *error = "nested too deeply at byte " + std::to_string(deep);
        return false;
    }
    try {
        *out = Json::parse(clean);
        return true;
    } catch (const nlohmann::json::parse_error& e) {
        *error = reason(e) + " at byte " + std::to_string(e.byte);
    } catch (const nlohmann::json::out_of_range&) {
        // The library names the number itself, however long.
        *error = "number out of range";
    } catch (const nlohmann::json::exception& e) {
        *error = reason(e);
    }
    return false;
}

const Json& json_member(const Json& j, const std::string& key) {
    static const Json* null_value = new Json;
    if (!j.is_object()) return *null_value;
    auto it = j.find(key);
    return it == j.end() ? *null_value : *it;
}

const Json& json_items(const Json& j) {
    static const Json* none = new Json(Json::array());
    return j.is_array() ? j : *none;
}

double json_number_or(const Json& j, double fallback) { return j.is_number() ? j.get<double>() : fallback; }

std::string json_string_or(const Json& j, const std::string& fallback) {
    return j.is_string() ? j.get_ref<const std::string&>() : fallback;
}

bool json_true(const Json& j) { return j.is_boolean() && j.get<bool>(); }

std::string json_quote(const std::string& text) { return "\"" + json_escape(text) + "\""; }

std::string json_dump(const Json& j, int indent) {
    std::string pad(size_t(indent) * 2, ' '), inner(size_t(indent + 1) * 2, ' ');
    if (j.is_boolean()) return j.get<bool>() ? "true" : "false";
    if (j.is_string()) return json_quote(j.get_ref<const std::string&>());
    if (j.is_number()) {
        double num = j.get<double>();
        char buf[32];
        if (fabs(num) < 1e15 && num == double((long long)num)) {
            snprintf(buf, sizeof buf, "%lld", (long long)num);
            return buf;
        }
        // The shortest text that reads back as the same number.
        for (int digits = 6; digits <= 17; ++digits) {
            snprintf(buf, sizeof buf, "%.*g", digits, num);
            if (strtod(buf, nullptr) == num) break;
        }
        return buf;
    }
    if (j.is_array()) {
        if (j.empty()) return "[]";
        bool flat = true;
        for (const Json& v : j) flat = flat && !v.is_structured();
        std::string out = "[";
        for (size_t k = 0; k < j.size(); ++k) {
            out += flat ? (k ? ", " : "") : (k ? ",\n" : "\n") + inner;
            out += json_dump(j[k], indent + 1);
        }
        return out + (flat ? "]" : "\n" + pad + "]");
    }
    if (j.is_object()) {
        if (j.empty()) return "{}";
        std::string out = "{";
        for (auto it = j.begin(); it != j.end(); ++it) {
            out += (it == j.begin() ? "\n" : ",\n") + inner + json_quote(it.key()) + ": ";
            out += json_dump(it.value(), indent + 1);
        }
        return out + "\n" + pad + "}";
    }
    return "null";
}
