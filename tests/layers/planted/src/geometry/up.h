// Planted: geometry reaching up to a cycle.
#pragma once
#include "plunge/run.h"
