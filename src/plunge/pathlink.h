// Links between the lead-ins of two neighbouring plunge paths: both lead-ins are turned about the
// part axis (z) so that they end at one common point between the paths' first cut segments.
#pragma once

struct Plist;

// Both lists change in place: 1, or -1 (both unchanged) when either has no lead-in followed by a cut.
int linkPathEnds(Plist* a, Plist* b);
