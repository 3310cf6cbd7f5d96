#include "platform/keystore.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/userdirs.h"

// File layout, one root per file:
//   # comment
//   [Software\Maker\App]
//   @="default value"
//   "Name"="value"
// Names and values are double-quoted with \\ \" \n \r \t escapes; a key's
// section lists only its own values, and every level above it is a key too.

namespace {

struct KeyValue {
    std::string name;  // empty: the default value
    std::string text;
};

struct KeyNode {
    std::vector<std::string> levels;
    std::vector<KeyValue> values;
};

using KeyTree = std::vector<KeyNode>;  // in creation order, each key after the levels above it

// One change at a time within the process: every change reads, edits and replaces the whole file.
std::mutex storeMutex;

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool sameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    }
    return true;
}

bool hasControl(const std::string& text) {
    for (unsigned char c : text) {
        if (c < 0x20) return true;
    }
    return false;
}

// Empty levels (doubled or outer separators) are dropped. A level may not hold
// a line break: the key's section header could not be read back.
bool splitKey(const char* key, std::vector<std::string>* levels) {
    levels->clear();
    if (!key) return true;
    std::string level;
    for (const char* p = key;; ++p) {
        if (*p == '\\' || *p == '\0') {
            if (!level.empty()) {
                if (hasControl(level)) return false;
                levels->push_back(level);
            }
            level.clear();
            if (!*p) break;
        } else {
            level += *p;
        }
    }
    return true;
}

bool startsWith(const std::vector<std::string>& levels, const std::vector<std::string>& prefix) {
    if (levels.size() < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        if (!sameName(levels[i], prefix[i])) return false;
    }
    return true;
}

long findKey(const KeyTree& tree, const std::vector<std::string>& levels) {
    for (size_t i = 0; i < tree.size(); ++i) {
        if (tree[i].levels.size() == levels.size() && startsWith(tree[i].levels, levels)) return long(i);
    }
    return -1;
}

size_t ensureKey(KeyTree& tree, const std::vector<std::string>& levels) {
    size_t index = 0;
    for (size_t depth = 1; depth <= levels.size(); ++depth) {
        std::vector<std::string> part(levels.begin(), levels.begin() + long(depth));
        long found = findKey(tree, part);
        if (found < 0) {
            tree.push_back(KeyNode{part, {}});
            index = tree.size() - 1;
        } else {
            index = size_t(found);
        }
    }
    return index;
}

KeyValue* findValue(KeyNode& node, const std::string& name) {
    for (KeyValue& v : node.values) {
        if (sameName(v.name, name)) return &v;
    }
    return nullptr;
}

void setValue(KeyNode& node, const std::string& name, const std::string& text) {
    if (KeyValue* v = findValue(node, name)) {
        v->text = text;
    } else {
        node.values.push_back(KeyValue{name, text});
    }
}

// --- reading ---------------------------------------------------------------

void skipBlanks(const std::string& line, size_t& pos) {
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
}

bool readQuoted(const std::string& line, size_t& pos, std::string* out) {
    if (pos >= line.size() || line[pos] != '"') return false;
    out->clear();
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c != '\\') {
            *out += c;
            continue;
        }
        if (++pos >= line.size()) return false;
        switch (line[pos]) {
            case '\\':
            case '"':
                *out += line[pos];
                break;
            case 'n':
                *out += '\n';
                break;
            case 'r':
                *out += '\r';
                break;
            case 't':
                *out += '\t';
                break;
            default:
                return false;
        }
    }
    return false;
}

bool parseValueLine(const std::string& line, size_t pos, KeyValue* value) {
    if (line[pos] == '@') {
        value->name.clear();
        ++pos;
    } else if (!readQuoted(line, pos, &value->name) || value->name.empty()) {
        return false;
    }
    skipBlanks(line, pos);
    if (pos >= line.size() || line[pos] != '=') return false;
    ++pos;
    skipBlanks(line, pos);
    if (!readQuoted(line, pos, &value->text)) return false;
    skipBlanks(line, pos);
    return pos == line.size();
}

