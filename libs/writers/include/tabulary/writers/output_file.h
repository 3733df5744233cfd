// Writing a document without ever leaving half of it behind: the bytes go to
// a temporary file beside the target, which is renamed into place once the
// whole document is written. Where a rename would change what the name
// points at (a symbolic link, a file with other hard links, something not a
// regular file) or the folder takes no new files, the target is written in
// place instead.
#pragma once

#include <string>
#include <string_view>

#include "tabulary/base/error.h"

namespace tab::writers {

// Buffered writes to a file descriptor it does not own.
class OutputStream {
public:
    // Without a file: everything stays in buffer().
    OutputStream() = default;
    OutputStream(int fd, std::string name) : m_fd(fd), m_name(std::move(name)) {}
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    // Writers append here and call maybeFlush() after each line.
    std::string& buffer() { return m_buffer; }
    void append(std::string_view text) { m_buffer.append(text); }
    Status maybeFlush() { return m_buffer.size() >= kFlushAt ? flush() : Status(); }
    Status flush();

    void reset(int fd, std::string name);
    const std::string& name() const { return m_name; }

private:
    static constexpr size_t kFlushAt = size_t{1} << 20;
    int m_fd = -1;
    std::string m_name;
    std::string m_buffer;
};

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();  // without commit(): the target stays as it was (in place: as far as written)
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // A file that does not exist yet gets `newMode` less the umask.
    Status open(const std::string& path, unsigned newMode = 0666);
    OutputStream& stream() { return m_stream; }
    // Writes what is buffered and puts the file in place.
    Status commit();

    bool inPlace() const { return m_inPlace; }

private:
    void abandon();

    std::string m_path;
    std::string m_temporary;  // empty when writing in place
    int m_fd = -1;
    bool m_inPlace = false;
    bool m_replacing = false;  // an existing regular file is replaced
    unsigned m_mode = 0;
    unsigned m_uid = 0, m_gid = 0;
    OutputStream m_stream;
};

}  // namespace tab::writers
