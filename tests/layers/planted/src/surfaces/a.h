// Planted: two folders of one layer including each other.
#pragma once
#include "surfaces/KVWISO/b.h"
