// The files the broker is told to read, the chain description and the fault plan, come
// from a command line or from the environment of whatever application started it. They
// are read only when they are regular files of a sane size: a directory, a pipe or a
// device such as /dev/zero is refused at once, instead of read as empty, waited on for
// ever or read until memory runs out.
#ifndef BROKER_INPUT_FILE_H
#define BROKER_INPUT_FILE_H

#include <cstddef>
#include <string>

namespace broker {

// A chain description of 32 devices or a plan of a few hundred lines is a few KiB; a file
// far beyond that is not one of them.
constexpr std::size_t kMaxInputFileSize = std::size_t{1} << 20;

// Reads the whole of the regular file at `path`, at most kMaxInputFileSize bytes; false
// with `error` saying what stands in the way (the path is the caller's to name).
bool readInputFile(const std::string& path, std::string& text, std::string& error);

}  // namespace broker

#endif  // BROKER_INPUT_FILE_H