int parseTree(const std::string& text, KeyTree* tree) {
    tree->clear();
    long current = -1;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
            line.pop_back();
        }
        size_t pos = 0;
        skipBlanks(line, pos);
        if (pos == line.size() || line[pos] == '#') continue;
        if (line[pos] == '[') {
            if (line.back() != ']') return kKeyBadFile;
            std::string path = line.substr(pos + 1, line.size() - pos - 2);
            std::vector<std::string> levels;
            if (!splitKey(path.c_str(), &levels) || levels.empty()) return kKeyBadFile;
            current = long(ensureKey(*tree, levels));
            continue;
        }
        KeyValue value;
        if (current < 0 || !parseValueLine(line, pos, &value)) return kKeyBadFile;
        setValue((*tree)[size_t(current)], value.name, value.text);
    }
    return kKeyFound;
}

// A missing file is an empty store.
int loadTree(int32_t root, KeyTree* tree) {
    tree->clear();
    std::string file = keystoreFile(root);
    if (file.empty()) return root == kKeyRootUser || root == kKeyRootMachine ? kKeyNoStore : kKeyBadArgument;
    FILE* f = fopen(file.c_str(), "rb");
    if (!f) return access(file.c_str(), F_OK) == 0 ? kKeyBadFile : kKeyFound;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    bool failed = ferror(f) != 0;
    fclose(f);
    if (failed) return kKeyBadFile;
    return parseTree(text, tree);
}

// --- writing ---------------------------------------------------------------

void putQuoted(std::string& out, const std::string& text) {
    out += '"';
    for (char c : text) {
        switch (c) {
            case '\\':
            case '"':
                out += '\\';
                out += c;
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                out += c;
        }
    }
    out += '"';
}

int saveTree(int32_t root, const KeyTree& tree) {
    std::string file = keystoreFile(root);
    if (file.empty()) return kKeyNoStore;
    if (!userdirsMakePath(keystoreFolder().c_str())) return kKeyWriteFailed;
    std::string text = "# kvcycles key store\n";
    for (const KeyNode& node : tree) {
        text += "\n[";
        for (size_t i = 0; i < node.levels.size(); ++i) {
            if (i) text += '\\';
            text += node.levels[i];
        }
        text += "]\n";
        for (const KeyValue& v : node.values) {
            if (v.name.empty()) {
                text += '@';
            } else {
                putQuoted(text, v.name);
            }
            text += '=';
            putQuoted(text, v.text);
            text += '\n';
        }
    }
    // Written beside the file and renamed over it: a failed write leaves the old store whole.
    std::string temp = file + ".tmp" + std::to_string(long(getpid()));
    FILE* f = fopen(temp.c_str(), "wb");
    if (!f) return kKeyWriteFailed;
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = (fclose(f) == 0) && ok;
    if (!ok || rename(temp.c_str(), file.c_str()) != 0) {
        remove(temp.c_str());
        return kKeyWriteFailed;
    }
    return kKeyFound;
}

bool validRoot(int32_t root) {
    return root == kKeyRootUser || root == kKeyRootMachine;
}

}  // namespace

std::string keystoreFolder() {
    const char* over = getenv(kKeyStoreEnv);
    std::string dir;
    if (over && *over) {
        dir = over;
    } else {
        dir = userdirsUserConfig();
        if (dir.empty()) return {};
        dir += "/kvcycles";
    }
    if (dir.back() != '/') dir += '/';
    return dir;
}

std::string keystoreFile(int32_t root) {
    if (!validRoot(root)) return {};
    std::string dir = keystoreFolder();
    if (dir.empty()) return {};
    return dir + (root == kKeyRootUser ? "user.keys" : "machine.keys");
}

int keystoreKeyExists(int32_t root, const char* key) {
    std::vector<std::string> levels;
    if (!validRoot(root) || !splitKey(key, &levels)) return kKeyBadArgument;
    std::lock_guard<std::mutex> lock(storeMutex);
    KeyTree tree;
    int r = loadTree(root, &tree);
    if (r < 0) return r;
    return levels.empty() || findKey(tree, levels) >= 0 ? kKeyFound : kKeyMissing;
}

