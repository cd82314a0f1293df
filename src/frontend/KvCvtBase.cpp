// Output helpers shared by every extractor.
#include "frontend/KvCvtBase.h"
