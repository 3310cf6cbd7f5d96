#include "kernel/base/kvx/kvlist.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "kernel/base/cfgfile.h"
#include "kernel/base/mem.h"
#include "kernel/base/msg.h"

namespace {

KvList* findFirst(const KvList* list, const char* key) {
    for (const KvList* n = list; n; n = n->next) {
        if (strcmp(n->key, key) == 0) return const_cast<KvList*>(n);
    }
    return nullptr;
}

KvList* findLast(const KvList* list, const char* key) {
    KvList* found = nullptr;
    for (const KvList* n = list; n; n = n->next) {
        if (strcmp(n->key, key) == 0) found = const_cast<KvList*>(n);
    }
    return found;
}

// Memory short where the caller's result cannot tell it from a variable that is not there: a value
// read as missing, or a pair that never went in, would change the run without a word.
void memoryShort() {
    msgFault("memory");
}

char* copyValue(const KvList* node, uint16_t* type) {
    if (!node) return nullptr;
    char* copy = strDup(node->value);
    if (!copy) memoryShort();
    if (copy && type) *type = node->type;
    return copy;
}

}  // namespace

KvList* kvListSet(KvList* list, const char* key, const char* value, uint16_t type) {
    if (!key || !*key || !value || !*value) return list;
    if (KvList* node = findFirst(list, key)) {
        char* copy = strDup(value);
        if (!copy) {
            memoryShort();
            return list;
        }
        free(node->value);
        node->value = copy;
        node->type = type;
        return list;
    }
    KvList* node = static_cast<KvList*>(memCalloc(sizeof(KvList)));
    if (!node) {
        memoryShort();
        return list;
    }
    node->key = strDup(key);
    node->value = strDup(value);
    if (!node->key || !node->value) {
        free(node->key);
        free(node->value);
        free(node);
        memoryShort();
        return list;
    }
    node->type = type;
    node->next = list;
    return node;
}

KvList* kvListAddPair(KvList* list, KvPair* pair, uint16_t type) {
    if (!pair || !pair->key || !*pair->key || !pair->value || !*pair->value) return list;
    if (KvList* node = findFirst(list, pair->key)) {
        free(node->value);
        node->value = pair->value;
        node->type = type;
        pair->value = nullptr;
        return list;
    }
    KvList* node = static_cast<KvList*>(memCalloc(sizeof(KvList)));
    if (!node) {
        memoryShort();
        return list;
    }
    node->key = pair->key;
    node->value = pair->value;
    node->type = type;
    node->next = list;
    pair->key = nullptr;
    pair->value = nullptr;
    return node;
}

KvList* kvListAppendAfter(KvList* last, const char* key, const char* value, uint16_t type) {
    if (!key || !*key) return nullptr;
    KvList* node = static_cast<KvList*>(memCalloc(sizeof(KvList)));
    if (!node) {
        memoryShort();
        return nullptr;
    }
    node->key = strDup(key);
    node->value = strDup(value ? value : "");
    if (!node->key || !node->value) {
        free(node->key);
        free(node->value);
        free(node);
        memoryShort();
        return nullptr;
    }
    node->type = type;
    if (last) {
        node->next = last->next;
        last->next = node;
    }
    return node;
}

KvList* kvListAppend(KvList* list, const char* key, const char* value, uint16_t type) {
    KvList* tail = list;
    while (tail && tail->next) tail = tail->next;
    KvList* node = kvListAppendAfter(tail, key, value, type);
    return list ? list : node;
}

char* kvListGet(const KvList* list, const char* key, uint16_t* type) {
    return key ? copyValue(findFirst(list, key), type) : nullptr;
}

char* kvListGetLast(const KvList* list, const char* key, uint16_t* type) {
    return key ? copyValue(findLast(list, key), type) : nullptr;
}

int kvListGetBuf(const KvList* list, const char* key, char* buffer, size_t maxLength) {
    const KvList* node = key ? findFirst(list, key) : nullptr;
    if (!node) return 0;
    size_t n = strnlen(node->value, maxLength);
    memcpy(buffer, node->value, n);
    buffer[n] = '\0';
    return 1;
}

