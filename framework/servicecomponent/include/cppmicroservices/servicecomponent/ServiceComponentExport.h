#ifndef CPPMICROSERVICES_SERVICECOMPONENT_EXPORT_H
#define CPPMICROSERVICES_SERVICECOMPONENT_EXPORT_H

#define US_ServiceComponent_EXPORT __attribute__((visibility("default")))

#endif
