// The files and folders of the output folder, made so that nobody else can lead a run (a root run
// above all) to write through a link.
#pragma once

#include <string>

// The path made absolute against the working folder (not resolved).
std::string absolute(const std::string& path);
// The folder part of the path: "." when it has none.
std::string dirname_of(const std::string& path);

bool read_file(const std::string& path, std::string* text);
// 0 when there is no file.
long long file_size(const std::string& path);
// Replaces the file at `path` (a link there is replaced, not followed); false with errno.
bool write_file(const std::string& path, const std::string& text);
// Makes the folder and any missing folders above it (links above it are followed).
bool make_dirs(const std::string& path);
// Why bringup-check will not write into the folder at `path`, or "" when it is a folder, not a
// link, of our own user, that no other user can write to: nobody else can then put a link in
// place of a file it writes.
std::string unfit_folder(const std::string& path);
// Makes the folder (its parent must exist) unless it is there; then as unfit_folder.
std::string make_folder(const std::string& path);
