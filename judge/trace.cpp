#include "judge/trace.h"

#include <errno.h>
#include <string.h>

#include <fstream>
#include <sstream>

namespace judge {

Trace parse_trace(const std::string& text) {
    Trace trace;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) break;
        TraceRecord r;
        if (bringup::parse_trace_line(text.substr(pos, nl - pos), &r))
            trace.records.push_back(std::move(r));
        else
            trace.bad_lines++;
        pos = nl + 1;
    }
    return trace;
}

bool read_trace(const std::string& path, Trace* trace, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot read " + path + ": " + strerror(errno);
        return false;
    }
    std::ostringstream s;
    s << in.rdbuf();
    *trace = parse_trace(s.str());
    return true;
}

bool record_bytes(const TraceRecord& record, std::string* bytes) {
    return bringup::trace_unliteral(record.detail, bytes);
}

}  // namespace judge
