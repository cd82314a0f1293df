// The program body's pieces: flag parsing, the conversion driver and its messages.
#include "frontend/CommandLine.h"
