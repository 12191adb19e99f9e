#include "PatchListWriter.h"

namespace {

std::string Quoted(const std::string& name) {
    return "\"" + name + "\"";
}

std::string Header(const std::string& label) {
    return "// patch " + label + "\n";
}

}  // namespace

std::string WritePackedList(const std::string& label, const PackedListContent& content) {
    std::string text = Header(label);
    text += "#PACKINGVERSION#\n";
    if (content.TestServer) text += "#TEST_SERVER#\n";
    for (const auto& name : content.Files) text += Quoted(name) + "\n";
    for (const auto& name : content.DeletedFiles) text += "@ " + Quoted(name) + "\n";
    for (const auto& name : content.DeletedDirectories) text += "@ 1 " + Quoted(name) + "\n";
    return text;
}

std::string WritePerFileList(const std::string& label, const PerFileListContent& content) {
    std::string text = Header(label);
    if (content.Compressed) text += "#COMPRESSED#\n";
    if (content.AbsoluteDirectories) text += "#NEWTOOLVERSION#\n";
    if (content.TestServer) text += "#TEST_SERVER#\n";
    for (const auto& dir : content.Directories) {
        // The number before a directory name only marks the switch; its value is unused.
        if (!dir.Path.empty()) text += "1 " + Quoted(dir.Path) + "\n";
        for (const auto& name : dir.Files) text += Quoted(name) + "\n";
    }
    return text;
}
