#include <telx/DataIdentification.h>

namespace telx {

void DataIdentification::setEventKey(const std::string& eventKey) {
    this->eventKey = eventKey;
}

} // namespace telx
