// Character tries that number the names registered in them: 1, 2, 3 ... in insertion order.
#pragma once

#include <cstdint>

struct NameTrieNode {
    unsigned char c;
    int32_t index;  // 0 when no name ends here
    NameTrieNode* parent;
    NameTrieNode* sibling;  // siblings run in descending character order
    NameTrieNode* child;
    NameTrieNode* nextIndexed;  // the named nodes in ascending index order
};

struct NameTrie {
    int32_t count;
    NameTrieNode* child;
    NameTrieNode* firstIndexed;
    NameTrieNode* lastIndexed;
};

NameTrie* nameTrieCreate();  // null when memory is short
// The name's index (the existing one for a known name), 0 for an empty or missing name, -1 when
// memory is short (the trie is left as it was).
int32_t nameTrieInsert(NameTrie* trie, const char* name);
int32_t nameTrieFind(const NameTrie* trie, const char* name);  // the index, or 0
void nameTrieFree(NameTrie* trie);                             // accepts null