void kvListFree(KvList* list) {
    while (list) {
        KvList* next = list->next;
        free(list->key);
        free(list->value);
        free(list);
        list = next;
    }
}

KvList* kvListLoad(KvList* list, const char* fileName, uint16_t type) {
    FILE* file = cfgFileOpen(fileName);
    if (!file) return list;
    KvPair pair = {nullptr, nullptr};
    while (cfgFileReadPair(file, &pair)) list = kvListAddPair(list, &pair, type);
    free(pair.key);
    free(pair.value);
    cfgFileClose(file);
    return list;
}

namespace {

// The reader knows these escapes in quoted values; a raw line end or tab would
// end or bend the value when the file is read back.
void putQuotedValue(std::string& out, const char* value) {
    out += '"';
    for (const char* p = value; *p; ++p) {
        switch (*p) {
            case '"':
            case '\\':
                out += '\\';
                out += *p;
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
            case '\b':
                out += "\\b";
                break;
            default:
                out += *p;
        }
    }
    out += '"';
}

// The byte 26 ends a file for the reader wherever it stands.
bool hasEndByte(const char* text) {
    return strchr(text, 26) != nullptr;
}

// A quoted key is read up to the next quote with no escapes, so a key holding a
// quote is written bare, which the reader ends at a blank or a colon and never
// begins with a quote or a comment. False when neither form reads back as the key.
bool putKey(std::string& out, const char* key) {
    if (hasEndByte(key) || strpbrk(key, "\r\n")) return false;
    if (!strchr(key, '"')) {
        out += '"';
        out += key;
        out += '"';
        return true;
    }
    if (key[0] == '"' || key[0] == ';' || strpbrk(key, " \t:")) return false;
    out += key;
    return true;
}

constexpr int kTempTries = 100;  // names "<target>.tmp", "<target>.tmp1", ... tried for the new text
constexpr int kLinkHops = 40;    // longer chains of links are taken as a loop

// The file a name stands for: each link followed to the name it holds (which need not exist yet);
// empty for a chain of links that does not end.
std::filesystem::path linkTarget(const char* fileName) {
    std::filesystem::path p = fileName;
    for (int hop = 0; hop < kLinkHops; ++hop) {
        std::error_code ec;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(p, ec))) return p;
        std::filesystem::path to = std::filesystem::read_symlink(p, ec);
        if (ec) return {};
        p = to.is_absolute() ? to : p.parent_path() / to;
    }
    return {};
}

bool writeAll(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

int kvListWrite(const char* fileName, const KvList* list) {
    if (!list) return -1;
    if (!fileName || !*fileName) return -2;
    std::string text = "\n\n";
    int count = 0;
    for (const KvList* n = list; n; n = n->next) {
        text += "   ";
        // A pair the file cannot carry would be lost on the next load without a
        // word: the write is refused whole and the previous file stays.
        if (!putKey(text, n->key) || hasEndByte(n->value)) return -2;
        text += " := ";
        putQuotedValue(text, n->value);
        text += '\n';
        ++count;
    }
    // Written beside the target and renamed over it, so that a failed write leaves the previous file
    // whole. The target is the file a link names (the link stays a link), and the file written first is
    // one this call creates: a file or link of that name that is there already is never written through.
    const std::filesystem::path target = linkTarget(fileName);
    if (target.empty()) return -2;
    struct stat previous;
    const bool replaces = stat(target.c_str(), &previous) == 0;
    std::string temp;
    int fd = -1;
    for (int k = 0; k < kTempTries && fd < 0; ++k) {
        temp = target.string() + ".tmp" + (k ? std::to_string(k) : "");
        fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        if (fd < 0 && errno != EEXIST) return -2;
    }
    if (fd < 0) return -2;
    // The replaced file's permissions carry over: a private file stays private.
    bool ok = !replaces || fchmod(fd, previous.st_mode & 07777) == 0;
    ok = writeAll(fd, text) && ok;
    ok = (close(fd) == 0) && ok;
    if (!ok || rename(temp.c_str(), target.c_str()) != 0) {
        unlink(temp.c_str());
        return -2;
    }
    return count;
}
