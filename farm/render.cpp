// Our job made for one board of a farm: the board's tag, the images' place, the repository of the
// test definitions and their parameters set in the job's YAML (yaml-cpp), everything else kept.
#include <yaml-cpp/yaml.h>

#include "farm/farm.h"

namespace farm {

namespace {

// The URL of an image moved under `base` (a folder or URL prefix), keeping its file name.
std::string moved_url(const std::string& url, const std::string& base) {
    std::string name = url.substr(url.find_last_of('/') + 1);
    std::string b = base;
    while (!b.empty() && b.back() == '/') b.pop_back();
    if (b.find("://") == std::string::npos) b = "file://" + b;
    return b + "/" + name;
}

// Looks a key up without adding it (a non-const node's [] adds what it does not find); a null
// node when there is none.
YAML::Node lookup(const YAML::Node& n, const std::string& key) {
    if (!n.IsDefined() || !n.IsMap()) return YAML::Node();
    YAML::Node v = n[key];
    return v ? v : YAML::Node();
}

void set_images(YAML::Node action, const std::string& base) {
    YAML::Node images = lookup(lookup(action, "deploy"), "images");
    if (!images.IsMap()) return;
    for (auto it = images.begin(); it != images.end(); ++it)
        if (!lookup(it->second, "url").IsNull()) it->second["url"] = moved_url(it->second["url"].as<std::string>(), base);
}

}  // namespace

bool render_job(const std::string& yaml, const RenderOptions& o, std::string* out, std::string* error) {
    YAML::Node job;
    try {
        job = YAML::Load(yaml);
    } catch (const YAML::Exception& e) {
        *error = std::string("the job is not YAML: ") + e.what();
        return false;
    }
    if (!lookup(job, "actions").IsSequence()) {
        *error = "the job has no actions";
        return false;
    }
    std::vector<bool> used(o.parameters.size(), false);
    try {
        if (!o.device_type.empty()) job["device_type"] = o.device_type;
        if (!o.tag.empty()) {
            YAML::Node tags(YAML::NodeType::Sequence);
            tags.push_back(o.tag);
            job["tags"] = tags;
            job["job_name"] = lookup(job, "job_name").as<std::string>("bringup-check") + " on " + o.tag;
        }
        for (YAML::Node action : job["actions"]) {
            if (!o.image.empty()) set_images(action, o.image);
            YAML::Node defs = lookup(lookup(action, "test"), "definitions");
            if (!defs.IsSequence()) continue;
            for (YAML::Node d : defs) {
                if (!o.repository.empty() && lookup(d, "from").as<std::string>("") == "git") d["repository"] = o.repository;
                for (size_t i = 0; i < o.parameters.size(); ++i) {
                    if (lookup(lookup(d, "parameters"), o.parameters[i].first).IsNull()) continue;
                    d["parameters"][o.parameters[i].first] = o.parameters[i].second;
                    used[i] = true;
                }
            }
        }
        for (size_t i = 0; i < used.size(); ++i)
            if (!used[i]) {
                *error = "no test definition of the job has the parameter " + o.parameters[i].first;
                return false;
            }
        YAML::Emitter e;
        e << job;
        *out = std::string(e.c_str()) + "\n";
    } catch (const YAML::Exception& e) {
        *error = std::string("the job cannot be rendered: ") + e.what();
        return false;
    }
    return true;
}

}  // namespace farm
