// Name tries: a sibling list per node, kept in descending character order.
#include "kernel/base/kvx/nametrie.h"

#include <cstdlib>

#include "kernel/base/mem.h"

namespace {

// The first child whose character is not greater than c (null at the end), and the link that
// points at it, so that a new node can be put in front of it.
NameTrieNode* findPlace(NameTrieNode** head, unsigned char c, NameTrieNode*** link) {
    NameTrieNode** at = head;
    while (*at != nullptr && (*at)->c > c) at = &(*at)->sibling;
    *link = at;
    return *at;
}

// Iterative, as a long name is a long chain, and without memory of its own: a free that needs memory
// would fail when memory is short. Each node's children are spliced in front of its siblings, so
// every node is met once on the one chain.
void freeNodes(NameTrieNode* first) {
    NameTrieNode* n = first;
    while (n != nullptr) {
        if (n->child != nullptr) {
            NameTrieNode* last = n->child;
            while (last->sibling != nullptr) last = last->sibling;
            last->sibling = n->sibling;
            n->sibling = n->child;
            n->child = nullptr;
        }
        NameTrieNode* next = n->sibling;
        std::free(n);
        n = next;
    }
}

}  // namespace

NameTrie* nameTrieCreate() {
    return static_cast<NameTrie*>(memCalloc(sizeof(NameTrie)));
}

int32_t nameTrieInsert(NameTrie* trie, const char* name) {
    if (trie == nullptr || name == nullptr || name[0] == '\0') return 0;
    NameTrieNode** children = &trie->child;
    NameTrieNode* parent = nullptr;
    const unsigned char* s = reinterpret_cast<const unsigned char*>(name);
    for (; *s != '\0'; ++s) {
        NameTrieNode** link = nullptr;
        NameTrieNode* hit = findPlace(children, *s, &link);
        if (hit == nullptr || hit->c != *s) break;
        parent = hit;
        children = &hit->child;
    }
    NameTrieNode* node = parent;
    if (*s != '\0') {
        // The rest of the name hangs below as one chain, built before it is linked in so that a
        // shortage of memory leaves the trie untouched.
        NameTrieNode* chain = nullptr;
        NameTrieNode* tail = nullptr;
        for (const unsigned char* r = s; *r != '\0'; ++r) {
            auto* n = static_cast<NameTrieNode*>(memCalloc(sizeof(NameTrieNode)));
            if (n == nullptr) {
                freeNodes(chain);
                return -1;
            }
            n->c = *r;
            if (tail == nullptr) {
                chain = n;
                n->parent = parent;
            } else {
                tail->child = n;
                n->parent = tail;
            }
            tail = n;
        }
        NameTrieNode** link = nullptr;
        findPlace(children, *s, &link);
        chain->sibling = *link;
        *link = chain;
        node = tail;
    }
    if (node->index != 0) return node->index;
    node->index = ++trie->count;
    if (trie->lastIndexed == nullptr)
        trie->firstIndexed = node;
    else
        trie->lastIndexed->nextIndexed = node;
    trie->lastIndexed = node;
    return node->index;
}

int32_t nameTrieFind(const NameTrie* trie, const char* name) {
    if (trie == nullptr || name == nullptr || name[0] == '\0') return 0;
    const NameTrieNode* node = nullptr;
    const NameTrieNode* children = trie->child;
    for (const unsigned char* s = reinterpret_cast<const unsigned char*>(name); *s != '\0'; ++s) {
        node = children;
        while (node != nullptr && node->c != *s) node = node->sibling;
        if (node == nullptr) return 0;
        children = node->child;
    }
    return node->index;
}

void nameTrieFree(NameTrie* trie) {
    if (trie == nullptr) return;
    freeNodes(trie->child);
    std::free(trie);
}
