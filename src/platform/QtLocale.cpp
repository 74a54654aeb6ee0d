#include "QtLocale.h"
