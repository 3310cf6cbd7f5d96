#pragma once
#include "surfaces/a.h"