int keystoreGetValue(int32_t root, const char* key, const char* name, std::string* value) {
    std::vector<std::string> levels;
    if (!validRoot(root) || !value || !splitKey(key, &levels)) return kKeyBadArgument;
    value->clear();
    std::lock_guard<std::mutex> lock(storeMutex);
    KeyTree tree;
    int r = loadTree(root, &tree);
    if (r < 0) return r;
    long index = findKey(tree, levels);
    if (index < 0) return kKeyMissing;
    const KeyValue* v = findValue(tree[size_t(index)], name ? name : "");
    if (!v) return kKeyMissing;
    *value = v->text;
    return kKeyFound;
}

int keystoreSubkeyCount(int32_t root, const char* key) {
    std::vector<std::string> levels;
    if (!validRoot(root) || !splitKey(key, &levels)) return kKeyBadArgument;
    std::lock_guard<std::mutex> lock(storeMutex);
    KeyTree tree;
    int r = loadTree(root, &tree);
    if (r < 0) return r;
    int count = 0;
    for (const KeyNode& node : tree) {
        if (node.levels.size() == levels.size() + 1 && startsWith(node.levels, levels)) ++count;
    }
    return count;
}

int keystoreSubkeyName(int32_t root, const char* key, int32_t index, std::string* name) {
    std::vector<std::string> levels;
    if (!validRoot(root) || !name || !splitKey(key, &levels)) return kKeyBadArgument;
    name->clear();
    if (index < 0) return kKeyMissing;
    std::lock_guard<std::mutex> lock(storeMutex);
    KeyTree tree;
    int r = loadTree(root, &tree);
    if (r < 0) return r;
    int32_t seen = 0;
    for (const KeyNode& node : tree) {
        if (node.levels.size() != levels.size() + 1 || !startsWith(node.levels, levels)) continue;
        if (seen++ == index) {
            *name = node.levels.back();
            return kKeyFound;
        }
    }
    return kKeyMissing;
}

int keystoreCreateKey(int32_t root, const char* key) {
    std::vector<std::string> levels;
    if (!validRoot(root) || !splitKey(key, &levels) || levels.empty()) return kKeyBadArgument;
    std::lock_guard<std::mutex> lock(storeMutex);
    KeyTree tree;
    int r = loadTree(root, &tree);
    if (r < 0) return r;
    if (findKey(tree, levels) >= 0) return kKeyFound;
    ensureKey(tree, levels);
    return saveTree(root, tree);
}

int keystoreSetValue(int32_t root, const char* key, const char* name, const char* value) {
    std::vector<std::string> levels;
    if (!validRoot(root) || !value || !splitKey(key, &levels) || levels.empty()) return kKeyBadArgument;
    std::lock_guard<std::mutex> lock(storeMutex);
    KeyTree tree;
    int r = loadTree(root, &tree);
    if (r < 0) return r;
    setValue(tree[ensureKey(tree, levels)], name ? name : "", value);
    return saveTree(root, tree);
}

int keystoreDeleteValue(int32_t root, const char* key, const char* name) {
    std::vector<std::string> levels;
    if (!validRoot(root) || !splitKey(key, &levels)) return kKeyBadArgument;
    std::lock_guard<std::mutex> lock(storeMutex);
    KeyTree tree;
    int r = loadTree(root, &tree);
    if (r < 0) return r;
    long index = findKey(tree, levels);
    if (index < 0) return kKeyMissing;
    std::vector<KeyValue>& values = tree[size_t(index)].values;
    std::string wanted = name ? name : "";
    for (size_t i = 0; i < values.size(); ++i) {
        if (sameName(values[i].name, wanted)) {
            values.erase(values.begin() + long(i));
            return saveTree(root, tree);
        }
    }
    return kKeyMissing;
}

int keystoreDeleteKey(int32_t root, const char* key) {
    std::vector<std::string> levels;
    if (!validRoot(root) || !splitKey(key, &levels) || levels.empty()) return kKeyBadArgument;
    std::lock_guard<std::mutex> lock(storeMutex);
    KeyTree tree;
    int r = loadTree(root, &tree);
    if (r < 0) return r;
    if (findKey(tree, levels) < 0) return kKeyMissing;
    KeyTree kept;
    for (KeyNode& node : tree) {
        if (!startsWith(node.levels, levels)) kept.push_back(std::move(node));
    }
    return saveTree(root, kept);
}
