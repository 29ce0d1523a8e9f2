#pragma once
#include <cstddef>
#include <stdexcept>
#include <string>

// A file the runner reads whole: a params file or a run state.
class InputFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The whole content of a regular file of at most `maxBytes`, read through to its
// end. Anything else (a missing file, a folder, a device, a pipe, a read error, a
// file larger than `maxBytes`, a whole number of MiB) throws InputFileError with the reason alone; `what` names the kind
// of file expected ("a params file"), for the message on a folder or a large file.
std::string ReadWholeRegularFile(const std::string& path, std::size_t maxBytes, const std::string& what);
