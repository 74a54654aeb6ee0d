#include "XmlDom.h"
