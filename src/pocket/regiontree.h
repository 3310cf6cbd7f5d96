// The region tree of one machining plane: one node per closed ring, linked to
// the rings it lies in (parents) and the rings inside it (children), with the
// walk state of each node and the choice of the next open region.
#pragma once

#include <cstdint>

#include "geometry/vec.h"
#include "pocket/clist.h"
#include "pocket/savedblock.h"

enum : int32_t {
    kRegionMaxNodes = 4000,
    kRegionPoolWords = 4000,  // two words a link cell
};

// Walk states of a node.
enum : uint8_t {
    kRegionOpen = 0,
    kRegionFinished = 1,
    kRegionStacked = 2,
};

struct RegionNode {
    uint32_t elementCount;
    SavedBlock* elements;  // the ring's copy in the element store
    int32_t level;         // offset step: 0 for first rings, one more per step inward
    int32_t parentHead;    // the only parent, or the first parent cell of the pool
    int32_t childHead;
    int32_t parentCount;
    int32_t childCount;
    uint8_t done;
    uint8_t kind;      // 1: orientation agrees with the header's leftSide, else 2
    uint8_t openSide;  // an open-pocket ring holding a piece of an open side
};

// The attached ring nearest to the job's explicit start point.
struct RegionBestStart {
    double distance;  // 100000 until a ring is nearer
    int32_t node;
    int32_t element;  // 1-based
    Vec2 point;
    int32_t found;
};

int regionTreeInit(int32_t mode);  // mode 1: an empty tree; 1, or 0 without memory
int regionTreeFree();
int32_t regionNodeCount();
const RegionNode* regionNode(int32_t node);  // null outside the tree
const RegionBestStart* regionBestStart();

// Stores a copy of the header's elements as a new node: its index, or -1 when
// the tree is full or memory runs out.
int32_t regionAttachContour(const ContourElement* elements, const ContourHeader* header, int32_t parentHead,
                            int32_t level);
// Makes b a parent of a: a's new parent count, 0 when refused, -1 when the pool is full.
int32_t regionAddLink(int32_t a, int32_t b);
int32_t regionChild(int32_t node, int32_t i);  // 1-based; -1 outside
int32_t regionParent(int32_t node, int32_t i);
int regionIsChild(int32_t node, int32_t other);
int regionIsParent(int32_t node, int32_t other);
int32_t regionRemoveParent(int32_t node, int32_t parent);  // the new parent count
void regionSetDone(int32_t node, uint8_t state);           // a finished node stays finished
uint8_t regionIsDone(int32_t node);
int32_t regionFirstKind1Parent(int32_t node);
// The smallest parentless ancestor; 0 as soon as node 0 is reached, -1 without parents.
int32_t regionRootOf(int32_t node);
int32_t regionPickDeepest();     // -1 when every node is done
int32_t regionPickShallowest();  // -1 when every node is done
int regionLoadElements(ContourElement* buffer, int32_t count, SavedBlock* handle);
int regionSaveElements(const ContourElement* buffer, int32_t count, SavedBlock* handle);
// After a ring was saved back with another element count: 1, or 0 outside the tree.
int regionSetElementCount(int32_t node, uint32_t count);

// The nearest element to the point (first on ties): its distance, or 0 and no output for an empty chain.
double contourNearestToPoint(const ContourElement* elements, int32_t n, const Vec2* point, Vec2* nearest,
                             int32_t* index);
int contourHasNegativeTag(const ContourElement* elements, int32_t n);

void regionTreeResetState();
