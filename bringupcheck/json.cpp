#include "json.h"

#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include "text.h"

namespace {

const int kMaxDepth = 64;

const Json& null_value() {
    static const Json* v = new Json;
    return *v;
}

struct Parser {
    const std::string& s;
    size_t i = 0;
    std::string error;

    bool fail(const char* what) {
        if (error.empty()) error = std::string(what) + " at byte " + std::to_string(i);
        return false;
    }
    void blanks() {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\n' || s[i] == '\r')) ++i;
    }
    bool literal(const char* word) {
        size_t n = 0;
        while (word[n]) ++n;
        if (s.compare(i, n, word) != 0) return fail("unknown word");
        i += n;
        return true;
    }
    bool hex4(unsigned* v) {
        if (i + 4 > s.size()) return fail("short \\u escape");
        *v = 0;
        for (int k = 0; k < 4; ++k) {
            char c = s[i++];
            int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (d < 0) return fail("bad \\u escape");
            *v = *v * 16 + unsigned(d);
        }
        return true;
    }
    bool string(std::string* out) {
        if (i >= s.size() || s[i] != '"') return fail("expected a string");
        ++i;
        while (true) {
            if (i >= s.size()) return fail("unterminated string");
            char c = s[i++];
            if (c == '"') return true;
            if ((unsigned char)c < 0x20) return fail("control character in a string");
            if (c != '\\') {
                *out += c;
                continue;
            }
            if (i >= s.size()) return fail("unterminated string");
            char e = s[i++];
            switch (e) {
                case '"': *out += '"'; break;
                case '\\': *out += '\\'; break;
                case '/': *out += '/'; break;
                case 'b': *out += '\b'; break;
                case 'f': *out += '\f'; break;
                case 'n': *out += '\n'; break;
                case 'r': *out += '\r'; break;
                case 't': *out += '\t'; break;
                case 'u': {
                    unsigned cp = 0;
                    if (!hex4(&cp)) return false;
                    if (cp >= 0xd800 && cp < 0xdc00) {
                        unsigned lo = 0;
                        if (s.compare(i, 2, "\\u") != 0) return fail("lone surrogate");
                        i += 2;
                        if (!hex4(&lo) || lo < 0xdc00 || lo >= 0xe000) return fail("bad surrogate pair");
                        cp = 0x10000 + ((cp - 0xd800) << 10) + (lo - 0xdc00);
                    } else if (cp >= 0xdc00 && cp < 0xe000) {
                        return fail("lone surrogate");
                    }
                    append_utf8(cp, out);
                    break;
                }
                default: return fail("bad escape");
            }
        }
    }
    bool number(double* out) {
        size_t start = i;
        if (i < s.size() && s[i] == '-') ++i;
        if (i >= s.size() || s[i] < '0' || s[i] > '9') return fail("bad number");
        if (s[i] == '0') ++i;
        else while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        if (i < s.size() && s[i] == '.') {
            ++i;
            if (i >= s.size() || s[i] < '0' || s[i] > '9') return fail("bad number");
            while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        }
        if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
            ++i;
            if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
            if (i >= s.size() || s[i] < '0' || s[i] > '9') return fail("bad number");
            while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        }
        *out = strtod(s.substr(start, i - start).c_str(), nullptr);
        if (!isfinite(*out)) return fail("number out of range");
        return true;
    }
    bool value(Json* out, int depth) {
        if (depth > kMaxDepth) return fail("nested too deeply");
        blanks();
        if (i >= s.size()) return fail("unexpected end");
        char c = s[i];
        if (c == '{') {
            ++i;
            *out = Json::object();
            blanks();
            if (i < s.size() && s[i] == '}') {
                ++i;
                return true;
            }
            while (true) {
                blanks();
                std::string key;
                if (!string(&key)) return false;
                blanks();
                if (i >= s.size() || s[i] != ':') return fail("expected ':'");
                ++i;
                Json v;
                if (!value(&v, depth + 1)) return false;
                out->members.emplace_back(key, std::move(v));
                blanks();
                if (i < s.size() && s[i] == ',') {
                    ++i;
                    continue;
                }
                if (i < s.size() && s[i] == '}') {
                    ++i;
                    return true;
                }
                return fail("expected ',' or '}'");
            }
        }
        if (c == '[') {
            ++i;
            *out = Json::array();
            blanks();
            if (i < s.size() && s[i] == ']') {
                ++i;
                return true;
            }
            while (true) {
                Json v;
                if (!value(&v, depth + 1)) return false;
                out->items.push_back(std::move(v));
                blanks();
                if (i < s.size() && s[i] == ',') {
                    ++i;
                    continue;
                }
                if (i < s.size() && s[i] == ']') {
                    ++i;
                    return true;
                }
                return fail("expected ',' or ']'");
            }
        }
        if (c == '"') {
            *out = Json::string("");
            return string(&out->str);
        }
        if (c == 't') {
            *out = Json::boolean(true);
            return literal("true");
        }
        if (c == 'f') {
            *out = Json::boolean(false);
            return literal("false");
        }
        if (c == 'n') {
            *out = Json();
            return literal("null");
        }
        *out = Json::number(0);
        return number(&out->num);
    }
};

}  // namespace

