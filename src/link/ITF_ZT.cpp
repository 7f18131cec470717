#include "link/ITF_ZT.h"
