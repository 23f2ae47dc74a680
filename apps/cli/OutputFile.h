#pragma once

// The file a command writes its result to (export-vcard -o, contacts export). The commands
// never write over what they read, and replace an existing file only when told to.

#include <filesystem>
#include <string_view>
#include <vector>

namespace pelkora::cli {

// Whether the command may write to `output`. Never over one of the inputs: the same file by
// device and inode, whatever its name ("./data.csv", a hard link, a symbolic link to it).
// Over anything already at that path (a symbolic link included, even one pointing nowhere)
// only with `force`. Prints "command: …" naming the file and returns false when it may not;
// the caller exits with kUsageError.
bool mayWriteOutputFile(std::string_view command, const std::filesystem::path& output,
                        const std::vector<std::filesystem::path>& inputs, bool force);

}  // namespace pelkora::cli
