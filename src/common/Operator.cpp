#include "common/Operator.h"
