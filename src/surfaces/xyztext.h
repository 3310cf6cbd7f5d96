// Three coordinates written as one text, "x,y,z".
#pragma once

// Reads up to three numbers separated by ","; the count read (0-3). Numbers not read are 0.
int parseXyzTriple(const char* text, double out[3]);
