// Script store: the loaded script's lines, files, flags and token lines.
#include "core/script_store.h"

#include "core/platform.h"

namespace tx {

ScriptStore& scriptStore() {
    static ScriptStore store;
    return store;
}

int ScriptStore::addFile(const SString& path) {
    for (size_t i = 0; i < files.size(); ++i)
        if (platform::compareLocale(files[i].view(), path.view(), true) == 0) return static_cast<int>(i);
    files.push_back(path);
    return static_cast<int>(files.size()) - 1;
}

void ScriptStore::addLine(SString text, int lineNumber, int fileIndex) {
    StoredLine l;
    l.text = std::move(text);
    l.lineNumber = lineNumber;
    l.fileIndex = fileIndex;
    lines.push_back(std::move(l));
}

const SString* ScriptStore::lineText(int index) const {
    if (compiled || index < 1 || index >= static_cast<int>(lines.size())) return nullptr;
    return &lines[static_cast<size_t>(index)].text;
}

int ScriptStore::lineNumber(int index) const {
    if (compiled || index < 1 || index >= static_cast<int>(lines.size())) return -1;
    return lines[static_cast<size_t>(index)].lineNumber;
}

const SString* ScriptStore::filePath(int index) const {
    if (compiled || index < 1 || index >= static_cast<int>(lines.size())) return nullptr;
    int f = lines[static_cast<size_t>(index)].fileIndex;
    if (f < 0 || f >= static_cast<int>(files.size())) return nullptr;
    return &files[static_cast<size_t>(f)];
}

void ScriptStore::release() {
    files.clear();
    lines.clear();
    lines.resize(1);
    tokenLines.clear();
    compiled = false;
}

}  // namespace tx
