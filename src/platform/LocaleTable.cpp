#include "LocaleTable.h"
