#include "Convert.h"
