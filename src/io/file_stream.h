// A file written piece by piece that appears under its name only once every
// byte is on the disk, for outputs too large to hold in memory whole (the
// batch's merged tables). The counterpart of WriteFileAtomically for
// streams; regular files only.
#pragma once

#include <string>
#include <string_view>

namespace kelmar {

class DurableFileStream {
public:
    // Creates a new file beside `fileName` under a temporary name (exclusive,
    // never another writer's file). Raises KelmarError naming the file and
    // the system's reason when the folder cannot take it.
    explicit DurableFileStream(const std::string& fileName);
    // Removes the temporary file unless Commit succeeded.
    ~DurableFileStream();
    DurableFileStream(const DurableFileStream&) = delete;
    DurableFileStream& operator=(const DurableFileStream&) = delete;

    // Appends bytes; they are collected into large writes.
    void Write(std::string_view bytes);
    // Appends the whole content of the file `source`.
    void CopyFrom(const std::string& source);
    // Writes what is buffered, flushes the file to the disk, gives it its
    // name (replacing a file of that name) and flushes the folder. On any
    // failure raises KelmarError; the old file of that name stays as it was.
    void Commit();

private:
    void Flush();
    void WriteOut(std::string_view bytes);
    [[noreturn]] void Fail(int error);

    std::string Name;
    std::string TemporaryPath;
    std::string Buffer;
    int Fd = -1;
    bool Committed = false;
};

}  // namespace kelmar
