#pragma once

#include <string>

namespace telx {

/// Who sends an event: the product and its component.
class DataSource {
public:
    DataSource() = default;

    void setProduct(const std::string& product);
    void setAppComponent(const std::string& appComponent);

    const std::string& getProduct() const noexcept { return product; }
    const std::string& getAppComponent() const noexcept { return appComponent; }

private:
    std::string product;
    std::string appComponent;
};

} // namespace telx
