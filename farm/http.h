// Talking to a LAVA server's REST API (libcurl): one request, retried while the answer is the
// proxy's passing failure (502, 503, 504) or the connection is refused for a moment.
#pragma once

#include <string>

namespace farm {

struct Answer {
    long status = 0;    // the HTTP status, 0 when no answer came
    std::string body;
    std::string error;  // why no answer came, one line ("" when one did)
};

// Once at start and at end of the program: libcurl's global set-up.
void http_init();
void http_done();

// Tries a request up to `tries` times, `pause_s` apart, while the answer is 502, 503 or 504 or
// none came. `token` goes in LAVA's "Authorization: Token" header when not empty; `json_body`
// is sent as application/json when not empty (a POST), otherwise the request is a GET.
Answer http_request(const std::string& url, const std::string& token, const std::string& json_body, int tries,
                    double pause_s);

// The one line that says why an answer is not a success, for the user: no answer, a refused
// token, or the status with the start of the body.
std::string answer_problem(const std::string& url, const Answer& a);

}  // namespace farm
