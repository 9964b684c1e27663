#include "bringupcheck/registry.h"

const CheckRow* check_row(const std::string& name) {
    for (const CheckRow& row : kChecks)
        if (name == row.name) return &row;
    return nullptr;
}

bool is_subsystem(const std::string& name) {
    for (const SubsystemRow& row : kSubsystems)
        if (name == row.name) return true;
    return false;
}

std::string subsystem_names(const char* separator) {
    std::string s;
    for (const SubsystemRow& row : kSubsystems) s += (s.empty() ? "" : separator) + std::string(row.name);
    return s;
}