Json Json::boolean(bool v) {
    Json j;
    j.type = Bool;
    j.b = v;
    return j;
}
Json Json::number(double v) {
    Json j;
    j.type = Number;
    j.num = v;
    return j;
}
Json Json::string(const std::string& v) {
    Json j;
    j.type = String;
    j.str = v;
    return j;
}
Json Json::array() {
    Json j;
    j.type = Array;
    return j;
}
Json Json::object() {
    Json j;
    j.type = Object;
    return j;
}

Json& Json::set(const std::string& key, Json value) {
    for (auto& m : members)
        if (m.first == key) {
            m.second = std::move(value);
            return *this;
        }
    members.emplace_back(key, std::move(value));
    return *this;
}

const Json& Json::get(const std::string& key) const {
    for (const auto& m : members)
        if (m.first == key) return m.second;
    return null_value();
}

bool Json::has(const std::string& key) const {
    for (const auto& m : members)
        if (m.first == key) return true;
    return false;
}

Json Json::array(std::initializer_list<Json> values) {
    Json j = array();
    j.items.assign(values.begin(), values.end());
    return j;
}

Json& Json::operator[](const std::string& key) {
    if (type == Null) type = Object;
    for (auto& m : members)
        if (m.first == key) return m.second;
    members.emplace_back(key, Json());
    return members.back().second;
}

Json& Json::push(Json value) {
    items.push_back(std::move(value));
    return *this;
}

std::string json_quote(const std::string& text) { return "\"" + json_escape(text) + "\""; }

std::string Json::dump(int indent) const {
    std::string pad(size_t(indent) * 2, ' '), inner(size_t(indent + 1) * 2, ' ');
    switch (type) {
        case Null: return "null";
        case Bool: return b ? "true" : "false";
        case Number: {
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
        case String: return json_quote(str);
        case Array: {
            if (items.empty()) return "[]";
            bool flat = true;
            for (const Json& j : items) flat = flat && j.type != Array && j.type != Object;
            std::string out = "[";
            for (size_t k = 0; k < items.size(); ++k) {
                out += flat ? (k ? ", " : "") : (k ? ",\n" : "\n") + inner;
                out += items[k].dump(indent + 1);
            }
            return out + (flat ? "]" : "\n" + pad + "]");
        }
        case Object: {
            if (members.empty()) return "{}";
            std::string out = "{";
            for (size_t k = 0; k < members.size(); ++k) {
                out += (k ? ",\n" : "\n") + inner + json_quote(members[k].first) + ": ";
                out += members[k].second.dump(indent + 1);
            }
            return out + "\n" + pad + "}";
        }
    }
    return "null";
}

bool parse_json(const std::string& text, Json* out, std::string* error) {
    Parser p{text, 0, std::string()};
    Json v;
    if (!p.value(&v, 0)) {
        *error = p.error;
        return false;
    }
    p.blanks();
    if (p.i != text.size()) {
        *error = "trailing bytes at byte " + std::to_string(p.i);
        return false;
    }
    *out = std::move(v);
    return true;
}
