// JSON values for results.json, written by us and read back by --render: nlohmann-json's ordered
// values (members keep the order they were set in), read without exceptions and written in our
// own layout.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

using Json = nlohmann::ordered_json;

// Parses a whole JSON text. False with a one-line reason on malformed input, a number beyond a
// double's range or nesting deeper than 64 levels; never throws. Bytes that are not UTF-8 are read
// as U+FFFD, as every text we write reads them.
bool parse_json(const std::string& text, Json* out, std::string* error);

// Pretty-printed text, two blanks an indent level; an array of plain values on one line, a whole
// number below 1e15 without a fraction, any other the shortest text that reads back the same.
std::string json_dump(const Json& j, int indent = 0);

// An object's member, or a null value when there is none (or `j` is not an object).
const Json& json_member(const Json& j, const std::string& key);
// An array's items; none when `j` is not an array.
const Json& json_items(const Json& j);
double json_number_or(const Json& j, double fallback);
std::string json_string_or(const Json& j, const std::string& fallback);
// True only for the value true.
bool json_true(const Json& j);

// The text as a JSON string literal, with its quotes: valid UTF-8, control characters escaped.
std::string json_quote(const std::string& text);
