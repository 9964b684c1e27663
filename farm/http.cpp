#include "farm/http.h"

#include <curl/curl.h>
#include <unistd.h>

namespace farm {

namespace {

// A slow server still answers an API call within this; a dead one is noticed sooner.
const long kConnectTimeoutS = 10;
const long kTimeoutS = 120;

size_t collect(char* data, size_t size, size_t n, void* user) {
    static_cast<std::string*>(user)->append(data, size * n);
    return size * n;
}

Answer once(const std::string& url, const std::string& token, const std::string& json_body) {
    Answer a;
    CURL* c = curl_easy_init();
    if (!c) {
        a.error = "libcurl could not start a request";
        return a;
    }
    char why[CURL_ERROR_SIZE] = "";
    curl_slist* headers = nullptr;
    std::string auth = "Authorization: Token " + token;
    if (!token.empty()) headers = curl_slist_append(headers, auth.c_str());
    headers = curl_slist_append(headers, "Accept: application/json");
    if (!json_body.empty()) {
        headers = curl_slist_append(headers, "Content-Type: application/json");
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, json_body.c_str());
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, long(json_body.size()));
    }
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &a.body);
    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, why);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutS);
    curl_easy_setopt(c, CURLOPT_TIMEOUT, kTimeoutS);
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    // The API answers a URL without its closing slash with a redirect.
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 3L);
    CURLcode rc = curl_easy_perform(c);
    if (rc == CURLE_OK)
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &a.status);
    else
        a.error = why[0] ? why : curl_easy_strerror(rc);
    curl_slist_free_all(headers);
    curl_easy_cleanup(c);
    return a;
}

bool passing(const Answer& a) { return a.status == 0 || a.status == 502 || a.status == 503 || a.status == 504; }

}  // namespace

void http_init() { curl_global_init(CURL_GLOBAL_DEFAULT); }
void http_done() { curl_global_cleanup(); }

Answer http_request(const std::string& url, const std::string& token, const std::string& json_body, int tries,
                    double pause_s) {
    Answer a;
    for (int i = 0; i < tries; ++i) {
        if (i) usleep(useconds_t(pause_s * 1e6));
        a = once(url, token, json_body);
        if (!passing(a)) break;
    }
    return a;
}

std::string answer_problem(const std::string& url, const Answer& a) {
    if (a.status == 0) return "no answer from " + url + ": " + a.error;
    if (a.status == 401 || a.status == 403) return "the server refused the token (HTTP " + std::to_string(a.status) + ") at " + url;
    std::string start = a.body.substr(0, 160);
    for (char& ch : start)
        if (ch == '\n' || ch == '\r' || (unsigned char)ch < 0x20) ch = ' ';
    return "HTTP " + std::to_string(a.status) + " from " + url + (start.empty() ? "" : ": " + start);
}

}  // namespace farm
