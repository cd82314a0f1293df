// Compound files: recognising and opening them, and their streams as byte streams.
#include "storage/TDocFile_U1.h"
