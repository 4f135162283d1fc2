#include <telx/DataSource.h>

namespace telx {

void DataSource::setProduct(const std::string& product) {
    this->product = product;
}

void DataSource::setAppComponent(const std::string& appComponent) {
    this->appComponent = appComponent;
}

} // namespace telx
