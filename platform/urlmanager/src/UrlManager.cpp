#include <foundation/urlmanager/UrlManager.h>

namespace foundation::urlmanager {

const char* const QUILLBECK_DOT_COM = "QUILLBECK_DOT_COM";

UrlManager::~UrlManager() = default;

} // namespace foundation::urlmanager
