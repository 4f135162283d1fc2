#ifndef CPPMICROSERVICES_FRAMEWORKEXPORT_H
#define CPPMICROSERVICES_FRAMEWORKEXPORT_H

#include "cppmicroservices/GlobalConfig.h"

#define US_Framework_EXPORT US_ABI_EXPORT
#define US_Framework_IMPORT US_ABI_IMPORT
#define US_Framework_NO_EXPORT US_ABI_LOCAL

#endif
