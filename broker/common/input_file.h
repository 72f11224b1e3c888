// The files the broker is told to read, the chain description, the fault plan and a
// transcript to replay, come from a command line or from the environment of whatever
// application started it. They are read only when they are regular files of a sane size:
// a directory, a pipe or a device such as /dev/zero is refused at once, instead of read as
// empty, waited on for ever or read until memory runs out.
#ifndef BROKER_INPUT_FILE_H
#define BROKER_INPUT_FILE_H

#include <cstddef>
#include <string>

namespace broker {

// A chain description of 32 devices or a plan of a few hundred lines is a few KiB; a file
// far beyond that is not one of them.
constexpr std::size_t kMaxInputFileSize = std::size_t{1} << 20;

// A transcript holds every byte of its conversations, a data block as twice its size in
// hex: 16 MiB keeps a few megabytes of flash programming, and what the reader makes of it
// stays bounded (the format lets a character stand for at most some 50 bytes).
constexpr std::size_t kMaxTranscriptSize = std::size_t{16} << 20;

// Reads the whole of the regular file at `path`, at most `limit` bytes; false with `error`
// saying what stands in the way (the path is the caller's to name).
bool readInputFile(const std::string& path, std::string& text, std::string& error,
                   std::size_t limit = kMaxInputFileSize);

}  // namespace broker

#endif  // BROKER_INPUT_FILE_H
