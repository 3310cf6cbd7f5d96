#include "pocket/movechain.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "pocket/contourorient.h"
#include "pocket/elemaccess.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"

namespace {

MoveChunk* chunkCreate(int32_t capacity) {
    if (capacity < 1) return nullptr;
    MoveChunk* c = static_cast<MoveChunk*>(calloc(1, sizeof(MoveChunk)));
    if (!c) return nullptr;
    c->elements = static_cast<ContourElement*>(calloc(capacity, sizeof(ContourElement)));
    if (!c->elements) {
        free(c);
        return nullptr;
    }
    c->capacity = capacity;
    return c;
}

}  // namespace

MoveChain* moveChainCreate(int32_t capacity) {
    MoveChain* chain = static_cast<MoveChain*>(calloc(1, sizeof(MoveChain)));
    if (!chain) return nullptr;
    chain->head = chunkCreate(capacity);
    if (!chain->head) {
        free(chain);
        return nullptr;
    }
    return chain;
}

int moveChainAppend(MoveChain* chain, const ContourElement* element, int32_t tag) {
    if (!chain || !chain->head || !element) return -1;
    if (chain->head->count >= chain->head->capacity) {
        MoveChunk* c = chunkCreate(chain->head->capacity);
        if (!c) return -1;
        c->next = chain->head;
        chain->head = c;
    }
    ContourElement& e = chain->head->elements[chain->head->count++];
    e = *element;
    e.sourceTag = tag;
    return 1;
}

void moveChunksFree(MoveChunk* first) {
    while (first) {
        MoveChunk* next = first->next;
        free(first->elements);
        free(first);
        first = next;
    }
}

void moveChainFree(MoveChain* chain) {
    if (!chain) return;
    moveChunksFree(chain->head);
    free(chain);
}

void moveChainReverseEach(MoveChain* chain) {
    if (!chain) return;
    for (MoveChunk* c = chain->head; c; c = c->next)
        if (c->count > 0) contourReverse(c->elements, c->count);
}

int moveChainHasPoint(const MoveChain* chain, const Vec2* point) {
    if (!chain || !point) return 0;
    for (const MoveChunk* c = chain->head; c; c = c->next) {
        for (int32_t i = 0; i < c->count; ++i) {
            Vec2 s, e;
            elemPoint(&c->elements[i], &s, kElemStart);
            elemPoint(&c->elements[i], &e, kElemEnd);
            if (pointsEqual2D(&s, point) || pointsEqual2D(&e, point)) return 1;
        }
    }
    return 0;
}

int moveChainCovers(const MoveChunk* first, const ContourElement* element) {
    if (!element) return 0;
    Vec2 s, e, near;
    elemPoint(element, &s, kElemStart);
    elemPoint(element, &e, kElemEnd);
    for (const MoveChunk* c = first; c; c = c->next) {
        for (int32_t i = 0; i < c->count; ++i) {
            const ContourElement* x = &c->elements[i];
            if (elemDistance(&s, x, &near) <= 1e-5 && elemDistance(&e, x, &near) <= 1e-5) return 1;
        }
    }
    return 0;
}

MoveChunk* moveChunkFromRange(int32_t last, int32_t first, MoveChunk* next, const ContourElement* elements) {
    if (!elements || first < 0 || last < first) return nullptr;
    MoveChunk* c = chunkCreate(last - first + 1);
    if (!c) return nullptr;
    memcpy(c->elements, elements + first, (last - first + 1) * sizeof(ContourElement));
    c->count = last - first + 1;
    c->next = next;
    return c;
}

MoveChunk* listMaterialRuns(const char* list) {
    MoveChunk* head = nullptr;
    const int32_t n = clistCount(list);
    std::vector<ContourElement> chain;
    for (int32_t i = 0; i < n; ++i) {
        ContourHeader h{};
        if (clistGetHeader(list, &h, i) < 0 || h.elementCount < 1) continue;
        chain.resize(h.elementCount);
        clistGet(list, chain.data(), &h, i);
        const int32_t m = static_cast<int32_t>(h.elementCount);
        for (int32_t j = 0; j < m;) {
            if (chain[j].sourceTag < 0) {
                ++j;
                continue;
            }
            int32_t k = j;
            while (k + 1 < m && chain[k + 1].sourceTag >= 0) ++k;
            MoveChunk* c = moveChunkFromRange(k, j, head, chain.data());
            if (!c) {
                moveChunksFree(head);
                return nullptr;
            }
            head = c;
            j = k + 1;
        }
    }
    return head;
}
